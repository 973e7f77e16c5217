// Received SSDP datagrams: the acceptance checks, the dispatch to the roles
// and the device's answers to searches.
#include "ssdp.h"
#include "ssdpPace.h"

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
        return searchSourceAllowed(msg->sock->peer, msg->sock->ifIndex) ? 0 : -1;
    // The search monitor reports every searcher and answers nobody.
    if (findHeader(msg, HH_ST) != nullptr && slot->dev.msgHandler != nullptr) {
        uintptr_t searcher = ntohl(msg->sock->peer.sin_addr.s_addr);
        (void)slot->dev.msgHandler(slot->self, MT_DEV_SEARCH, 0, reinterpret_cast<void *>(searcher));
    }
    return -1;
}

// A control point that knows its device's address (a bound one, or one
// whose cpType keeps the address) takes only messages whose Location names
// that address and that port, both: a peer that merely shares the port, or
// the address, must not take the device over. A bound control point
// further hears only its own description URL. A plain control point
// follows any device: the address it holds while it fetches a description
// is not its device's, and what comes meanwhile waits for its turn.
bool locationRefused(const EntitySlot *cp, const char *location, uint32_t addr, uint16_t port)
{
    const QNRootDesc *desc = cp->desc;
    if (cp->cp.cpType != CPT_PLAIN && desc != nullptr && desc->hostAddr != 0 && desc->hostPort != 0 &&
        (addr != desc->hostAddr || port != desc->hostPort))
        return true;
    return cp->boundUrl[0] != '\0' && strcasecmp(location, cp->boundUrl) != 0;
}

// The Location must name the host the datagram came from: a peer cannot
// send a control point to fetch from a third host (or from a name that
// would need a look-up), nor from one of this process's own listeners:
// its own devices are known from their records.
bool locationVouched(const HttpMsg *msg, uint32_t addr, uint16_t port)
{
    return addr == msg->sock->peer.sin_addr.s_addr && !isOwnListener(addr, port);
}

// A byebye names no Location: it must come from the address of the device
// it names, when that address is known.
bool byebyeVouched(const EntitySlot *cp, const HttpMsg *msg)
{
    const QNRootDesc *desc = cp->desc;
    return desc == nullptr || desc->hostAddr == 0 || desc->hostAddr == msg->sock->peer.sin_addr.s_addr;
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
        return isGroupNotify(msg) && byebyeVouched(cp, msg) && tracksActive(cp->desc, findHeader(msg, HH_NT), usn)
                   ? 0
                   : -1;
    uint32_t addr = 0;
    uint16_t port = 0;
    const char *location = findHeader(msg, HH_LOCATION);
    if (!parseLocation(location, &addr, &port) || !locationVouched(msg, addr, port) ||
        locationRefused(cp, location, addr, port))
        return -1;
    if (role == kRoleCpSearch) {
        const char *ext = findHeader(msg, HH_EXT);
        bool ok = msg->method == HM_RESPONSE && findHeader(msg, HH_ST) != nullptr && ext != nullptr &&
                  ext[0] == '\0' && findHeader(msg, HH_SERVER) != nullptr;
        return ok ? 0 : -1;
    }
    return isGroupNotify(msg) ? 0 : -1;
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

// A search is answered for every running device on the listener (they
// share it, and the server hands each datagram to one handler), paced by
// the search's MX and the answer rate. Each device's handler hears of the
// searches that are answered, not of every datagram of a flood.
int devHandleSearch(MsgHandler *handler)
{
    HttpMsg *msg = handler->msg;
    const char *st = findHeader(msg, HH_ST);
    if (entityOf(handler) == nullptr || st == nullptr)
        return -1;
    char target[QN_VAL_MAX_LEN];
    copyBounded(target, sizeof target, st);
    const SockInfo *listener = msg->sock;
    if (!queueSearchAnswers(listener, msg->sock->peer, target, searchWindowMs(findHeader(msg, HH_MX)), paceNowMs()))
        return -1;
    for (QN_ENTITY e = 0; e < QN_MAX_ENTITY; ++e) {
        EntitySlot *slot = entityAt(e);
        if (slot == nullptr || slot->kind != EK_DEVICE || slot->universal || !slot->registered[DR_SSDP] ||
            slot->dev.msgHandler == nullptr || countAnswers(slot, target) == 0)
            continue;
        const MsgHandler &ssdp = slot->handlers[DR_SSDP];
        if (ssdp.sock != listener || ssdp.state != ES_RUNNING)
            continue;
        char arg[QN_VAL_MAX_LEN];
        copyBounded(arg, sizeof arg, target);
        if (slot->dev.msgHandler(slot->self, MT_DEV_SEARCH, 0, arg) != 0)
            consolePrint(" onAlive() error!\r\n");
    }
    return 0;
}
