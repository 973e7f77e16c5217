// Received SSDP datagrams: the acceptance checks, the dispatch to the roles
// and the device's answers to searches.
#include "ssdp.h"

#include "log.h"
#include "query.h"
#include "text.h"
#include "track.h"

#include <arpa/inet.h>
#include <strings.h>

#include <cstring>
#include <string_view>

namespace {

uint32_t roleOf(const MsgHandler *handler)
{
    return static_cast<const RoleBlock *>(handler->priv)->role;
}

bool isDiscover(const char *man)
{
    return man != nullptr && (std::strcmp(man, "ssdp:discover") == 0 || std::strcmp(man, "\"ssdp:discover\"") == 0);
}

int filterDeviceSearch(EntitySlot *slot, HttpMsg *msg)
{
    if (msg->method != HM_MSEARCH || std::strcmp(msg->uri, "*") != 0 || !isDiscover(findHeader(msg, HH_MAN)))
        return -1;
    if (!slot->universal)
        return 0;
    // The search monitor reports every searcher and answers nobody.
    if (findHeader(msg, HH_ST) != nullptr && slot->dev.msgHandler != nullptr) {
        uintptr_t searcher = ntohl(msg->sock->peer.sin_addr.s_addr);
        (void)slot->dev.msgHandler(slot->self, MT_DEV_SEARCH, 0, reinterpret_cast<void *>(searcher));
    }
    return -1;
}

// A bound control point hears its description URL, and, once it holds the
// description, any Usn that names one of its UDNs (the device may announce
// another Location after a restart). Other control points hear the address
// they recorded while tracking (when address and port are both known).
bool locationRefused(const EntitySlot *cp, const char *location, uint32_t addr, uint16_t port, const char *usn)
{
    const QNRootDesc *desc = cp->desc;
    if (cp->boundUrl[0] != '\0') {
        if (strcasecmp(location, cp->boundUrl) == 0)
            return false;
        return desc == nullptr || !treeHoldsUdn(&desc->device, usn);
    }
    if (desc == nullptr || desc->hostAddr == 0 || desc->hostPort == 0)
        return false;
    return addr != desc->hostAddr && port != desc->hostPort;
}

bool isGroupNotify(const HttpMsg *msg)
{
    const char *host = findHeader(msg, HH_HOST);
    return msg->method == HM_NOTIFY && findHeader(msg, HH_NT) != nullptr && host != nullptr &&
           std::strcmp(host, kSsdpHost) == 0;
}

int filterControlPoint(EntitySlot *cp, uint32_t role, HttpMsg *msg)
{
    if (findHeader(msg, HH_USN) == nullptr)
        return -1;
    if (cp->desc != nullptr)
        expireCache(&cp->desc->device, ssdpNow());
    // A byebye carries no LOCATION (UDA 1.0, 1.1.3): it is taken by its Usn,
    // and only by a control point that tracks that Usn as active. With many
    // control points on one listener, any other would take it and drop it,
    // leaving the device it names active until its max-age ran out.
    const char *nts = findHeader(msg, HH_NTS);
    const char *usn = findHeader(msg, HH_USN);
    if (role == kRoleCpListen && nts != nullptr && std::strcmp(nts, "ssdp:byebye") == 0 &&
        findHeader(msg, HH_LOCATION) == nullptr)
        return isGroupNotify(msg) && tracksActive(cp->desc, findHeader(msg, HH_NT), usn) ? 0 : -1;
    uint32_t addr = 0;
    uint16_t port = 0;
    const char *location = findHeader(msg, HH_LOCATION);
    if (!parseLocation(location, &addr, &port) || locationRefused(cp, location, addr, port, usn))
        return -1;
    if (role == kRoleCpSearch) {
        const char *ext = findHeader(msg, HH_EXT);
        bool ok = msg->method == HM_RESPONSE && findHeader(msg, HH_ST) != nullptr && ext != nullptr &&
                  ext[0] == '\0' && findHeader(msg, HH_SERVER) != nullptr;
        return ok ? 0 : -1;
    }
    return isGroupNotify(msg) ? 0 : -1;
}

// Sends one search response from a fresh socket to the searcher.
int sendSearchResponse(const EntitySlot *slot, const sockaddr_in &to, const char *target, const char *usn)
{
    SockInfo reply{};
    char addr[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &to.sin_addr, addr, sizeof addr);
    sockInit(&reply, addr, slot->dev.ipAddr, ntohs(to.sin_port), SP_UDP, 0);
    if (sockOpen(&reply) != 0) {
        consolePrint(" sockOpen() error\r\n");
        debugPrint(LOG_SSDP, "Sending - sock open error", LOG_DETAIL);
        return QN_ERR_SOCK;
    }
    int rc = ssdpSend(&reply, SK_RESPONSE, SL_ROOT, slot->descUrl, target, usn, addr, ntohs(to.sin_port));
    debugPrint(LOG_SSDP, "Dev sending search response", LOG_DETAIL);
    sockClose(&reply);
    return rc;
}

// Answers "ssdp:all" with one unicast response per target of an
// announcement pass, as UDA 1.0 (1.2.3) requires.
int answerAll(const EntitySlot *slot, const sockaddr_in &to, const QNDevDesc *dev, bool root)
{
    int rc = 0;
    int found = forEachDeviceTarget(dev, root ? SL_ROOT : SL_EMBEDDED, [&](int, const char *target, const char *usn) {
        rc |= sendSearchResponse(slot, to, target, usn);
    });
    if (found != 0)
        return found;
    for (int i = 0; i < dev->deviceCount; ++i)
        (void)answerAll(slot, to, dev->devices[i], false);
    return rc;
}

int answerTarget(const EntitySlot *slot, const sockaddr_in &to, const char *st)
{
    QNDevDesc *root = &slot->desc->device;
    const char *rootUdn = findNameVal(root->fields, root->fieldCount, "UDN");
    const char *rootType = findNameVal(root->fields, root->fieldCount, "deviceType");
    char usn[QN_VAL_MAX_LEN];
    if (std::strcmp(st, "upnp:rootdevice") == 0) {
        strBuild(usn, sizeof usn, "s", rootUdn, "s", "::upnp:rootdevice", "");
        return sendSearchResponse(slot, to, st, usn);
    }
    bool deviceTarget = std::strncmp(st, "uuid:", 5) == 0 || std::strncmp(st, "urn:schemas-upnp-org:device:", 28) == 0;
    bool serviceTarget = std::strncmp(st, "urn:schemas-upnp-org:service:", 29) == 0;
    if (!deviceTarget && !serviceTarget)
        return -1;
    if (std::strcmp(st, rootType) == 0) {
        strBuild(usn, sizeof usn, "s", rootUdn, "s", "::", "s", rootType, "");
        return sendSearchResponse(slot, to, st, usn);
    }
    if (deviceTarget) {
        bool byUdn = std::strncmp(st, "uuid:", 5) == 0;
        QNDevDesc *dev = static_cast<QNDevDesc *>(findInDevice(root, st, byUdn ? "UDN" : "deviceType", FM_DEVICE));
        if (dev == nullptr)
            return -1;
        if (byUdn)
            return sendSearchResponse(slot, to, st, st);
        strBuild(usn, sizeof usn, "s", findNameVal(dev->fields, dev->fieldCount, "UDN"), "s", "::", "s", st, "");
        return sendSearchResponse(slot, to, st, usn);
    }
    QNDevDesc *holder = static_cast<QNDevDesc *>(findInDevice(root, st, "serviceType", FM_SERVICE_OWNER));
    if (holder == nullptr)
        return -1;
    strBuild(usn, sizeof usn, "s", findNameVal(holder->fields, holder->fieldCount, "UDN"), "s", "::", "s", st, "");
    return sendSearchResponse(slot, to, st, usn);
}

} // namespace

int ssdpFilter(MsgHandler *handler, HttpMsg *msg)
{
    EntitySlot *slot = entityOf(handler);
    if (slot == nullptr || msg == nullptr || handler->state != ES_RUNNING)
        return -1;
    uint32_t role = roleOf(handler);
    if (slot->kind == EK_DEVICE && role == kRoleDevice)
        return filterDeviceSearch(slot, msg);
    if (slot->kind == EK_CTRL_POINT && (role == kRoleCpSearch || role == kRoleCpListen))
        return filterControlPoint(slot, role, msg);
    return -1;
}

int ssdpDispatch(MsgHandler *handler)
{
    switch (roleOf(handler)) {
    case kRoleDevice:
        debugPrint(LOG_SSDP, "Dev handling ssdp search msg", LOG_NOTABLE);
        (void)devHandleSearch(handler);
        break;
    case kRoleCpSearch:
        debugPrint(LOG_SSDP, "CP handling ssdp search result msg", LOG_NOTABLE);
        (void)cpHandleSsdp(handler, false);
        break;
    case kRoleCpListen:
        debugPrint(LOG_SSDP, "CP handling ssdp advertisement msg", LOG_NOTABLE);
        (void)cpHandleSsdp(handler, true);
        break;
    default:
        break;
    }
    return 0;
}

namespace {

// One device's answer to a search: its handler is told, then the responses
// for the targets that match go to the searcher.
int answerSearch(EntitySlot *slot, const HttpMsg *msg, const char *st)
{
    if (slot->desc == nullptr)
        return -1;
    QNDevDesc *root = &slot->desc->device;
    if (findNameVal(root->fields, root->fieldCount, "deviceType") == nullptr ||
        findNameVal(root->fields, root->fieldCount, "UDN") == nullptr)
        return -1;
    char target[QN_VAL_MAX_LEN];
    copyBounded(target, sizeof target, st);
    if (slot->dev.msgHandler != nullptr && slot->dev.msgHandler(slot->self, MT_DEV_SEARCH, 0, target) != 0)
        consolePrint(" onAlive() error!\r\n");
    // A byebye device does not answer searches as if it were alive.
    if (!slot->announceAlive)
        return 0;
    sockaddr_in to = msg->sock->peer;
    if (std::strcmp(target, "ssdp:all") == 0)
        return answerAll(slot, to, root, true);
    return answerTarget(slot, to, target);
}

} // namespace

int devHandleSearch(MsgHandler *handler)
{
    HttpMsg *msg = handler->msg;
    const char *st = findHeader(msg, HH_ST);
    if (entityOf(handler) == nullptr || st == nullptr)
        return -1;
    // The devices of one process share one SSDP listener, and the server
    // hands each datagram to one handler: that one answers for every
    // running device on the listener, as each would answer on its own
    // (several root devices behind one address answer a search each).
    int rc = -1;
    for (QN_ENTITY e = 0; e < QN_MAX_ENTITY; ++e) {
        EntitySlot *slot = entityAt(e);
        if (slot == nullptr || slot->kind != EK_DEVICE || slot->universal || !slot->registered[DR_SSDP])
            continue;
        const MsgHandler &ssdp = slot->handlers[DR_SSDP];
        if (ssdp.sock == msg->sock && ssdp.state == ES_RUNNING && answerSearch(slot, msg, st) == 0)
            rc = 0;
    }
    return rc;
}
