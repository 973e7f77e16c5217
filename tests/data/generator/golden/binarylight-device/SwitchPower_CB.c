/*
 * This file is generated automatically by Zentrova Tool QNGen/QNGenGui
 */

#include <string.h>
#include <stdio.h>
#include "qnSdkApi.h"
#include "SwitchPower_CB.h"

QN_RET qnActionCB_SetTarget(QNApiAction *action)
{
	int i = 0;

	if (0 != strcmp(action->argNV[i ++].name, "newTargetValue"))
		return QN_ERR_ARG;

	// TODO: Add your extra code here
	// To refuse the request, set action->errCode to a UPnP error (600
	// Argument Value Invalid, 701 Transition not available, ...) and
	// action->errDesc to its text, and return QN_ERR: the SOAP fault
	// carries them (without them it is 501 XML error).

	i = 0;
	action->argNum = i;

	return QN_OK;
}

QN_RET qnActionCB_GetTarget(QNApiAction *action)
{
	int i = 0;

	// TODO: Add your extra code here
	// To refuse the request, set action->errCode to a UPnP error (600
	// Argument Value Invalid, 701 Transition not available, ...) and
	// action->errDesc to its text, and return QN_ERR: the SOAP fault
	// carries them (without them it is 501 XML error).

	qnSetNVNameVal(&action->argNV[i ++], "RetTargetValue", "tempVal0");
	action->argNum = i;

	return QN_OK;
}

QN_RET qnActionCB_GetStatus(QNApiAction *action)
{
	int i = 0;

	// TODO: Add your extra code here
	// To refuse the request, set action->errCode to a UPnP error (600
	// Argument Value Invalid, 701 Transition not available, ...) and
	// action->errDesc to its text, and return QN_ERR: the SOAP fault
	// carries them (without them it is 501 XML error).

	qnSetNVNameVal(&action->argNV[i ++], "ResultStatus", "tempVal0");
	action->argNum = i;

	return QN_OK;
}


QN_RET qnQueryCB_Target(QNNameVal *nv)
{
	qnSetNVVal(nv->val, "tempVal");
	return QN_OK;
}

QN_RET qnQueryCB_Status(QNNameVal *nv)
{
	qnSetNVVal(nv->val, "tempVal");
	return QN_OK;
}

