/*
 * light.c - a UPnP BinaryLight served by the qnsdk stack.
 *
 * Serves BinaryLight.xml and SwitchPower.xml from a directory (by default
 * the one this source file is in), answers the SwitchPower actions
 * SetTarget, GetTarget and GetStatus and the queries of the state variables
 * Target and Status, sends every subscriber an event when Status changes,
 * and runs until its standard input is closed or it gets SIGINT or SIGTERM.
 *
 *   light [--dir DIR] [--addr IP] [--port PORT]
 *
 * It opens sockets and announces itself by SSDP: try it inside
 * tools/netns-run, which gives it a network of its own.
 */
#define _POSIX_C_SOURCE 200809L

#include "qnSdkApi.h"

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#define DESC_FILE "BinaryLight.xml"
#define SWITCH_POWER "urn:schemas-upnp-org:service:SwitchPower:1"
#define DEFAULT_ADDR "127.0.0.1"
#define DEFAULT_PORT 30909
/* The server thread's stack: generous, so that sanitizer builds fit too. */
#define SERVER_STACK_SIZE (1024 * 1024)

/* The light. Only the server thread touches it: the stack calls the
 * handler there. */
static int target; /* what the light was told to be, 0 or 1 */
static int status; /* what it is; a simple light follows its target at once */

static pthread_t serverThread;
static int serverStarted;
static volatile sig_atomic_t stopSignal;

/* A UPnP boolean: "0", "1", "false", "true", "no", "yes", any case. */
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

/* The answer carries exactly one out-argument. */
static QN_RET answerOne(QNApiAction *action, const char *name, int value)
{
    qnSetNVNameVal(&action->argNV[0], name, value ? "1" : "0");
    action->argDirection[0] = AD_OUT;
    action->argNum = 1;
    return QN_OK;
}

/* Status is evented: every subscriber hears of each change. The stack
 * sent each new subscriber the value it had then. */
static void announceStatus(QN_DEVICE device)
{
    QNNameVal var;
    memset(&var, 0, sizeof var);
    qnSetNVNameVal(&var, "Status", status ? "1" : "0");
    if (qnDevNotify(device, SWITCH_POWER, &var, 1) < 0)
        fprintf(stderr, "light: the event could not be sent\n");
}

/* A refusal names its UPnP error in the record: the stack sends it as the
 * SOAP fault (without one the fault is 501 "XML error"). */
static QN_RET refuse(QNApiAction *action, uint16_t code, const char *desc)
{
    action->errCode = code;
    qnSetNVVal(action->errDesc, desc);
    return QN_ERR;
}

static QN_RET setTarget(QN_DEVICE device, QNApiAction *action)
{
    int i;
    /* The stack has checked the arguments against the SCPD: newTargetValue
     * is there, and nothing else. Its value is ours to check. */
    for (i = 0; i < action->argNum && i < QN_ARG_MAX_NUM; ++i) {
        int value, changed;
        if (strcmp(action->argNV[i].name, "newTargetValue") != 0)
            continue;
        if (parseBoolean(action->argNV[i].val, &value) != 0)
            return refuse(action, 600, "Argument Value Invalid");
        changed = status != value;
        target = value;
        status = value;
        printf("light: SetTarget %d, the light is %s\n", value, value ? "on" : "off");
        fflush(stdout);
        if (changed)
            announceStatus(device);
        action->argNum = 0; /* SetTarget has no out-arguments */
        return QN_OK;
    }
    return refuse(action, 402, "Invalid Args");
}

static QN_RET handleAction(QN_DEVICE device, QNApiAction *action)
{
    if (strcmp(action->action, "SetTarget") == 0)
        return setTarget(device, action);
    if (strcmp(action->action, "GetTarget") == 0)
        return answerOne(action, "RetTargetValue", target);
    if (strcmp(action->action, "GetStatus") == 0)
        return answerOne(action, "ResultStatus", status);
    return refuse(action, 401, "Invalid Action"); /* the stack lets none through */
}

static QN_RET handleGetVar(QNNameVal *var)
{
    if (strcmp(var->name, "Target") == 0)
        return qnSetNVVal(var->val, target ? "1" : "0");
    if (strcmp(var->name, "Status") == 0)
        return qnSetNVVal(var->val, status ? "1" : "0");
    return QN_ERR;
}

static QN_RET handleMessage(QN_ENTITY entity, int32_t type, QN_COOKIE cookie, void *arg)
{
    (void)cookie;
    switch (type) {
    case MT_DEV_ACTION:
        return handleAction(entity, (QNApiAction *)arg);
    case MT_DEV_GET_VAR:
        return handleGetVar((QNNameVal *)arg);
    case MT_READ_FILE:
        return QN_ERR; /* the files come from the local directory */
    default:
        return QN_OK; /* searches and subscriptions are welcome */
    }
}

/* The stack's createThreadFunc: runs its server loop on a thread of ours,
 * kept so that main can wait for it at the end. */
static QN_RET startServerThread(QNThreadEntry entry, int32_t stackSize)
{
    pthread_attr_t attr;
    int rc;
    if (pthread_attr_init(&attr) != 0)
        return QN_ERR;
    if (stackSize > 0)
        pthread_attr_setstacksize(&attr, (size_t)stackSize);
    rc = pthread_create(&serverThread, &attr, entry, NULL);
    pthread_attr_destroy(&attr);
    if (rc != 0)
        return QN_ERR;
    serverStarted = 1;
    return QN_OK;
}

static void noteSignal(int sig)
{
    stopSignal = sig;
}

/* Standard input is worth watching when someone can close it: a terminal,
 * a pipe or a socket. A background job of a script reads /dev/null, which
 * would end it at once; then only a signal ends it. */
static int stdinCanClose(void)
{
    struct stat st;
    if (fstat(STDIN_FILENO, &st) != 0)
        return 0;
    return isatty(STDIN_FILENO) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
}

/* Waits with SIGINT and SIGTERM blocked except inside pselect, so that a
 * signal cannot slip in between the test of stopSignal and the wait. */
static void waitForEnd(const sigset_t *waitMask)
{
    int watch = stdinCanClose();
    char buf[256];
    while (!stopSignal) {
        fd_set in;
        FD_ZERO(&in);
        if (watch)
            FD_SET(STDIN_FILENO, &in);
        if (pselect(watch ? 1 : 0, &in, NULL, NULL, NULL, waitMask) < 0) {
            if (errno == EINTR)
                continue;
            perror("light: pselect");
            return;
        }
        if (watch && FD_ISSET(STDIN_FILENO, &in) && read(STDIN_FILENO, buf, sizeof buf) <= 0) {
            printf("light: standard input closed\n");
            return;
        }
    }
    printf("light: signal %d\n", (int)stopSignal);
}

static void blockStopSignals(sigset_t *previous)
{
    struct sigaction sa;
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, previous);
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = noteSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, NULL);
    sigaction(SIGTERM, &sa, NULL);
}

struct Options {
    char dir[QN_NAME_MAX_LEN];
    char addr[QN_NAME_MAX_LEN];
    unsigned port;
};

/* The directory of this source file, as the compiler was given its name. */
static void sourceDir(char *dir, size_t size)
{
    const char *file = __FILE__;
    const char *slash = strrchr(file, '/');
    size_t len = slash != NULL ? (size_t)(slash - file) : 0;
    if (slash == NULL) {
        file = ".";
        len = 1;
    } else if (len == 0) {
        len = 1; /* the root directory */
    }
    if (len >= size)
        len = size - 1;
    memcpy(dir, file, len);
    dir[len] = '\0';
}

static int copyOption(char *dst, size_t size, const char *value)
{
    size_t len = strlen(value);
    if (len == 0 || len >= size)
        return -1;
    memcpy(dst, value, len + 1);
    return 0;
}

static int parseOptions(int argc, char **argv, struct Options *opt)
{
    int i;
    sourceDir(opt->dir, sizeof opt->dir);
    copyOption(opt->addr, sizeof opt->addr, DEFAULT_ADDR);
    opt->port = DEFAULT_PORT;
    for (i = 1; i < argc; ++i) {
        const char *value = i + 1 < argc ? argv[i + 1] : NULL;
        char *end = NULL;
        if (value != NULL && strcmp(argv[i], "--dir") == 0 && copyOption(opt->dir, sizeof opt->dir, value) == 0)
            ++i;
        else if (value != NULL && strcmp(argv[i], "--addr") == 0 &&
                 copyOption(opt->addr, sizeof opt->addr, value) == 0)
            ++i;
        else if (value != NULL && strcmp(argv[i], "--port") == 0 &&
                 (opt->port = (unsigned)strtoul(value, &end, 10)) > 0 && opt->port < 65536 && *end == '\0')
            ++i;
        else
            return -1;
    }
    return 0;
}

static QN_DEVICE addLight(const struct Options *opt)
{
    QNApiDevSettings s;
    memset(&s, 0, sizeof s);
    memcpy(s.ipAddr, opt->addr, sizeof s.ipAddr);
    s.httpPort = (uint16_t)opt->port;
    s.soapPort = (uint16_t)opt->port;
    memcpy(s.localPath, opt->dir, sizeof s.localPath);
    memcpy(s.webPath, "/", 2);
    memcpy(s.descFile, DESC_FILE, sizeof DESC_FILE);
    s.msgHandler = handleMessage;
    s.adPeriod = 20;
    return qnAddDevice(&s);
}

int main(int argc, char **argv)
{
    QNApiSdkConfig config = {1, 0, SERVER_STACK_SIZE, startServerThread, 0, 0};
    struct Options opt;
    sigset_t waitMask;
    QN_DEVICE light;

    if (parseOptions(argc, argv, &opt) != 0) {
        fprintf(stderr, "usage: light [--dir DIR] [--addr IP] [--port PORT]\n");
        return 2;
    }
    if (qnSdkInit(&config) != QN_OK)
        return 1;
    light = addLight(&opt);
    if (light == QN_INVALID_DEVICE) {
        fprintf(stderr, "light: could not load %s/%s and its SCPD\n", opt.dir, DESC_FILE);
        qnSdkClean();
        return 1;
    }
    /* Before the server thread exists: it inherits the blocked signals, so
     * that they reach this thread's pselect. */
    blockStopSignals(&waitMask);
    if (qnChangeEntityState(light, ES_RUNNING) != QN_OK || qnSdkRun() != QN_OK) {
        fprintf(stderr, "light: could not start the server\n");
        qnSdkClean();
        return 1;
    }
    printf("light: serving http://%s:%u/%s\n", opt.addr, opt.port, DESC_FILE);
    fflush(stdout);

    waitForEnd(&waitMask);
    qnSdkStop();
    if (serverStarted)
        pthread_join(serverThread, NULL);
    qnSdkClean();
    return 0;
}
