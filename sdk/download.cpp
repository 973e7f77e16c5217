// The control point's HTTP client ("DLing" in the logs): descriptions and
// SCPDs, fetched with one GET each and parsed into the tracked description.
#include "download.h"

#include "cpUrl.h"
#include "log.h"
#include "roles.h"
#include "scpd.h"
#include "text.h"

#include <arpa/inet.h>

#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace {

constexpr int32_t kDownloadWaitUs = 5000000;

// Where the XML document of a response starts: its declaration, or the
// first element after the headers when a device leaves the (optional)
// declaration out.
char *findXml(char *text)
{
    if (char *decl = std::strstr(text, "<?xml"))
        return decl;
    char *body = std::strstr(text, "\r\n\r\n");
    if (body == nullptr)
        return nullptr;
    body += 4;
    while (isBlank(*body))
        ++body;
    return *body == '<' ? body : nullptr;
}

struct DownloadBuffer {
    std::unique_ptr<char[]> data{new (std::nothrow) char[kMsgBufSize]};
    static constexpr uint32_t size = kMsgBufSize;
};

} // namespace

int download(EntitySlot *cp, const char *url, char *buf, uint32_t size, uint32_t *len)
{
    if (cp == nullptr || cp->kind != EK_CTRL_POINT || url == nullptr || buf == nullptr || size < 2) {
        consolePrint(" invalid args\r\n");
        return QN_ERR_ARG;
    }
    const MsgHandler &client = cp->handlers[CR_DOWNLOAD];
    bool addressKnown = cp->desc != nullptr && cp->desc->hostAddr != 0 && cp->desc->hostPort != 0;
    if (client.state != ES_RUNNING || (cp->cp.cpType != CPT_PLAIN && !addressKnown)) {
        debugPrint(LOG_HTTP_XFER, "Wrong state/type?", LOG_NOTABLE);
        return -1;
    }
    RemoteTarget remote{};
    // Downloads run on the server thread: one of our own listeners would
    // never answer while it waits.
    if (resolveRemoteUrl(cp, url, &remote) != 0 || isOwnListener(remote.addr, remote.port))
        return -1;
    in_addr a{remote.addr};
    SockInfo sock{};
    sockInit(&sock, inet_ntoa(a), cp->cp.ipAddr, ntohs(remote.port), SP_TCP_CLIENT, kDownloadWaitUs);
    int rc = sockOpen(&sock);
    if (rc != 0)
        return rc;
    sock.data = buf;
    sock.len = size;
    MsgHandler sender{};
    sender.sock = &sock;
    HttpHeader host{HH_HOST, ""};
    copyBounded(host.value, sizeof host.value, remote.host);
    debugPrint(LOG_HTTP_XFER, "Sending get", LOG_DETAIL);
    rc = httpSendRequest(&sender, HM_GET, remote.path, &host, 1, nullptr, 0);
    if (rc != 0) {
        debugPrint(LOG_HTTP_XFER, "DLing - sock send error", LOG_NOTABLE);
        sockClose(&sock);
        return rc;
    }
    sock.len = size - 1;
    rc = sockRead(&sock);
    if (rc != 0) {
        debugPrint(LOG_HTTP_XFER, "DLing - sock read error", LOG_NOTABLE);
        sockClose(&sock);
        return rc;
    }
    if (len != nullptr)
        *len = sock.len;
    // One console line per document; the text itself only for whoever asked
    // for the transfers in detail (a description is up to 64 KiB).
    consolePrint(" get %s: %u bytes\r\n", url, static_cast<unsigned>(sock.len));
    if (debugEnabled(LOG_HTTP_XFER, LOG_DETAIL))
        debugPrint(LOG_HTTP_XFER, buf, LOG_DETAIL);
    sockClose(&sock);
    return 0;
}

int downloadDescription(EntitySlot *cp, const char *url, bool withScpds)
{
    debugPrintf(LOG_SSDP, LOG_DETAIL, "SCPDURL = %s\r\n", url);
    DownloadBuffer buf;
    if (buf.data == nullptr || download(cp, url, buf.data.get(), buf.size, nullptr) != 0)
        return -1;
    char *xml = findXml(buf.data.get());
    if (xml == nullptr)
        return -1;
    debugPrint(LOG_SSDP, "Parsing desc", LOG_DETAIL);
    QNTextDoc doc;
    uint32_t room = buf.size - static_cast<uint32_t>(xml - buf.data.get());
    xmlDocOpen(&doc, kDescDocKind, xml, room);
    uint32_t addr = cp->desc->hostAddr;
    uint16_t port = cp->desc->hostPort;
    int rc = parseDesc(&doc, cp->desc);
    cp->desc->hostAddr = addr;
    cp->desc->hostPort = port;
    if (rc != 0)
        return rc;
    // SCPD URLs may be relative to the description's location.
    copyBounded(cp->cp.descFile, sizeof cp->cp.descFile, url);
    if (withScpds)
        (void)parseScpdOfDev(cp, &cp->desc->device);
    return 0;
}

namespace {

int fetchScpd(EntitySlot *cp, QNServDesc *serv, char *buf, uint32_t size)
{
    const char *url = findNameVal(serv->fields, serv->fieldCount, "SCPDURL");
    if (url == nullptr || url[0] == '\0') {
        consolePrint(" could not find SCPDURL\r\n");
        debugPrint(LOG_SSDP, "Could not find SCPDURL", LOG_DETAIL);
        return -1;
    }
    debugPrintf(LOG_SSDP, LOG_DETAIL, "SCPDURL = %s\r\n", url);
    if (download(cp, url, buf, size, nullptr) != 0) {
        debugPrint(LOG_SSDP, "DL SCPDURL failed", LOG_DETAIL);
        return -1;
    }
    char *xml = findXml(buf);
    if (xml == nullptr) {
        debugPrint(LOG_SSDP, "Wrong scpd", LOG_DETAIL);
        return -1;
    }
    if (attachNewScpd(serv) == nullptr) {
        debugPrint(LOG_SSDP, "Out of mem", LOG_DETAIL);
        return QN_ERR_NOMEM;
    }
    debugPrint(LOG_SSDP, "Parsing scpd", LOG_DETAIL);
    int rc = parseAttachedScpd(serv, xml, size - static_cast<uint32_t>(xml - buf));
    if (rc != 0)
        debugPrint(LOG_SSDP, "Parsing scpd failed", LOG_DETAIL);
    return rc;
}

int walkScpds(EntitySlot *cp, QNDevDesc *dev, char *buf, uint32_t size)
{
    for (int i = 0; i < dev->serviceCount; ++i) {
        QNServDesc *serv = dev->services[i];
        if (serv->scpd != nullptr) {
            if (serv->extra1 != 0)
                continue; // active: what we have stays
            releaseScpd(serv);
        }
        int rc = fetchScpd(cp, serv, buf, size);
        if (rc != 0)
            return rc;
    }
    for (int i = 0; i < dev->deviceCount; ++i) {
        int rc = walkScpds(cp, dev->devices[i], buf, size);
        if (rc != 0) {
            consolePrint(" parseScpdOfDev() error: %d\r\n", rc);
            return rc;
        }
    }
    return 0;
}

} // namespace

int parseScpdOfDev(EntitySlot *cp, QNDevDesc *dev)
{
    DownloadBuffer buf;
    if (buf.data == nullptr)
        return QN_ERR_NOMEM;
    return walkScpds(cp, dev, buf.data.get(), buf.size);
}

int downloadMatch(MsgHandler *) { return -1; }
int downloadHandle(MsgHandler *) { return 0; }
