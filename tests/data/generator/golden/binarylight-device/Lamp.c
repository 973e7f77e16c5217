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

#include "SwitchPower_CB.h"
/* comment this if you want to use file system */
#define NO_FILE_SYS

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

static FileInfo LampFiles[] = {
	{ WEB_PATH "BinaryLight.xml", LampDesc_xml },
	{ WEB_PATH "SwitchPower.xml", SwitchPower_xml },
};
#define FILE_COUNT (sizeof(LampFiles) / sizeof(LampFiles[0]))
#else
#define LOCAL_PATH "examples/binarylight"
#endif

/* Serves MT_READ_FILE: the stack asks for a file piece by piece. */
QN_RET LampOnReadFile(QN_ENTITY entity, void *arg)
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
			if (strcmp(LampFiles[i].url, info->fileName) == 0)
				file = &LampFiles[i];
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

typedef struct ActionCallback {
	const char *name;
	QN_RET (*func)(QNApiAction *action);
} ActionCallback;

typedef struct QueryCallback {
	const char *name;
	QN_RET (*func)(QNNameVal *nv);
} QueryCallback;

/* MT_DEV_ACTION: the callback of the action, by its exact name. */
QN_RET LampOnActionReq(QN_ENTITY entity, void *arg)
{
	static const ActionCallback callbacks[] = {
		{ "SetTarget", qnActionCB_SetTarget },
		{ "GetTarget", qnActionCB_GetTarget },
		{ "GetStatus", qnActionCB_GetStatus },
		{ NULL, NULL }
	};
	QNApiAction *action = (QNApiAction *)arg;
	int i;

	(void)entity;
	if (action == NULL)
		return QN_ERR_ARG;
	for (i = 0; callbacks[i].name != NULL; i++) {
		if (strcmp(callbacks[i].name, action->action) == 0)
			return callbacks[i].func(action);
	}
	return QN_ERR;
}

/* MT_DEV_GET_VAR: the callback of the state variable, by its exact name. */
QN_RET LampOnGetVarVal(QN_ENTITY entity, void *arg)
{
	static const QueryCallback callbacks[] = {
		{ "Target", qnQueryCB_Target },
		{ "Status", qnQueryCB_Status },
		{ NULL, NULL }
	};
	QNNameVal *nv = (QNNameVal *)arg;
	int i;

	(void)entity;
	if (nv == NULL)
		return QN_ERR_ARG;
	for (i = 0; callbacks[i].name != NULL; i++) {
		if (strcmp(callbacks[i].name, nv->name) == 0)
			return callbacks[i].func(nv);
	}
	return QN_ERR;
}

QN_RET LampOnWebFileDownloaded(QN_ENTITY entity, void *arg)
{
	(void)entity;
	(void)arg;
	return QN_OK;
}

QN_RET LampOnAlive(QN_ENTITY entity, void *arg)
{
	(void)entity;
	(void)arg;
	return QN_OK;
}

QN_RET LampOnByebye(QN_ENTITY entity, void *arg)
{
	(void)entity;
	(void)arg;
	return QN_OK;
}

QN_RET LampOnEvent(QN_ENTITY entity, void *arg)
{
	(void)entity;
	(void)arg;
	return QN_OK;
}

/* The entity's message handler; the stack calls it on its server thread. */
QN_RET LampOnMsgRecved(QN_ENTITY entity, int32_t type, QN_COOKIE cookie, void *arg)
{
	(void)cookie;
	switch (type) {
	case MT_READ_FILE:
		return LampOnReadFile(entity, arg);
	case MT_DEV_ACTION:
		return LampOnActionReq(entity, arg);
	case MT_DEV_GET_VAR:
		return LampOnGetVarVal(entity, arg);
	case MT_CP_ALIVE:
		return LampOnAlive(entity, arg);
	case MT_CP_BYEBYE:
		return LampOnByebye(entity, arg);
	case MT_CP_EVENT:
		return LampOnEvent(entity, arg);
	default:
		return QN_OK;
	}
}

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
int LampDev(void)
#elif defined(_WIN32_WCE)
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPTSTR lpCmdLine, int nCmdShow)
#else
int main(void)
#endif
{
	QNApiDevSettings settings = {
		"",  /* ipAddr: empty for the host's address */
		80,  /* httpPort */
		80,  /* soapPort */
		LOCAL_PATH,
		WEB_PATH,
		DESC_XML_FILE,
		LampOnMsgRecved,
		20,  /* adPeriod */
		"Corvanta UPnP Device",
		0  /* noFileService */
	};
	QN_DEVICE dev;
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
	dev = qnAddDevice(&settings);
	if (dev == QN_INVALID_DEVICE) {
		qnSdkClean();
		return -1;
	}
	qnChangeEntityState(dev, ES_RUNNING);
	qnSdkRun();
#if !defined(NO_THREAD)
	waitForExit();
#endif
	qnSdkClean();
	return 0;
}
