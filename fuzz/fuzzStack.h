// The stack as the protocol fuzz targets drive it: a device (the example
// light, control and file service on ports of their own), a plain control
// point, a bound one and one that tracks the light by hand. Their sockets
// are never opened: each socket record of the server gets a descriptor of
// /dev/null, so the server counts them open, and a target hands messages to
// the roles as the loop would after reading them. The process first moves
// into a private network namespace of its own, so that whatever a role
// sends (a connect to a Location, an event to a Callback) can only reach
// the loopback of that namespace, and no name can be looked up anywhere.
#pragma once

#include "entity.h"
#include "fuzzSupport.h"
#include "gena.h"
#include "roles.h"
#include "server.h"
#include "ssdpPace.h"
#include "text.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace qnfuzz {

inline constexpr uint16_t kSoapPort = 4001;
inline constexpr uint16_t kFilePort = 4002;
inline constexpr uint16_t kEventPort = 4003;
inline constexpr uint16_t kTrackedPort = 4100; // where the tracked light "lives"
inline constexpr char kTrackedUrl[] = "http://127.0.0.1:4100/BinaryLight.xml";

inline bool writeText(const char *path, const std::string &text)
{
    std::ofstream out(path);
    out << text;
    return static_cast<bool>(out);
}

// A network namespace with its loopback up and nothing else: no route off
// the machine, no resolver that could answer.
inline bool enterOwnNetwork()
{
    if (unshare(CLONE_NEWNET) != 0) {
        uid_t uid = getuid();
        gid_t gid = getgid();
        if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
            return false;
        writeText("/proc/self/setgroups", "deny");
        if (!writeText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
            !writeText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n"))
            return false;
    }
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq req{};
    std::strcpy(req.ifr_name, "lo");
    bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &req) == 0;
    req.ifr_flags = static_cast<short>(req.ifr_flags | IFF_UP);
    up = up && ioctl(fd, SIOCSIFFLAGS, &req) == 0;
    if (fd >= 0)
        close(fd);
    return up;
}

inline std::string sourceFile(const std::string &relative)
{
    std::ifstream in(std::string(QN_SOURCE_DIR) + "/" + relative);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The application behind every entity: a small file for any name, a value
// for every variable, every action and subscription accepted, every device
// kept.
inline QN_RET fuzzApp(QN_ENTITY, int32_t type, QN_COOKIE, void *arg)
{
    if (type == MT_READ_FILE) {
        auto *info = static_cast<QNApiFileInfo *>(arg);
        if (info->fileSize > 0)
            return QN_ERR; // one chunk only
        static const char page[] = "<html>fuzz</html>";
        info->fileSize = sizeof page - 1;
        info->bufLen = sizeof page - 1;
        std::memcpy(info->buf, page, sizeof page - 1);
        return QN_OK;
    }
    if (type == MT_DEV_GET_VAR)
        qnSetNVVal(static_cast<QNNameVal *>(arg)->val, "1");
    return QN_OK;
}

// Parses the light's description into a control point as discovery would
// have left it, tracking the light at 127.0.0.1:kTrackedPort.
inline void trackLight(QN_CONTROL_POINT cp)
{
    static const std::string text = sourceFile("examples/binarylight/BinaryLight.xml");
    static std::vector<char> buf(kMaxDocument + 1);
    std::lock_guard guard(stackLock());
    EntitySlot *slot = entityAt(cp);
    if (slot == nullptr)
        return;
    releaseModel(slot);
    slot->desc = new QNRootDesc{};
    copyBounded(buf.data(), buf.size(), text);
    QNTextDoc doc;
    xmlDocOpen(&doc, kDescDocKind, buf.data(), static_cast<uint32_t>(buf.size()));
    (void)parseDesc(&doc, slot->desc);
    inet_pton(AF_INET, "127.0.0.1", &slot->desc->hostAddr);
    slot->desc->hostPort = htons(kTrackedPort);
    slot->desc->device.lastActive = 1;
    slot->desc->device.cacheControl = 1800;
}

struct FuzzStack {
    bool ready = false;
    QN_DEVICE device = QN_INVALID_DEVICE;
    QN_CONTROL_POINT plain = QN_INVALID_CONTROL_POINT;
    QN_CONTROL_POINT bound = QN_INVALID_CONTROL_POINT;
    QN_CONTROL_POINT tracker = QN_INVALID_CONTROL_POINT;

    // The server's record of the socket a role of an entity uses.
    SockInfo *socketOf(QN_ENTITY entity, int role) const
    {
        EntitySlot *slot = entityAt(entity);
        return slot != nullptr && slot->registered[role] ? slot->handlers[role].sock : nullptr;
    }

    // Puts a tracked description back where a message discarded it.
    void refresh()
    {
        for (QN_CONTROL_POINT cp : {bound, tracker}) {
            EntitySlot *slot = entityAt(cp);
            if (slot != nullptr && (slot->desc == nullptr || slot->desc->device.fieldCount == 0))
                trackLight(cp);
        }
    }
};

inline QNApiCtrlPointSettings fuzzCpSettings(int cpType, const char *descFile, uint16_t eventPort)
{
    QNApiCtrlPointSettings s{};
    s.cpType = cpType;
    copyBounded(s.descFile, sizeof s.descFile, descFile);
    s.notifyApp = 1;
    copyBounded(s.ipAddr, sizeof s.ipAddr, "127.0.0.1");
    s.eventPort = eventPort;
    copyBounded(s.eventPath, sizeof s.eventPath, "/eventCB");
    s.msgHandler = fuzzApp;
    return s;
}

// Gives every socket record of the server a descriptor that is not a
// socket, so that the server never opens one of its own.
inline void stubSockets(QN_ENTITY entity)
{
    static int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    EntitySlot *slot = entityAt(entity);
    for (int i = 0; slot != nullptr && i < kRolesPerEntity; ++i)
        if (slot->registered[i] && slot->handlers[i].sock->kind != SP_NONE && slot->handlers[i].sock->fd == 0)
            slot->handlers[i].sock->fd = devNull;
}

inline FuzzStack makeStack()
{
    FuzzStack s;
    setConsoleSink([](const char *) {});
    if (!enterOwnNetwork()) {
        std::fprintf(stderr, "no private network namespace: this target does nothing\n");
        return s;
    }
    QNApiSdkConfig config{1, 0, 0, nullptr, 0, 0};
    qnSdkInit(&config);
    QNApiDevSettings d{};
    copyBounded(d.ipAddr, sizeof d.ipAddr, "127.0.0.1");
    d.soapPort = kSoapPort;
    d.httpPort = kFilePort;
    copyBounded(d.localPath, sizeof d.localPath, std::string(QN_SOURCE_DIR) + "/examples/binarylight");
    copyBounded(d.webPath, sizeof d.webPath, "/");
    copyBounded(d.descFile, sizeof d.descFile, "BinaryLight.xml");
    d.msgHandler = fuzzApp;
    d.adPeriod = 3600;
    s.device = qnAddDevice(&d);
    QNApiCtrlPointSettings plain = fuzzCpSettings(0, "", kEventPort);
    s.plain = qnAddCtrlPoint(&plain, QN_INVALID_CONTROL_POINT);
    QNApiCtrlPointSettings bound = fuzzCpSettings(2, kTrackedUrl, kEventPort);
    s.bound = qnAddCtrlPoint(&bound, QN_INVALID_CONTROL_POINT);
    QNApiCtrlPointSettings tracker = fuzzCpSettings(3, "tracked.xml", kEventPort);
    s.tracker = qnAddCtrlPoint(&tracker, QN_INVALID_CONTROL_POINT);
    for (QN_ENTITY e : {s.device, s.plain, s.bound, s.tracker}) {
        stubSockets(e);
        qnChangeEntityState(e, ES_RUNNING);
    }
    setRunState(nullptr, ES_RUNNING);
    s.refresh();
    s.ready = s.device != QN_INVALID_DEVICE && s.tracker != QN_INVALID_CONTROL_POINT;
    return s;
}

inline FuzzStack &fuzzStack()
{
    static FuzzStack stack = makeStack();
    return stack;
}

// The input as the loop leaves a message it read: in the socket's buffer,
// terminated, parsed into msg. False when it does not parse.
inline bool readInto(SockInfo *sock, const uint8_t *data, size_t size, HttpMsg *msg, QNTextDoc *doc)
{
    size_t n = size < kMsgBufSize - 1 ? size : kMsgBufSize - 1;
    std::memcpy(sock->data, data, n);
    sock->data[n] = '\0';
    sock->len = static_cast<uint32_t>(n);
    *msg = HttpMsg{};
    *doc = kHttpDocTemplate;
    docInitRead(doc, sock->data);
    doc->size = kMsgBufSize;
    doc->user = msg;
    msg->sock = sock;
    if (httpParse(doc, msg) != 0)
        return false;
    msg->sock = sock;
    return true;
}

} // namespace qnfuzz
