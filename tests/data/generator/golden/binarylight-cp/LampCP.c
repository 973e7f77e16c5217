/*
 * This file is generated automatically by Zentrova Tool QNGen/QNGenGui
 */

#if defined(_QN_POSIX_) && !defined(_POSIX_C_SOURCE)
#define _POSIX_C_SOURCE 200112L
#endif
#include <string.h>
#include <stdio.h>
#if defined(VXWORKS)
#include <vxWorks.h>
#include <taskLib.h>
#elif defined(_WIN32_WCE)
#include <windows.h>
#define NO_THREAD
#elif defined(_WIN32)
#include <windows.h>
#include <process.h>
#elif defined(_QN_POSIX_)
#include <pthread.h>
#endif
#include "qnSdkApi.h"

#if defined(NO_THREAD)
#define THREAD_FUNC NULL
#else
#define THREAD_FUNC qnCreateThread
#endif

/* comment this if you do NOT want to use command loop */
#define COMMAND_LOOP

#define WEB_PATH "/"
#define DESC_XML_FILE "BinaryLight.xml"

#if defined(NO_FILE_SYS)
#define LOCAL_PATH ""

static char LampDesc_xml[] = 
#include "BinaryLight_xml.h"
;
static char SwitchPower_xml[] = 
#include "SwitchPower_xml.h"
;

typedef struct FileInfo {
	const char *url;
	const char *buf;
} FileInfo;

static FileInfo LampCPFiles[] = {
	{ WEB_PATH "BinaryLight.xml", LampDesc_xml },
	{ WEB_PATH "SwitchPower.xml", SwitchPower_xml },
};
#define FILE_COUNT (sizeof(LampCPFiles) / sizeof(LampCPFiles[0]))
#else
#define LOCAL_PATH "examples/binarylight"
#endif

/* Serves MT_READ_FILE: the stack asks for a file piece by piece. */
QN_RET LampCPOnReadFile(QN_ENTITY entity, void *arg)
{
	static char curName[QN_VAL_MAX_LEN];
	static long curPos = 0;
	QNApiFileInfo *info = (QNApiFileInfo *)arg;
	long size = 0;
	long len = 0;

	(void)entity;
	if (info == NULL || info->fileName == NULL || info->buf == NULL || info->bufLen <= 0)
		return QN_ERR_ARG;
	if (info->fileSize == 0 || strcmp(curName, info->fileName) != 0) {
		snprintf(curName, sizeof curName, "%s", info->fileName);
		curPos = 0;
	}
#if defined(NO_FILE_SYS)
	{
		const FileInfo *file = NULL;
		size_t i;

		for (i = 0; i < FILE_COUNT && file == NULL; i++) {
			if (strcmp(LampCPFiles[i].url, info->fileName) == 0)
				file = &LampCPFiles[i];
		}
		if (file == NULL)
			return QN_ERR;
		size = (long)strlen(file->buf);
		if (curPos < size) {
			len = size - curPos;
			if (len > info->bufLen)
				len = info->bufLen;
			memcpy(info->buf, file->buf + curPos, (size_t)len);
		}
	}
#else
	{
		char path[QN_VAL_MAX_LEN * 2];
		const char *local = LOCAL_PATH;
		size_t localLen = strlen(local);
		const char *name = info->fileName;
		const char *sep = "";
		FILE *fp;

		if (strncmp(name, WEB_PATH, strlen(WEB_PATH)) == 0)
			name += strlen(WEB_PATH);
		/* Only files below LOCAL_PATH are served. */
		if (strstr(name, "..") != NULL)
			return QN_ERR;
		if (localLen > 0 && local[localLen - 1] != '/' && name[0] != '/')
			sep = "/";
		snprintf(path, sizeof path, "%s%s%s", local, sep, name);
		fp = fopen(path, "rb");
		if (fp == NULL)
			return QN_ERR;
		if (fseek(fp, 0, SEEK_END) == 0)
			size = ftell(fp);
		if (size > curPos && fseek(fp, curPos, SEEK_SET) == 0)
			len = (long)fread(info->buf, 1, (size_t)info->bufLen, fp);
		fclose(fp);
	}
#endif
	if (len <= 0)
		return QN_ERR;
	curPos += len;
	info->fileSize = (int32_t)size;
	info->bufLen = (int32_t)len;
	return QN_OK;
}

QN_RET LampCPOnWebFileDownloaded(QN_ENTITY entity, void *arg)
{
	(void)entity;
	(void)arg;
	return QN_OK;
}

QN_RET LampCPOnAlive(QN_ENTITY entity, void *arg)
{
	(void)entity;
	(void)arg;
	return QN_OK;
}

QN_RET LampCPOnByebye(QN_ENTITY entity, void *arg)
{
	(void)entity;
	(void)arg;
	return QN_OK;
}

QN_RET LampCPOnEvent(QN_ENTITY entity, void *arg)
{
	(void)entity;
	(void)arg;
	return QN_OK;
}

/* The entity's message handler; the stack calls it on its server thread. */
QN_RET LampCPOnMsgRecved(QN_ENTITY entity, int32_t type, QN_COOKIE cookie, void *arg)
{
	(void)cookie;
	switch (type) {
	case MT_READ_FILE:
		return LampCPOnReadFile(entity, arg);
	case MT_CP_ALIVE:
		return LampCPOnAlive(entity, arg);
	case MT_CP_BYEBYE:
		return LampCPOnByebye(entity, arg);
	case MT_CP_EVENT:
		return LampCPOnEvent(entity, arg);
	default:
		return QN_OK;
	}
}

#if defined(COMMAND_LOOP)
/* Deepest device nesting that "show" prints. */
#define SHOW_MAX_LEVEL 16

static void showIndent(int level)
{
	int i;

	for (i = 0; i < level; i++)
		printf("  ");
}

/* Reads one line after the prompt into buf, without its line end.
 * Returns 0 at the end of the input. */
static int readLine(const char *prompt, char *buf, int size)
{
	size_t len;

	printf("%s", prompt);
	fflush(stdout);
	if (fgets(buf, size, stdin) == NULL) {
		buf[0] = '\0';
		return 0;
	}
	len = strlen(buf);
	while (len > 0 && (buf[len - 1] == '\n' || buf[len - 1] == '\r'))
		buf[--len] = '\0';
	return 1;
}

/* Cuts the next blank-separated word out of *rest, in place; "" when none. */
static char *nextWord(char **rest)
{
	char *word = *rest;
	char *end;

	while (*word == ' ' || *word == '\t')
		word++;
	end = word;
	while (*end != '\0' && *end != ' ' && *end != '\t' && *end != '\r' && *end != '\n')
		end++;
	*rest = end;
	if (*end != '\0') {
		*end = '\0';
		*rest = end + 1;
	}
	return word;
}

static const char *directionText(int32_t direction)
{
	switch (direction) {
	case AD_IN:
		return "IN";
	case AD_OUT:
		return "OUT";
	case AD_INOUT:
		return "INOUT";
	default:
		return "UNKNOWN";
	}
}

static void showActionArg(QN_CONTROL_POINT cp, const char *actionName, int level)
{
	QNApiAction action;
	int i;

	memset(&action, 0, sizeof action);
	snprintf(action.action, sizeof action.action, "%s", actionName);
	if (qnGetActionArgs(cp, &action) != QN_OK)
		return;
	for (i = 0; i < action.argNum && i < QN_ARG_MAX_NUM; i++) {
		showIndent(level);
		printf("arg %d[%s]: %s\r\n", i, directionText(action.argDirection[i]), action.argNV[i].name);
	}
}

static void showAction(QN_CONTROL_POINT cp, const char *servType, int level, int deep)
{
	const char *list[QN_ARG_MAX_NUM];
	int32_t count = QN_ARG_MAX_NUM;
	int32_t i;

	/* The listed names point into the model, which the server thread may
	 * replace at any time: read it under the model lock. */
	qnLockModel();
	if (qnGetActionList(cp, servType, list, &count) == QN_OK)
		for (i = 0; i < count; i++) {
			showIndent(level);
			printf("action %d: %s\r\n", (int)i, list[i]);
			if (deep)
				showActionArg(cp, list[i], level + 1);
		}
	qnUnlockModel();
}

static void showVar(QN_CONTROL_POINT cp, const char *servType, int level)
{
	const char *list[QN_ARG_MAX_NUM];
	int32_t count = QN_ARG_MAX_NUM;
	int32_t i;

	qnLockModel();
	if (qnGetVarList(cp, servType, list, NULL, &count) == QN_OK)
		for (i = 0; i < count; i++) {
			showIndent(level);
			printf("var %d: %s\r\n", (int)i, list[i]);
		}
	qnUnlockModel();
}

static void showServ(QN_CONTROL_POINT cp, const char *devType, int level, int deep)
{
	const char *list[QN_ARG_MAX_NUM];
	int32_t count = QN_ARG_MAX_NUM;
	int32_t i;

	qnLockModel();
	if (qnGetServList(cp, devType, list, &count) == QN_OK)
		for (i = 0; i < count; i++) {
			showIndent(level);
			printf("serv %d: %s\r\n", (int)i, list[i]);
			if (deep) {
				showAction(cp, list[i], level + 1, deep);
				showVar(cp, list[i], level + 1);
			}
		}
	qnUnlockModel();
}

/* The root device for an empty devType, else the devices embedded in the
 * first device of that type; with deep, each with everything below it. */
static void showDev(QN_CONTROL_POINT cp, const char *devType, int level, int deep)
{
	const char *list[QN_ARG_MAX_NUM];
	int32_t count = QN_ARG_MAX_NUM;
	int32_t i;

	if (level > SHOW_MAX_LEVEL)
		return;
	qnLockModel();
	if (qnGetDevList(cp, devType, list, &count) == QN_OK)
		for (i = 0; i < count; i++) {
			showIndent(level);
			printf("dev %d: %s\r\n", (int)i, list[i]);
			if (deep) {
				showServ(cp, list[i], level + 1, deep);
				showDev(cp, list[i], level + 1, deep);
			}
		}
	qnUnlockModel();
}

static void showCP(QN_CONTROL_POINT cp)
{
	showDev(cp, "", 0, 1);
}

static void showHelp(void)
{
	printf("commands:\r\n");
	printf("  help                 this list\r\n");
	printf("  ld [dev]             devices (the root device, or those in dev)\r\n");
	printf("  ls [dev]             services of a device (the root device by default)\r\n");
	printf("  la serv              actions of a service\r\n");
	printf("  lg action            arguments of an action\r\n");
	printf("  lv serv              state variables of a service\r\n");
	printf("  ea [serv [action]]   execute an action\r\n");
	printf("  qv [serv [var]]      query a state variable\r\n");
	printf("  show                 the whole description\r\n");
	printf("  exit                 end the program\r\n");
}

/* Copies word into buf, or asks for the text when word is empty. */
static void takeOrAsk(const char *word, const char *prompt, char *buf, int size)
{
	if (word[0] != '\0')
		snprintf(buf, (size_t)size, "%s", word);
	else
		readLine(prompt, buf, size);
}

/* Sends the in and inout arguments, asking for each value. */
static void executeAction(QN_CONTROL_POINT cp, const char *servWord, const char *actionWord)
{
	char serv[QN_VAL_MAX_LEN];
	char name[QN_NAME_MAX_LEN];
	char prompt[QN_NAME_MAX_LEN + 32];
	QNApiAction action;
	int i;
	int k = 0;

	takeOrAsk(servWord, "\r\nplease input serv: ", serv, sizeof serv);
	takeOrAsk(actionWord, "\r\npls input action name: ", name, sizeof name);
	memset(&action, 0, sizeof action);
	snprintf(action.action, sizeof action.action, "%s", name);
	if (qnGetActionArgs(cp, &action) != QN_OK) {
		printf("unable to do action %s\r\n", name);
		return;
	}
	for (i = 0; i < action.argNum && i < QN_ARG_MAX_NUM; i++) {
		if (action.argDirection[i] != AD_IN && action.argDirection[i] != AD_INOUT)
			continue;
		if (k != i) {
			action.argNV[k] = action.argNV[i];
			action.argDirection[k] = action.argDirection[i];
		}
		snprintf(prompt, sizeof prompt, "\r\nplease input val of %s: ", action.argNV[k].name);
		readLine(prompt, action.argNV[k].val, QN_VAL_MAX_LEN);
		k++;
	}
	action.argNum = (uint16_t)k;
	if (qnCPSoapAction(cp, serv, &action) != QN_OK) {
		printf("unable to do action %s\r\n", name);
		return;
	}
	printf("action %s ok\r\n", name);
	for (i = 0; i < action.argNum && i < QN_ARG_MAX_NUM; i++)
		printf("%s = %s\r\n", action.argNV[i].name, action.argNV[i].val);
}

static void queryVariable(QN_CONTROL_POINT cp, const char *servWord, const char *varWord)
{
	char serv[QN_VAL_MAX_LEN];
	char var[QN_NAME_MAX_LEN];
	QNApiAction query;

	takeOrAsk(servWord, "\r\nplease input serv: ", serv, sizeof serv);
	takeOrAsk(varWord, "\r\nplease input var name: ", var, sizeof var);
	memset(&query, 0, sizeof query);
	qnSetNVNameVal(&query.argNV[0], var, "");
	query.argNum = 1;
	if (qnCPSoapQuery(cp, serv, &query) != QN_OK) {
		printf("unable to query %s\r\n", var);
		return;
	}
	printf("%s = %s\r\n", var, query.argNV[0].val);
}
#endif
#if !defined(NO_THREAD) && !defined(COMMAND_LOOP)
/* Keeps the program alive until "exit" or the end of the input. */
static void waitForExit(void)
{
	char line[QN_VAL_MAX_LEN];

	for (;;) {
		printf("cmd> ");
		fflush(stdout);
		if (fgets(line, sizeof line, stdin) == NULL || strncmp(line, "exit", 4) == 0)
			break;
	}
}
#endif

#if !defined(NO_THREAD)
#if defined(_WIN32)
static QNThreadEntry qnThreadEntry = NULL;

static void __cdecl qnThreadStart(void *arg)
{
	qnThreadEntry(arg);
}
#endif

/* Starts the stack's server thread (QNApiSdkConfig.createThreadFunc). */
QN_RET qnCreateThread(QNThreadEntry func, int32_t stackSize)
{
#if defined(_WIN32)
	qnThreadEntry = func;
	if (_beginthread(qnThreadStart, (unsigned)stackSize, NULL) == (uintptr_t)-1L)
		return QN_ERR;
	return QN_OK;
#elif defined(VXWORKS)
	if (taskSpawn("QNTask", 200, 0, stackSize, (FUNCPTR)func, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0) == ERROR)
		return QN_ERR;
	return QN_OK;
#elif defined(_QN_POSIX_)
	pthread_t thread;
	pthread_attr_t attr;
	int rc;

	if (pthread_attr_init(&attr) != 0)
		return QN_ERR;
	/* A size below the system's minimum leaves the default. */
	(void)pthread_attr_setstacksize(&attr, (size_t)stackSize);
	pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
	rc = pthread_create(&thread, &attr, func, NULL);
	pthread_attr_destroy(&attr);
	return rc == 0 ? QN_OK : QN_ERR;
#else
#error "NOT support yet"
#endif
}
#endif

#if defined(VXWORKS)
int LampCP(void)
#elif defined(_WIN32_WCE)
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPTSTR lpCmdLine, int nCmdShow)
#else
int main(void)
#endif
{
	QNApiCtrlPointSettings settings = {
		CPT_DESC,
		DESC_XML_FILE,
		1,  /* notifyApp */
		"",  /* ipAddr: empty for the host's address */
		8888,  /* eventPort */
		0,  /* extraPort */
		"/LampCP",  /* eventPath */
		WEB_PATH,
		LampCPOnMsgRecved
	};
	QN_CONTROL_POINT cp;
	QNApiSdkConfig config = { 1, 0, 1024 * 64, THREAD_FUNC, 0, 0 };
	QN_RET ret;

#if defined(_WIN32_WCE)
	(void)hInstance;
	(void)hPrevInstance;
	(void)lpCmdLine;
	(void)nCmdShow;
#endif
	ret = qnSdkInit(&config);
	if (ret != QN_OK)
		return ret;
	cp = qnAddCtrlPoint(&settings, QN_INVALID_CONTROL_POINT);
	if (cp == QN_INVALID_CONTROL_POINT) {
		qnSdkClean();
		return -1;
	}
	qnChangeEntityState(cp, ES_RUNNING);
	qnSdkRun();
#if defined(COMMAND_LOOP)
	for (;;) {
		char line[QN_VAL_MAX_LEN];
		char asked[QN_VAL_MAX_LEN];
		char *rest = line;
		char *cmd;
		char *word1;
		char *word2;

		printf("\r\nZentrova>");
		fflush(stdout);
		if (fgets(line, sizeof line, stdin) == NULL)
			break;
		cmd = nextWord(&rest);
		word1 = nextWord(&rest);
		word2 = nextWord(&rest);
		if (strcmp(cmd, "exit") == 0)
			break;
		if (cmd[0] == '\0')
			continue;
		if (strcmp(cmd, "ld") == 0) {
			showDev(cp, word1, 0, 0);
		} else if (strcmp(cmd, "ls") == 0) {
			showServ(cp, word1, 0, 0);
		} else if (strcmp(cmd, "la") == 0) {
			takeOrAsk(word1, "\r\nplease input serv: ", asked, sizeof asked);
			showAction(cp, asked, 0, 0);
		} else if (strcmp(cmd, "lg") == 0) {
			takeOrAsk(word1, "\r\npls input action name: ", asked, sizeof asked);
			showActionArg(cp, asked, 0);
		} else if (strcmp(cmd, "lv") == 0) {
			takeOrAsk(word1, "\r\nplease input serv: ", asked, sizeof asked);
			showVar(cp, asked, 0);
		} else if (strcmp(cmd, "ea") == 0) {
			executeAction(cp, word1, word2);
		} else if (strcmp(cmd, "qv") == 0) {
			queryVariable(cp, word1, word2);
		} else if (strncmp(cmd, "sh", 2) == 0) {
			showCP(cp);
		} else {
			showHelp();
		}
	}
#elif !defined(NO_THREAD)
	waitForExit();
#endif
	qnSdkClean();
	return 0;
}
