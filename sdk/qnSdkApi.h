/*
 * qnSdkApi.h - the public interface of the UPnP stack.
 *
 * Plain C99 records and functions; every operation returns a QN_RET and
 * nothing throws. Records that the application passes in are copied into
 * the stack's own storage. Texts are NUL-terminated and cut, never
 * rejected, when they do not fit their buffers.
 */
#ifndef QN_SDK_API_H
#define QN_SDK_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ---------------------------------------------------- */

typedef int32_t QN_RET;

#define QN_OK               0
#define QN_ERR             -1    /* not found, wrong state, syntax error */
#define QN_ERR_VERSION     -2    /* qnSdkInit with an unsupported version */
#define QN_ERR_ARG         -100  /* absent or out-of-range argument */
#define QN_ERR_NOMEM       -200  /* out of memory or a full table */
#define QN_ERR_UNSUPPORTED -300  /* not possible on this kind of socket */
#define QN_ERR_SOCK        -400  /* socket or network error */
#define QN_ERR_NODESC      -900  /* the entity has no description model */

/* ---- Limits and handles ---------------------------------------------- */

#define QN_NAME_MAX_LEN 128  /* size of a name buffer, terminator included */
#define QN_VAL_MAX_LEN  512  /* size of a value buffer, terminator included */
#define QN_ARG_MAX_NUM  16   /* capacity of argument and list arrays */
#define QN_MAX_ENTITY   256  /* slots of the entity table */

typedef int32_t QN_ENTITY;
typedef int32_t QN_DEVICE;
typedef int32_t QN_CONTROL_POINT;
typedef uint32_t QN_COOKIE;

/* No entity: what a failed add returns. Compare with these names, never
 * with a number: the value follows the table's capacity. */
#define QN_INVALID_DEVICE        QN_MAX_ENTITY
#define QN_INVALID_CONTROL_POINT QN_MAX_ENTITY

/* ---- Enumerations ---------------------------------------------------- */

typedef enum QNApiHandlerMsgType {
    MT_READ_FILE = 0,     /* arg: QNApiFileInfo */
    MT_DEV_ACTION = 1,    /* arg: QNApiAction */
    MT_DEV_GET_VAR = 2,   /* arg: QNNameVal with name set */
    MT_DEV_SEARCH = 3,    /* arg: the St text, or the searcher's address */
    MT_DEV_SUBSCRIBE = 4, /* arg: header text */
    MT_CP_ALIVE = 7,      /* arg: the Location text */
    MT_CP_BYEBYE = 8,     /* arg: absent */
    MT_CP_EVENT = 9       /* arg: event record */
} QNApiHandlerMsgType;

/* Run states of entities, handlers and the server; also run commands. */
typedef enum QNEntityState {
    ES_STOPPED = 0,
    ES_RUNNING = 1,
    ES_PAUSED = 2,
    ES_BYEBYE = 3 /* command only: a running device says byebye, keeps running */
} QNEntityState;

/* Directions of action arguments; any other direction text gives 3. */
typedef enum QNArgDirection {
    AD_IN = 0,
    AD_OUT = 1,
    AD_INOUT = 2,
    AD_UNKNOWN = 3
} QNArgDirection;

/* Control-point kinds: 0 a plain control point, CPT_DESC one that loads a
 * description file of its own; 2 to 6 behave like CPT_DESC without it. */
#define CPT_PLAIN 0
#define CPT_DESC  1

/* ---- Records ---------------------------------------------------------- */

typedef struct QNNameVal {
    char name[QN_NAME_MAX_LEN];
    char val[QN_VAL_MAX_LEN];
} QNNameVal;

/* An action request or answer. After a control-point call errCode and
 * errDesc are the HTTP status and reason phrase of the answer. In the
 * record of MT_DEV_ACTION both are 0 and "" when the handler is called; a
 * handler that refuses the action (answers nonzero) may set errCode to a
 * UPnP error code (1 to 999, e.g. 402, 600, 701) and errDesc to its
 * description, and the SOAP fault carries them; a refusal without one is
 * answered with 501 "XML error". Before the handler is asked the stack
 * itself answers 401 "Invalid Action" for an action the service's SCPD
 * does not define and 402 "Invalid Args" for in-arguments that are not
 * exactly the defined ones (by name, in any order); a QueryStateVariable
 * for a variable the SCPD does not define gets 404 "Invalid Var". The
 * handler receives the in-arguments in the SCPD's order under its names. */
typedef struct QNApiAction {
    uint16_t errCode;               /* HTTP status / UPnP error code */
    char errDesc[QN_VAL_MAX_LEN];   /* reason phrase / error description */
    char action[QN_NAME_MAX_LEN];   /* action name */
    uint16_t argNum;                /* used entries, at most QN_ARG_MAX_NUM */
    QNNameVal argNV[QN_ARG_MAX_NUM];
    int32_t argDirection[QN_ARG_MAX_NUM];
} QNApiAction;

/* The server thread's body as the stack hands it to createThreadFunc. */
typedef void *(*QNThreadEntry)(void *arg);
typedef QN_RET (*QNCreateThreadFunc)(QNThreadEntry entry, int32_t stackSize);

typedef struct QNApiSdkConfig {
    uint16_t majorVer;  /* must be 1 */
    uint16_t minorVer;  /* must be 0 */
    int32_t stackSize;  /* handed to createThreadFunc */
    QNCreateThreadFunc createThreadFunc; /* absent: qnSdkRun runs the loop */
    uint32_t reserved1; /* copied, never read */
    uint32_t reserved2;
} QNApiSdkConfig;

/* handler(entity, type, cookie, arg); cookie is always 0. */
typedef QN_RET (*QNMsgHandler)(QN_ENTITY entity, int32_t type,
                               QN_COOKIE cookie, void *arg);

typedef struct QNApiDevSettings {
    char ipAddr[QN_NAME_MAX_LEN];    /* empty: the host's address */
    uint16_t httpPort;               /* file service */
    uint16_t soapPort;               /* control, eventing, description URL */
    char localPath[QN_NAME_MAX_LEN]; /* empty: files through MT_READ_FILE */
    char webPath[QN_VAL_MAX_LEN];    /* where the description is published */
    char descFile[QN_NAME_MAX_LEN];  /* root description file name */
    QNMsgHandler msgHandler;
    int32_t adPeriod;                /* seconds between advertisement rounds */
    char serverName[QN_NAME_MAX_LEN];
    int32_t noFileService;           /* nonzero: no file-service handler */
} QNApiDevSettings;

typedef struct QNApiCtrlPointSettings {
    int32_t cpType;                  /* 0 to 6, see CPT_DESC */
    char descFile[QN_VAL_MAX_LEN];   /* description file, later its URL */
    uint8_t notifyApp;               /* deliver MT_CP_ALIVE / MT_CP_BYEBYE */
    char ipAddr[QN_NAME_MAX_LEN];    /* empty: the host's address */
    uint16_t eventPort;              /* GENA event listener */
    uint16_t extraPort;              /* kept, not read */
    char eventPath[QN_NAME_MAX_LEN]; /* path of the event callback URL */
    char localPath[QN_VAL_MAX_LEN];  /* files of a CPT_DESC control point */
    QNMsgHandler msgHandler;
} QNApiCtrlPointSettings;

typedef struct QNApiFileInfo {
    char *fileName;    /* the path asked for */
    uint32_t reserved1;
    int32_t fileSize;  /* set by the handler: total size of the file */
    uint32_t reserved2;
    char *buf;         /* buffer to fill */
    int32_t bufLen;    /* in: capacity of buf; out: bytes stored */
} QNApiFileInfo;

/* ---- Stack and entities ------------------------------------------------
 * Calling order: qnSdkInit, then qnAddDevice / qnAddCtrlPoint,
 * qnChangeEntityState(slot, ES_RUNNING) for each, then qnSdkRun. Entities may
 * also be added, started, stopped and removed while the server runs, from
 * any thread and from inside message handlers. At the end qnSdkClean.
 */
QN_RET qnSdkInit(const QNApiSdkConfig *config);
QN_RET qnSdkRun(void);
QN_RET qnSdkStop(void);
QN_RET qnSdkClean(void);

QN_DEVICE qnAddDevice(const QNApiDevSettings *settings);
QN_CONTROL_POINT qnAddCtrlPoint(const QNApiCtrlPointSettings *settings, QN_CONTROL_POINT parent);
QN_RET qnChangeEntityState(QN_ENTITY entity, int32_t command);
QN_RET qnRemoveDevice(QN_DEVICE device);
QN_RET qnRemoveCtrlPoint(QN_CONTROL_POINT cp);
/* The slot's settings copy (QNApiDevSettings or QNApiCtrlPointSettings), or
 * NULL for a free or invalid slot. */
void *qnGetSettings(QN_ENTITY entity);
QN_RET qnCheckDevice(QN_ENTITY entity);
QN_RET qnCPSearch(QN_CONTROL_POINT cp, const char *target, uint16_t searchValue, QN_COOKIE *cookie);

/* ---- Description model queries -------------------------------------------
 * Devices are named by deviceType, services by serviceType; the empty
 * string is the root device. count is in/out: capacity in, entries out.
 * 0, -1 (not found) or QN_ERR_ARG.
 *
 * Returned strings point into the model. The server thread replaces a
 * control point's model whenever its device announces a changed
 * description, is refused or is discarded, and frees it when the entity is
 * removed; so an application that reads from a thread of its own brackets
 * each batch of queries, and every use of the strings they return, with
 * qnLockModel / qnUnlockModel:
 *
 *     qnLockModel();
 *     if (qnGetServList(cp, "", list, &count) == 0)
 *         for (i = 0; i < count; ++i) keep_a_copy(list[i]);
 *     qnUnlockModel();
 *
 * The lock is the stack's own: while it is held the server thread handles
 * nothing, so hold it briefly, copy what must outlive it, and never call
 * what waits on the network (qnCPSoapAction, qnCPSoapQuery,
 * qnCPSubscribe, qnCPUnsubscribe) inside it. It is recursive, and message
 * handlers already run under it: a handler may query without it. Each
 * qnLockModel needs one qnUnlockModel on the same thread.
 */
void qnLockModel(void);
void qnUnlockModel(void);

QN_RET qnGetDevList(QN_ENTITY entity, const char *deviceType, const char **list, int32_t *count);
QN_RET qnGetServList(QN_ENTITY entity, const char *deviceType, const char **list, int32_t *count);
QN_RET qnGetActionList(QN_ENTITY entity, const char *serviceType, const char **list, int32_t *count);
QN_RET qnGetVarList(QN_ENTITY entity, const char *serviceType, const char **list, uint8_t *sendEvents,
                    int32_t *count);
QN_RET qnGetDevInfo(QN_ENTITY entity, const char *deviceType, const char **names, const char **values,
                    int32_t *count);
QN_RET qnGetServInfo(QN_ENTITY entity, const char *serviceType, const char **names, const char **values,
                     int32_t *count);
QN_RET qnGetActionArgs(QN_ENTITY entity, QNApiAction *action);
QN_RET qnGetDescUrl(QN_ENTITY entity, const char *serviceType, char *buf, int32_t len);
QN_RET qnGetUdn(QN_ENTITY entity, char *buf, int32_t len);
QN_RET qnGetDevAddr(QN_ENTITY entity, uint32_t *addr, uint16_t *port);

/* ---- Typed state variables and arguments ----------------------------------
 * Copying queries: the caller's record receives copies, so they are safe
 * from any thread while the stack runs (the model may be replaced
 * meanwhile). Texts are cut to their buffers.
 */
#define QN_ALLOWED_MAX_NUM 64 /* allowed values a QNApiVarInfo holds */

typedef struct QNApiVarInfo {
    char name[QN_NAME_MAX_LEN];
    char dataType[QN_NAME_MAX_LEN];       /* "ui2", "string", ...; "" when absent */
    char defaultValue[QN_VAL_MAX_LEN];    /* "" when absent (hasDefault 0) */
    uint8_t hasDefault;                   /* 1: the SCPD gives a defaultValue */
    uint8_t sendEvents;                   /* 1 evented, 0 not */
    uint8_t hasRange;                     /* 1: an allowedValueRange, below */
    uint8_t hasList;                      /* 1: an allowedValueList, in allowed */
    uint16_t allowedNum;                  /* entries of allowed in use */
    char allowed[QN_ALLOWED_MAX_NUM][QN_NAME_MAX_LEN]; /* list values, in order */
    char minimum[QN_NAME_MAX_LEN];        /* range bounds; "" when not given */
    char maximum[QN_NAME_MAX_LEN];
    char step[QN_NAME_MAX_LEN];
} QNApiVarInfo;

/* Copies the state variable varName of the first service of serviceType
 * into info (zero-filled first). QN_OK; QN_ERR when the service, its SCPD
 * or the variable is missing; QN_ERR_ARG for an invalid entity or absent
 * arguments. */
QN_RET qnGetVarInfo(QN_ENTITY entity, const char *serviceType, const char *varName, QNApiVarInfo *info);

/* Like qnGetActionArgs, for the action action->action of the first service
 * of serviceType (every service in order when serviceType is empty), and
 * with each argument's relatedStateVariable copied into argNV[i].val ("" when
 * the SCPD names none): argNV[i].name is the argument's name and
 * argDirection[i] its direction code. Results as for qnGetVarInfo. */
QN_RET qnGetActionArgVars(QN_ENTITY entity, const char *serviceType, QNApiAction *action);

typedef struct QNApiIcon {
    char mimetype[QN_NAME_MAX_LEN];
    int32_t width;                  /* -1 when absent or not a number */
    int32_t height;
    int32_t depth;
    char url[QN_VAL_MAX_LEN];       /* as the description writes it */
} QNApiIcon;

/* Copies the icons of the device of deviceType (the root device for "")
 * into icons, in document order; count is in/out as for the list queries
 * (0 icons is a success). The stack keeps up to 8 icons per device. QN_OK;
 * QN_ERR when no such device exists; QN_ERR_ARG for an invalid entity,
 * absent arguments or a count of 0. */
QN_RET qnGetIconList(QN_ENTITY entity, const char *deviceType, QNApiIcon *icons, int32_t *count);

typedef int32_t (*QNWalkCallback)(QN_ENTITY entity, const char *type, int32_t isDevice, void *user);
QN_RET qnWalkDesc(QN_ENTITY entity, const char *deviceType, QNWalkCallback callback, void *user);
const char *qnFindDescValue(QN_ENTITY entity, const char *reserved1, const char *reserved2,
                            const char *fieldName, const char *pattern, int32_t wantDevices,
                            int32_t wantServices, int32_t reserved3);

/* ---- SOAP control (control point) ----------------------------------------
 * Both calls run on the caller's thread against the control point's tracked
 * device and return when the answer has been read (or the waits ran out).
 * qnCPSoapAction sends action->action with its argNV pairs (argNum of
 * them) to the first service of serviceType; qnCPSoapQuery asks for the
 * value of the variable named by argNV[0].name (argNum must be 1).
 * Once an answer was read the caller's record holds it: errCode and errDesc
 * the HTTP status and reason phrase, argNV the out-arguments (for a query
 * the value in argNV[0].val; for a SOAP fault faultcode, faultstring,
 * errorCode, errorDescription), argDirection as the caller set it.
 * Results: QN_OK; QN_ERR a SOAP fault (or a query answer without exactly
 * one value); QN_ERR_ARG bad arguments or no such service; QN_ERR_SOCK no
 * connection; QN_ERR_NO_DEVICE no usable tracked device; QN_ERR_NO_URL the
 * service has no controlURL; -500 an answer that is not a SOAP envelope.
 * Calls on one control point may overlap; each uses a connection of its own.
 */
#define QN_ERR_NO_DEVICE -600 /* no usable device is tracked */
#define QN_ERR_NO_URL    -700 /* the service has no controlURL */

QN_RET qnCPSoapAction(QN_CONTROL_POINT cp, const char *serviceType, QNApiAction *action);
QN_RET qnCPSoapQuery(QN_CONTROL_POINT cp, const char *serviceType, QNApiAction *action);

/* ---- GENA eventing -------------------------------------------------------
 * qnCPSubscribe subscribes to the first service of serviceType of the
 * control point's tracked device when sid is empty, and renews the
 * subscription sid names otherwise; events go to the control point's
 * eventPort and eventPath (callbackPath must be present but is not used).
 * On return sid holds the SID of the answer (at most sidSize - 1
 * characters). qnCPUnsubscribe cancels it; sid is left as it was.
 * Results: QN_OK; QN_ERR the event listener is not running, no usable
 * device is tracked, or the device refused (a status other than 200);
 * QN_ERR_ARG bad arguments or no such service; QN_ERR_SOCK no connection.
 */
QN_RET qnCPSubscribe(QN_CONTROL_POINT cp, const char *serviceType, const char *callbackPath, int32_t timeout,
                     char *sid, int32_t sidSize);
QN_RET qnCPUnsubscribe(QN_CONTROL_POINT cp, const char *serviceType, const char *sid);

/* The argument of MT_CP_EVENT: the variables of one event as name/value
 * pairs in argNV (argNum of them, every variable of every property, at
 * most QN_ARG_MAX_NUM), and in errDesc the SID of the subscription that
 * sent it. The record lives for the handler call only. */
typedef QNApiAction QNApiEvent;

/* Sends one event with count variables (at most QN_ARG_MAX_NUM) to every
 * live subscription of the device's first service of serviceType, each
 * with its next sequence number; the values are sent as given. Returns at
 * once: the server thread delivers the event, in order after the earlier
 * ones of each subscription, and drops a subscription whose deliveries fail
 * three times in a row. Returns the number of subscriptions the event was
 * queued for, or QN_ERR_ARG. */
QN_RET qnDevNotify(QN_DEVICE device, const char *serviceType, const QNNameVal *vars, int32_t count);

/* Bounded setters of QNNameVal texts: values are cut to QN_VAL_MAX_LEN - 1
 * and names to QN_NAME_MAX_LEN - 1 characters, always terminated. */
QN_RET qnSetNVVal(char *val, const char *text);
QN_RET qnSetNVNameVal(QNNameVal *nv, const char *name, const char *val);

/* ---- Log ---------------------------------------------------------------
 * Categories: 0 server loop, 1 socket reads and HTTP output, 2 SSDP,
 * 3 GENA, 4 SOAP, 5 HTTP transfers, 6 XML, 7 HTTP parsing; 8 addresses all
 * of them in qnSetDebugLevel. Levels: 0 errors, 1 notable events, 2 detail.
 * A line reaches the sink when its category is enabled and the category's
 * level is at least the line's level. The sink may be called from several
 * threads at once.
 */
#define QN_LOG_CATEGORY_COUNT 8
#define QN_LOG_ALL_CATEGORIES 8

typedef void (*QNDebugSink)(int32_t category, const char *text, int32_t level);

QN_RET qnSetDebugSink(QNDebugSink sink);

/* The debug console: short status lines (" advertise OK\r\n", a failed
 * add's reason, ...). Without a sink they go to standard output; with one,
 * each whole line is handed to it instead (a GUI has no standard output).
 * NULL restores standard output. The sink may be called from several
 * threads at once, and from inside the stack's lock: it must not wait for
 * a thread that calls the stack. */
typedef void (*QNConsoleSink)(const char *text);
QN_RET qnSetConsoleSink(QNConsoleSink sink);
void qnSetDebugLevel(int32_t category, int32_t enabled, int32_t level);
void qnDebugPrint(int32_t category, const char *text, int32_t level);

#ifdef __cplusplus
}
#endif

#endif /* QN_SDK_API_H */
