/*
 * This file is generated automatically by Zentrova Tool QNGen/QNGenGui
 */

QN_RET qnActionCB_SetTarget(QNApiAction *action);
QN_RET qnActionCB_GetTarget(QNApiAction *action);
QN_RET qnActionCB_GetStatus(QNApiAction *action);

QN_RET qnQueryCB_Target(QNNameVal *nv);
QN_RET qnQueryCB_Status(QNNameVal *nv);

