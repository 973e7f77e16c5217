/*
 * SwitchPower callbacks of a generated BinaryLight, filled in the way the
 * README tells a user to: the light keeps its target and status, SetTarget
 * switches it and tells every subscriber that Status changed.
 */

#include <string.h>
#include <stdio.h>
#include <strings.h>
#include "qnSdkApi.h"
#include "SwitchPower_CB.h"

#define SWITCH_POWER "urn:schemas-upnp-org:service:SwitchPower:1"
#define MAX_ENTITIES 16

static int target = 0;
static int status = 0;

static int parseBoolean(const char *text, int *value)
{
	if (strcmp(text, "1") == 0 || strcasecmp(text, "true") == 0 || strcasecmp(text, "yes") == 0)
		*value = 1;
	else if (strcmp(text, "0") == 0 || strcasecmp(text, "false") == 0 || strcasecmp(text, "no") == 0)
		*value = 0;
	else
		return -1;
	return 0;
}

/* The generated main keeps its device handle to itself; the program has
 * exactly one device, so the first device slot is it. */
static QN_DEVICE theDevice(void)
{
	QN_ENTITY entity;

	for (entity = 0; entity < MAX_ENTITIES; entity++)
		if (qnCheckDevice(entity) == QN_OK)
			return entity;
	return QN_INVALID_DEVICE;
}

static void announceStatus(void)
{
	QNNameVal var;

	memset(&var, 0, sizeof var);
	qnSetNVNameVal(&var, "Status", status ? "1" : "0");
	if (qnDevNotify(theDevice(), SWITCH_POWER, &var, 1) < 0)
		printf("filled: the event could not be sent\n");
}

QN_RET qnActionCB_SetTarget(QNApiAction *action)
{
	int value;

	if (action->argNum < 1 || strcmp(action->argNV[0].name, "newTargetValue") != 0)
		return QN_ERR_ARG;
	if (parseBoolean(action->argNV[0].val, &value) != 0) {
		/* The fault carries this error instead of 501 XML error. */
		action->errCode = 600;
		qnSetNVVal(action->errDesc, "Argument Value Invalid");
		return QN_ERR;
	}
	target = value;
	status = value;
	printf("filled: SetTarget %d\n", value);
	fflush(stdout);
	announceStatus();
	action->argNum = 0;
	return QN_OK;
}

QN_RET qnActionCB_GetTarget(QNApiAction *action)
{
	qnSetNVNameVal(&action->argNV[0], "RetTargetValue", target ? "1" : "0");
	action->argNum = 1;
	return QN_OK;
}

QN_RET qnActionCB_GetStatus(QNApiAction *action)
{
	qnSetNVNameVal(&action->argNV[0], "ResultStatus", status ? "1" : "0");
	action->argNum = 1;
	return QN_OK;
}

QN_RET qnQueryCB_Target(QNNameVal *nv)
{
	qnSetNVVal(nv->val, target ? "1" : "0");
	return QN_OK;
}

QN_RET qnQueryCB_Status(QNNameVal *nv)
{
	qnSetNVVal(nv->val, status ? "1" : "0");
	return QN_OK;
}
