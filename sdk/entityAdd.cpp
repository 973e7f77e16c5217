// Adding devices and control points: settings checks, loading and parsing
// of their description files, rewriting the description for the configured
// address, and the registration of their protocol roles.
#include "entity.h"

#include "localAddr.h"
#include "log.h"
#include "roles.h"
#include "scpd.h"
#include "text.h"
#include "track.h"

#include <cstdio>
#include <cstring>
#include <strings.h>
#include <memory>
#include <string_view>

namespace {

// The stack's shared socket records: the SSDP multicast listener and sender
// and the socketless record; the first entity that needs one fills it in.
SockInfo ssdpListener{SP_MCAST_SERVER};
SockInfo ssdpSender{SP_MCAST_CLIENT};
SockInfo socketless{SP_NONE};

constexpr char kSsdpGroup[] = "239.255.255.250";
constexpr uint16_t kSsdpPort = 1900;

void fillShared(SockInfo *rec, int kind, const char *iface)
{
    if (rec->port != 0)
        return;
    const char *group = kind == SP_NONE ? "" : kSsdpGroup;
    sockInit(rec, group, kind == SP_NONE ? "" : iface, kind == SP_NONE ? 80 : kSsdpPort, kind, 0);
}

// Document buffer for descriptions and SCPDs: large enough for 64 KiB documents.
struct DocBuffer {
    std::unique_ptr<char[]> data{new (std::nothrow) char[kMaxDocument + 1]};
    static constexpr uint32_t size = kMaxDocument + 1;
};

// "\dev\" becomes "/dev", "/" becomes "".
void normalisePath(char *path)
{
    for (char *c = path; *c != '\0'; ++c)
        if (*c == '\\')
            *c = '/';
    size_t len = std::strlen(path);
    while (len > 0 && path[len - 1] == '/')
        path[--len] = '\0';
}

int readLocalFile(const char *path, char *buf, uint32_t size)
{
    consolePrint(" file name = %s\r\n", path);
    FILE *file = std::fopen(path, "rb");
    if (file == nullptr) {
        consolePrint(" could not open file %s\r\n", path);
        return -1;
    }
    consolePrint(" open file %s OK\r\n", path);
    size_t n = std::fread(buf, 1, size - 1, file);
    std::fclose(file);
    if (n < 1) {
        consolePrint(" could not read data from file %s\r\n", path);
        return -1;
    }
    buf[n] = '\0';
    return 0;
}

// Asks the application for a file through MT_READ_FILE; the whole file must
// come in this one answer. Returns the length, or -1.
int readFileByCallback(QN_ENTITY entity, QNMsgHandler handler, const char *fileName, char *buf, uint32_t size)
{
    char name[QN_VAL_MAX_LEN];
    copyBounded(name, sizeof name, fileName);
    QNApiFileInfo info{};
    info.fileName = name;
    info.buf = buf;
    info.bufLen = static_cast<int32_t>(size);
    if (handler == nullptr || handler(entity, MT_READ_FILE, 0, &info) != 0)
        return -1;
    // An application that claims more than the buffer holds is cut there.
    int32_t len = info.bufLen < 0 ? 0 : info.bufLen;
    if (static_cast<uint32_t>(len) > size - 1)
        len = static_cast<int32_t>(size - 1);
    buf[len] = '\0';
    return len;
}

int loadRootFile(QN_ENTITY entity, const char *localPath, const char *webPath, const char *descFile,
                 QNMsgHandler handler, DocBuffer &doc)
{
    char path[QN_VAL_MAX_LEN + QN_NAME_MAX_LEN];
    if (localPath[0] == '\0') {
        consolePrint(" no file system, get xml by callback func\r\n");
        strBuild(path, sizeof path, "s", webPath, "s", "/", "s", descFile, "");
        consolePrint(" file name = %s\r\n", path);
        if (readFileByCallback(entity, handler, path, doc.data.get(), doc.size) < 0) {
            consolePrint(" could not read file %s by callback func\r\n", descFile);
            return -1;
        }
        consolePrint(" read file %s by callback func OK\r\n", descFile);
        return 0;
    }
    strBuild(path, sizeof path, "s", localPath, "s", "/", "s", descFile, "");
    return readLocalFile(path, doc.data.get(), doc.size);
}

int loadScpdText(QN_ENTITY entity, const char *scpdUrl, const char *localPath, QNMsgHandler handler, char *buf,
                 uint32_t size)
{
    std::string_view url(scpdUrl);
    size_t sep = url.find_last_of("/\\");
    std::string_view file = sep == std::string_view::npos ? url : url.substr(sep + 1);
    char path[QN_VAL_MAX_LEN + QN_NAME_MAX_LEN];
    char fileName[QN_VAL_MAX_LEN];
    copyBounded(fileName, sizeof fileName, file);
    if (localPath[0] != '\0') {
        strBuild(path, sizeof path, "s", localPath, "s", "/", "s", fileName, "");
        return readLocalFile(path, buf, size);
    }
    strBuild(path, sizeof path, "s", "/", "s", fileName, "");
    consolePrint(" file name = %s\r\n", path);
    int len = readFileByCallback(entity, handler, path, buf, size);
    if (len < 0) {
        consolePrint(" could not read file %s by callback func\r\n", path);
        return -1;
    }
    consolePrint(" read file %s by callback func OK, file len = %d\r\n", path, len);
    return 0;
}

} // namespace

int parseScpdOfDev(QN_ENTITY entity, QNDevDesc *dev, char *buf, uint32_t size, const char *localPath,
                   QNMsgHandler handler)
{
    for (int i = 0; i < dev->serviceCount; ++i) {
        QNServDesc *serv = dev->services[i];
        const char *url = findNameVal(serv->fields, serv->fieldCount, "SCPDURL");
        if (url == nullptr || url[0] == '\0') {
            consolePrint(" could not find SCPDURL\r\n");
            return -1;
        }
        if (loadScpdText(entity, url, localPath, handler, buf, size) != 0)
            return -1;
        if (attachNewScpd(serv) == nullptr)
            return QN_ERR_NOMEM;
        int rc = parseAttachedScpd(serv, buf, size);
        if (rc != 0)
            return rc;
    }
    for (int i = 0; i < dev->deviceCount; ++i) {
        int rc = parseScpdOfDev(entity, dev->devices[i], buf, size, localPath, handler);
        if (rc != 0) {
            consolePrint(" parseScpdOfDev() error: %d\r\n", rc);
            return rc;
        }
    }
    return 0;
}

namespace {

void setField(QNNameVal *fields, int count, const char *name, const char *value)
{
    for (int i = 0; i < count; ++i)
        if (std::strcmp(fields[i].name, name) == 0) {
            copyBounded(fields[i].val, sizeof fields[i].val, value);
            return;
        }
}

void customizeDevice(const QNApiDevSettings &settings, QNDevDesc *dev)
{
    if (findNameVal(dev->fields, dev->fieldCount, "presentationURL") != nullptr) {
        char url[QN_VAL_MAX_LEN];
        strBuild(url, sizeof url, "s", "http://", "s", settings.ipAddr, "s", ":", "u",
                 static_cast<unsigned>(settings.soapPort), "s", "/", "");
        setField(dev->fields, dev->fieldCount, "presentationURL", url);
    }
    for (int i = 0; i < dev->serviceCount; ++i) {
        QNServDesc *serv = dev->services[i];
        const char *old = findNameVal(serv->fields, serv->fieldCount, "SCPDURL");
        if (old == nullptr || std::strstr(old, settings.webPath) != nullptr)
            continue;
        char url[QN_VAL_MAX_LEN];
        strBuild(url, sizeof url, "s", settings.webPath, "s", old[0] == '/' ? "" : "/", "s", old, "");
        setField(serv->fields, serv->fieldCount, "SCPDURL", url);
    }
    for (int i = 0; i < dev->deviceCount; ++i)
        customizeDevice(settings, dev->devices[i]);
}

// A description saved from another device often names that device in its
// URLBase; control points resolve every relative URL against it (UDA 1.0,
// 2.1) and would send their requests there. The URLBase is made to name
// this device (its address and control port, where the description, the
// SCPDs, control and eventing are answered); a document without one stays
// without, so that its URLs resolve against the description URL as before.
void customizeUrlBase(const QNApiDevSettings &settings, QNRootDesc *root)
{
    if (std::strcmp(root->urlBase.name, "URLBase") != 0)
        return;
    strBuild(root->urlBase.val, sizeof root->urlBase.val, "s", "http://", "s", settings.ipAddr, "s", ":", "u",
             static_cast<unsigned>(settings.soapPort), "s", "/", "");
}

} // namespace

// Rewrites a loaded description so that it describes the device at its
// configured address: the description URL, presentationURL and SCPDURLs.
int customizeDesc(EntitySlot *slot, const QNApiDevSettings *settings, QNDevDesc *root)
{
    if (slot == nullptr || slot->kind == EK_FREE || settings == nullptr || root == nullptr)
        return QN_ERR_ARG;
    const char *web = settings->webPath;
    strBuild(slot->descUrl, sizeof slot->descUrl, "s", "http://", "s", settings->ipAddr, "s", ":", "u",
             static_cast<unsigned>(settings->soapPort), "s", web[0] == '/' ? "" : "/", "s", web, "s",
             web[0] != '\0' ? "/" : "", "s", settings->descFile, "");
    customizeDevice(*settings, root);
    return 0;
}

namespace {

struct RoleSpec {
    int (*match)(MsgHandler *);
    int (*handle)(MsgHandler *);
    uint32_t role;
    uint32_t methods = 0; // on a TCP socket: the request methods the role takes
};

constexpr uint32_t kSoapMethods = methodBit(HM_POST) | methodBit(HM_MPOST);
constexpr uint32_t kGenaMethods = methodBit(HM_SUBSCRIBE) | methodBit(HM_UNSUBSCRIBE);
constexpr uint32_t kFileMethods = methodBit(HM_GET) | methodBit(HM_HEAD);
constexpr uint32_t kEventMethods = methodBit(HM_NOTIFY);

bool registerRole(EntitySlot &slot, int index, const RoleSpec &def, const SockInfo &wanted, bool yields)
{
    MsgHandler &h = slot.handlers[index];
    slot.wanted[index] = wanted;
    slot.roles[index] = RoleBlock{def.role, &slot};
    h = MsgHandler{};
    h.entity = slot.self;
    h.sock = &slot.wanted[index];
    h.match = def.match;
    h.handle = def.handle;
    h.priv = &slot.roles[index];
    h.state = ES_STOPPED;
    h.yields = yields ? 1 : 0;
    h.methods = def.methods;
    slot.registered[index] = regHandler(&h) == 0;
    return slot.registered[index];
}

SockInfo tcpServerRecord(const char *ipAddr, uint16_t port)
{
    SockInfo rec{};
    sockInit(&rec, ipAddr, "", port, SP_TCP_SERVER, 0);
    return rec;
}

// Registers a device's roles and arms its advertisement. False when a
// table of the server is full: a device that could not advertise or answer
// would be lost without a word, so the add fails instead.
bool registerDevice(EntitySlot &slot)
{
    const QNApiDevSettings &s = slot.dev;
    fillShared(&ssdpListener, SP_MCAST_SERVER, s.ipAddr);
    SockInfo listener = ssdpListener;
    copyBounded(listener.ifaceAddr, sizeof listener.ifaceAddr, s.ipAddr);
    bool ok = registerRole(slot, DR_SSDP, {ssdpMatch, ssdpHandle, kRoleDevice}, listener, slot.universal);
    if (slot.universal)
        return ok;
    ok = ok && registerRole(slot, DR_SOAP, {soapMatch, soapHandle, kRoleDevice, kSoapMethods},
                            tcpServerRecord(s.ipAddr, s.soapPort), false);
    ok = ok && registerRole(slot, DR_GENA, {genaMatch, genaHandle, kRoleDevice, kGenaMethods},
                            tcpServerRecord(s.ipAddr, s.soapPort), false);
    if (s.noFileService == 0)
        ok = ok && registerRole(slot, DR_FILE, {fileServiceMatch, fileServiceHandle, kRoleDevice, kFileMethods},
                                tcpServerRecord(s.ipAddr, s.httpPort), false);
    return ok && armAdvertisement(&slot.handlers[DR_SSDP]) == 0;
}

// Registers a control point's roles and arms its first search; false when
// a table of the server is full.
bool registerCtrlPoint(EntitySlot &slot)
{
    const QNApiCtrlPointSettings &s = slot.cp;
    bool yields = s.cpType == CPT_PLAIN;
    fillShared(&ssdpSender, SP_MCAST_CLIENT, s.ipAddr);
    fillShared(&ssdpListener, SP_MCAST_SERVER, s.ipAddr);
    fillShared(&socketless, SP_NONE, "");
    bool ok = registerRole(slot, CR_SEARCH, {ssdpMatch, ssdpHandle, kRoleCpSearch}, ssdpSender, yields);
    SockInfo listener = ssdpListener;
    EntitySlot *parent = entityAt(slot.parent);
    if (parent != nullptr && parent->registered[CR_LISTEN])
        listener = *parent->handlers[CR_LISTEN].sock; // the parent's listening socket
    else
        copyBounded(listener.ifaceAddr, sizeof listener.ifaceAddr, s.ipAddr);
    ok = ok && registerRole(slot, CR_LISTEN, {ssdpMatch, ssdpHandle, kRoleCpListen}, listener, yields);
    ok = ok && registerRole(slot, CR_SOAP, {soapClientMatch, soapClientHandle, kRoleCpSearch}, socketless, yields);
    ok = ok && registerRole(slot, CR_EVENT, {eventMatch, eventHandle, kRoleCpSearch, kEventMethods},
                            tcpServerRecord(s.ipAddr, s.eventPort), yields);
    ok = ok && registerRole(slot, CR_DOWNLOAD, {downloadMatch, downloadHandle, kRoleCpSearch}, socketless, yields);
    return ok && armSearch(&slot.handlers[CR_SEARCH]) == 0;
}

// A control point bound to one device (cpType other than 0 with an http://
// descFile) hears only that description URL and, once the description is
// known, the UDNs it holds: several root devices often share one address
// and port (a media server and a renderer in one process).
void bindToDescUrl(EntitySlot &slot)
{
    if (slot.cp.cpType == CPT_PLAIN || strncasecmp(slot.cp.descFile, "http://", 7) != 0)
        return;
    uint32_t addr = 0;
    uint16_t port = 0;
    if (parseLocation(slot.cp.descFile, &addr, &port))
        copyBounded(slot.boundUrl, sizeof slot.boundUrl, slot.cp.descFile);
}

// Loads, parses and (for devices) customises a description and its SCPDs
// into slot->desc. Returns 0, or -1 after printing the reason.
int loadModel(EntitySlot &slot, const char *localPath, const char *webPath, const char *descFile,
              QNMsgHandler handler, const QNApiDevSettings *customize)
{
    DocBuffer buf;
    slot.desc = new (std::nothrow) QNRootDesc{};
    if (buf.data == nullptr || slot.desc == nullptr)
        return -1;
    if (loadRootFile(slot.self, localPath, webPath, descFile, handler, buf) != 0)
        return -1;
    QNTextDoc doc;
    xmlDocOpen(&doc, kDescDocKind, buf.data.get(), buf.size);
    int rc = parseDesc(&doc, slot.desc);
    if (rc != 0) {
        consolePrint(" parse error, ret = %d\r\n", rc);
        return -1;
    }
    if (customize != nullptr && (rc = customizeDesc(&slot, customize, &slot.desc->device)) != 0) {
        consolePrint(" customize error, ret = %d\r\n", rc);
        return -1;
    }
    if (customize != nullptr)
        customizeUrlBase(*customize, slot.desc);
    consolePrint(" parsing scpds\r\n");
    rc = parseScpdOfDev(slot.self, &slot.desc->device, buf.data.get(), buf.size, localPath, handler);
    if (rc != 0) {
        consolePrint(" parseScpdOfDev error, ret = %d\r\n", rc);
        return -1;
    }
    return 0;
}

void freeFailedSlot(EntitySlot &slot)
{
    unregisterRoles(slot);
    releaseModel(&slot);
    QN_ENTITY self = slot.self;
    slot = EntitySlot{};
    slot.self = self;
}

} // namespace

QN_DEVICE addDevice(const QNApiDevSettings *settings)
{
    if (settings == nullptr) {
        consolePrint(" invalid args\r\n");
        return QN_INVALID_DEVICE;
    }
    QNApiDevSettings s = *settings;
    bool universal = std::strcmp(s.serverName, kUniversalServerName) == 0;
    if ((s.webPath[0] == '\0' || s.descFile[0] == '\0' || s.msgHandler == nullptr) && !universal) {
        consolePrint(" invalid args\r\n");
        return QN_INVALID_DEVICE;
    }
    if (getLocalAddr(nullptr, s.ipAddr, sizeof s.ipAddr) != 0)
        return QN_INVALID_DEVICE;
    EntitySlot *free = takeFreeSlot();
    if (free == nullptr) {
        consolePrint(" too much entities\r\n");
        return QN_INVALID_DEVICE;
    }
    EntitySlot &slot = *free;
    slot.kind = EK_DEVICE;
    slot.universal = universal;
    slot.announceAlive = true;
    slot.parent = QN_INVALID_CONTROL_POINT;
    if (!universal) {
        normalisePath(s.localPath);
        normalisePath(s.webPath);
        if (loadModel(slot, s.localPath, s.webPath, s.descFile, s.msgHandler, &s) != 0) {
            freeFailedSlot(slot);
            return QN_INVALID_DEVICE;
        }
    }
    slot.dev = s;
    consolePrint(" adding dev to server\r\n");
    if (!registerDevice(slot)) {
        consolePrint(" server tables full\r\n");
        freeFailedSlot(slot);
        return QN_INVALID_DEVICE;
    }
    return slot.self;
}

QN_CONTROL_POINT addCtrlPoint(const QNApiCtrlPointSettings *settings, QN_CONTROL_POINT parent)
{
    if (settings == nullptr || settings->msgHandler == nullptr)
        return QN_INVALID_CONTROL_POINT;
    QNApiCtrlPointSettings s = *settings;
    if (getLocalAddr(nullptr, s.ipAddr, sizeof s.ipAddr) != 0)
        return QN_INVALID_CONTROL_POINT;
    if (s.cpType == CPT_PLAIN) {
        EntitySlot *p = entityAt(parent);
        bool parentOk = parent == QN_INVALID_CONTROL_POINT ||
                        (p != nullptr && p->kind == EK_CTRL_POINT && p->parent == QN_INVALID_CONTROL_POINT &&
                         p->cp.descFile[0] == '\0');
        if (!parentOk)
            return QN_INVALID_CONTROL_POINT;
    } else if (s.cpType >= 1 && s.cpType <= 6 && s.descFile[0] == '\0') {
        return QN_INVALID_CONTROL_POINT;
    }
    EntitySlot *free = takeFreeSlot();
    if (free == nullptr)
        return QN_INVALID_CONTROL_POINT;
    EntitySlot &slot = *free;
    if (s.cpType == CPT_DESC) {
        normalisePath(s.localPath);
        normalisePath(s.eventPath);
        if (loadModel(slot, s.localPath, s.localPath, s.descFile, s.msgHandler, nullptr) != 0) {
            freeFailedSlot(slot);
            return QN_INVALID_CONTROL_POINT;
        }
    }
    slot.kind = EK_CTRL_POINT;
    slot.parent = QN_INVALID_CONTROL_POINT;
    EntitySlot *p = entityAt(parent);
    if (p != nullptr && p->kind == EK_CTRL_POINT)
        slot.parent = parent;
    slot.cp = s;
    bindToDescUrl(slot);
    if (!registerCtrlPoint(slot)) {
        consolePrint(" server tables full\r\n");
        freeFailedSlot(slot);
        return QN_INVALID_CONTROL_POINT;
    }
    if (p != nullptr && p->kind == EK_CTRL_POINT && p->childCount < QN_MAX_ENTITY)
        p->children[p->childCount++] = slot.self;
    return slot.self;
}
