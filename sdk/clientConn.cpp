// Outgoing exchanges of the control point and of event delivery.
#include "clientConn.h"

#include "entity.h"
#include "log.h"
#include "query.h"
#include "text.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace {

// Binds to the local address so that the peer sees the address the entity
// announced (a subscriber's Callback names it). An address that cannot be
// bound leaves the choice to the system.
void bindLocal(int fd, const char *localAddr)
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (localAddr == nullptr || inet_pton(AF_INET, localAddr, &local.sin_addr) != 1 ||
        local.sin_addr.s_addr == htonl(INADDR_ANY))
        return;
    if (bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0)
        debugPrint(LOG_SOCK, "Client - local address not bound\r\n", LOG_NOTABLE);
}

} // namespace

int ClientConn::open(const char *localAddr, uint32_t addr, uint16_t port, int connectWaitMs, int32_t readWaitUs)
{
    close();
    buf_.reset(new (std::nothrow) char[kSoapAnswerMax]);
    if (buf_ == nullptr)
        return QN_ERR_NOMEM;
    in_addr a{addr};
    char peerText[kAddrTextLen];
    copyBounded(peerText, sizeof peerText, inet_ntoa(a));
    sockInit(&rec_, peerText, localAddr, ntohs(port), SP_TCP_CLIENT, readWaitUs);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0)
        fd = sockAvoidZero(fd);
    if (fd < 0) {
        consolePrint(" socket() error: 0x%x\r\n", errno);
        return QN_ERR_SOCK;
    }
    bindLocal(fd, localAddr);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = addr;
    peer.sin_port = port;
    int err = sockConnectWithin(fd, peer, connectWaitMs);
    if (err != 0) {
        consolePrint(" connect() error: 0x%x\r\n", err);
        ::close(fd);
        return QN_ERR_SOCK;
    }
    sockBoundSends(fd);
    rec_.fd = fd;
    rec_.data = buf_.get();
    rec_.len = static_cast<uint32_t>(kSoapAnswerMax);
    handler_ = MsgHandler{};
    handler_.entity = QN_MAX_ENTITY;
    handler_.sock = &rec_;
    return 0;
}

int ClientConn::request(int method, const char *uri, const HttpHeader *headers, int count, const char *body,
                        uint32_t bodyLen)
{
    if (rec_.fd == 0)
        return QN_ERR_SOCK;
    rec_.len = static_cast<uint32_t>(kSoapAnswerMax);
    return httpSendRequest(&handler_, method, uri, headers, count, body, bodyLen);
}

int ClientConn::sendWhole(HttpMsg *msg, const char *body, uint32_t bodyLen)
{
    if (rec_.fd == 0 || msg == nullptr)
        return QN_ERR_SOCK;
    QNTextDoc doc = kHttpDocTemplate;
    doc.write = docAppend;
    docInitWrite(&doc, rec_.data, static_cast<uint32_t>(kSoapAnswerMax));
    doc.user = msg;
    msg->body = nullptr;
    msg->sock = &rec_;
    int rc = httpSerialize(&doc, msg);
    size_t head = doc.len;
    if (rc != 0 || head + bodyLen >= kSoapAnswerMax)
        return rc != 0 ? rc : QN_ERR_NOMEM;
    if (bodyLen > 0)
        std::memcpy(rec_.data + head, body, bodyLen);
    rec_.len = static_cast<uint32_t>(head + bodyLen);
    return sockWrite(&rec_);
}

int ClientConn::readAnswer(HttpMsg *msg)
{
    if (rec_.fd == 0 || msg == nullptr)
        return QN_ERR_SOCK;
    rec_.len = static_cast<uint32_t>(kSoapAnswerMax - 1);
    if (sockRead(&rec_) != 0 || rec_.len == 0)
        return QN_ERR_SOCK; // closed without an answer
    *msg = HttpMsg{};
    return httpParseText(rec_.data, rec_.len, msg);
}

void ClientConn::close()
{
    if (rec_.fd != 0)
        sockClose(&rec_);
    rec_.fd = 0;
}

HttpHeader makeHeader(int index, std::string_view value)
{
    HttpHeader h{};
    h.index = index;
    copyBounded(h.value, sizeof h.value, value);
    return h;
}

namespace {

bool startsWithHttp(const char *url)
{
    return strncasecmp(url, "http://", 7) == 0;
}

} // namespace

int prepareCpCall(QN_CONTROL_POINT cp, int role, const char *serviceType, const char *urlField, CpCall *out)
{
    std::lock_guard guard(stackLock());
    EntitySlot *slot = entityAt(cp);
    if (slot == nullptr || slot->kind != EK_CTRL_POINT || serviceType == nullptr || out == nullptr)
        return QN_ERR_ARG;
    if (!slot->registered[role] || slot->handlers[role].state != ES_RUNNING)
        return CP_NOT_RUNNING;
    const QNRootDesc *desc = slot->desc;
    if (desc == nullptr || desc->device.lastActive == 0 || desc->hostAddr == 0 || desc->hostPort == 0)
        return CP_NO_DEVICE;
    QNServDesc *serv = findServiceByType(&slot->desc->device, serviceType);
    if (serv == nullptr)
        return CP_NO_SERVICE;
    const char *url = findNameVal(serv->fields, serv->fieldCount, urlField);
    if (url == nullptr || url[0] == '\0')
        return CP_NO_URL;
    *out = CpCall{};
    if (resolveRemoteUrl(slot, url, &out->target) != 0)
        return CP_NO_DEVICE;
    out->absolute = startsWithHttp(url);
    copyBounded(out->localAddr, sizeof out->localAddr, slot->cp.ipAddr);
    out->eventPort = slot->cp.eventPort;
    copyBounded(out->eventPath, sizeof out->eventPath, slot->cp.eventPath);
    return 0;
}

int openCpCall(ClientConn &conn, const CpCall &call, int32_t absoluteWaitUs, int32_t relativeWaitUs)
{
    return conn.open(call.localAddr, call.target.addr, call.target.port, kConnectWaitMs,
                     call.absolute ? absoluteWaitUs : relativeWaitUs);
}
