/*
 * ctrlpoint.c - a small control point on the qnsdk stack.
 *
 * Loads a device description (and the SCPDs beside it) from disk as a
 * control point of kind CPT_DESC and prints the device tree that the stack's
 * queries show: devices, their services, each service's actions with the
 * directions of their arguments, and its state variables.
 *
 *   ctrlpoint DESCRIPTION.xml
 *
 * Nothing here touches the network: the stack opens its sockets only when
 * qnSdkRun is called, and this program never calls it.
 */
#include "qnSdkApi.h"

#include <stdio.h>
#include <string.h>

/* Embedded devices are addressed by type: a device that contains one of its
 * own type would be shown again and again. */
#define MAX_DEPTH 8

static const char *directionText(int32_t direction)
{
    switch (direction) {
    case AD_IN:
        return "in";
    case AD_OUT:
        return "out";
    case AD_INOUT:
        return "inout";
    default:
        return "?";
    }
}

static QN_RET handleMessage(QN_ENTITY entity, int32_t type, QN_COOKIE cookie, void *arg)
{
    (void)entity;
    (void)cookie;
    (void)arg;
    /* With a local path the files are read from disk, never asked for. */
    return type == MT_READ_FILE ? QN_ERR : QN_OK;
}

static void printAction(QN_CONTROL_POINT cp, const char *name, int indent)
{
    QNApiAction action;
    int i;
    memset(&action, 0, sizeof action);
    printf("%*saction %s(", indent, "", name);
    if (strlen(name) < sizeof action.action) {
        memcpy(action.action, name, strlen(name) + 1);
        if (qnGetActionArgs(cp, &action) == QN_OK)
            for (i = 0; i < action.argNum && i < QN_ARG_MAX_NUM; ++i)
                printf("%s%s %s", i > 0 ? ", " : "", directionText(action.argDirection[i]),
                       action.argNV[i].name);
    }
    printf(")\n");
}

static void printService(QN_CONTROL_POINT cp, const char *serviceType, int indent)
{
    const char *names[64];
    uint8_t evented[128];
    const char *vars[128];
    int32_t count = 64;
    int32_t i;

    printf("%*sservice %s\n", indent, "", serviceType);
    if (qnGetActionList(cp, serviceType, names, &count) == QN_OK)
        for (i = 0; i < count; ++i)
            if (names[i] != NULL)
                printAction(cp, names[i], indent + 2);
    count = 128;
    if (qnGetVarList(cp, serviceType, vars, evented, &count) == QN_OK)
        for (i = 0; i < count; ++i)
            if (vars[i] != NULL)
                printf("%*svariable %s%s\n", indent + 2, "", vars[i], evented[i] ? " (evented)" : "");
}

/* The value of one field of a device, or "" when it has none. */
static const char *deviceField(QN_CONTROL_POINT cp, const char *deviceType, const char *field)
{
    const char *names[32];
    const char *values[32];
    int32_t count = 32;
    int32_t i;
    if (qnGetDevInfo(cp, deviceType, names, values, &count) == QN_OK)
        for (i = 0; i < count; ++i)
            if (names[i] != NULL && values[i] != NULL && strcmp(names[i], field) == 0)
                return values[i];
    return "";
}

/* deviceType is "" for the root device. */
static void printDevice(QN_CONTROL_POINT cp, const char *deviceType, int depth)
{
    const char *list[16];
    int32_t count = 16;
    int32_t i;
    int indent = depth * 2;
    const char *ownType = deviceField(cp, deviceType, "deviceType");

    printf("%*sdevice %s \"%s\"\n", indent, "", ownType, deviceField(cp, deviceType, "friendlyName"));
    if (qnGetServList(cp, deviceType, list, &count) == QN_OK)
        for (i = 0; i < count; ++i)
            if (list[i] != NULL)
                printService(cp, list[i], indent + 2);
    count = 16;
    if (ownType[0] == '\0' || depth >= MAX_DEPTH || qnGetDevList(cp, ownType, list, &count) != QN_OK)
        return;
    for (i = 0; i < count; ++i)
        if (list[i] != NULL)
            printDevice(cp, list[i], depth + 1);
}

/* Settings of a CPT_DESC control point for the description file at path:
 * its directory and name, the SCPDs beside it. */
static int fillSettings(QNApiCtrlPointSettings *s, const char *path)
{
    const char *slash = strrchr(path, '/');
    if (strlen(path) >= sizeof s->localPath)
        return -1;
    memset(s, 0, sizeof *s);
    s->cpType = CPT_DESC;
    s->notifyApp = 1;
    memcpy(s->ipAddr, "127.0.0.1", sizeof "127.0.0.1");
    s->eventPort = 30808;
    memcpy(s->eventPath, "/event", sizeof "/event");
    s->msgHandler = handleMessage;
    if (slash == NULL) {
        memcpy(s->localPath, ".", 2);
        memcpy(s->descFile, path, strlen(path) + 1);
    } else {
        if (slash == path)
            memcpy(s->localPath, "/.", 3); /* an empty path would mean "ask the handler" */
        else
            memcpy(s->localPath, path, (size_t)(slash - path));
        memcpy(s->descFile, slash + 1, strlen(slash + 1) + 1);
    }
    return 0;
}

int main(int argc, char **argv)
{
    QNApiSdkConfig config = {1, 0, 65536, NULL, 0, 0};
    QNApiCtrlPointSettings s;
    QN_CONTROL_POINT cp;

    if (argc != 2) {
        fprintf(stderr, "usage: ctrlpoint DESCRIPTION.xml\n");
        return 2;
    }
    if (fillSettings(&s, argv[1]) != 0) {
        fprintf(stderr, "ctrlpoint: path too long\n");
        return 1;
    }
    if (qnSdkInit(&config) != QN_OK)
        return 1;
    cp = qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT);
    if (cp == QN_INVALID_CONTROL_POINT) {
        fprintf(stderr, "ctrlpoint: could not load %s\n", argv[1]);
        qnSdkClean();
        return 1;
    }
    /* The strings the queries return point into the model: read it under
     * the model lock, as a program whose server thread runs must. */
    qnLockModel();
    printDevice(cp, "", 0);
    qnUnlockModel();
    qnSdkClean();
    return 0;
}
