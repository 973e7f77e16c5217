#include "devRequest.h"

#include "cpUrl.h"
#include "log.h"
#include "query.h"
#include "text.h"

#include <cstring>
#include <string_view>

EntitySlot *requestDevice(MsgHandler *handler)
{
    HttpMsg *msg = handler != nullptr ? handler->msg : nullptr;
    SockInfo *sock = msg != nullptr ? msg->sock : nullptr;
    if (sock == nullptr || sock->data == nullptr || msg->doc == nullptr || msg->doc->text != sock->data)
        return nullptr;
    EntitySlot *slot = entityOf(handler);
    if (slot == nullptr || slot->kind != EK_DEVICE || slot->desc == nullptr)
        return nullptr;
    return slot;
}

void deviceAuthority(const EntitySlot *slot, char *out, size_t outSize)
{
    if (slot->dev.soapPort == 80)
        copyBounded(out, outSize, slot->dev.ipAddr);
    else
        strBuild(out, static_cast<int>(outSize), "s", slot->dev.ipAddr, "s", ":", "u",
                 static_cast<unsigned>(slot->dev.soapPort), "");
}

namespace {

// True when host is the device's address, alone or followed by ":" and
// decimal port digits. An authority without a port means port 80, so
// "10.0.0.5:80" names a device on port 80 as well as "10.0.0.5" does:
// Python's urllib and other clients always write the port.
bool authorityMatches(const EntitySlot *slot, std::string_view host)
{
    std::string_view addr = host;
    unsigned long port = 80;
    size_t colon = host.rfind(':');
    if (colon != std::string_view::npos) {
        addr = host.substr(0, colon);
        std::string_view digits = host.substr(colon + 1);
        if (digits.empty() || digits.size() > 5)
            return false;
        port = 0;
        for (char c : digits) {
            if (c < '0' || c > '9')
                return false;
            port = port * 10 + static_cast<unsigned long>(c - '0');
        }
    }
    return addr == slot->dev.ipAddr && port == slot->dev.soapPort;
}

} // namespace

bool hostNamesDevice(const EntitySlot *slot, const char *host)
{
    if (host != nullptr && authorityMatches(slot, host))
        return true;
    char own[QN_NAME_MAX_LEN + 8];
    deviceAuthority(slot, own, sizeof own);
    consolePrint(" host = %s, val = %s\r\n", own, host != nullptr ? host : "NULL");
    return false;
}

namespace {

// The path part of an absolute http URL ("/" when it names none).
std::string_view pathOfUrl(std::string_view url)
{
    size_t scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return url;
    size_t slash = url.find('/', scheme + 3);
    return slash == std::string_view::npos ? std::string_view("/") : url.substr(slash);
}

bool pathMatches(const EntitySlot *slot, const char *url, const char *target)
{
    if (url == nullptr || url[0] == '\0')
        return false;
    if (std::strcmp(url, target) == 0)
        return true;
    if (url[0] == '/' || strncasecmp(url, "http://", 7) == 0)
        return false;
    // UDA 1.0, 2.1: relative URLs resolve against URLBase when the
    // description has one (it names this device, see customizeUrlBase),
    // otherwise against the URL the description was fetched from.
    const QNNameVal &base = slot->desc->urlBase;
    bool hasBase = std::strcmp(base.name, "URLBase") == 0 && base.val[0] != '\0';
    char resolved[QN_VAL_MAX_LEN];
    joinUrl(hasBase ? base.val : slot->descUrl, url, resolved, sizeof resolved);
    return pathOfUrl(resolved) == target;
}

QNServDesc *findAtPath(const EntitySlot *slot, QNDevDesc *dev, const char *urlField, const char *target)
{
    for (int i = 0; i < dev->serviceCount; ++i) {
        QNServDesc *serv = dev->services[i];
        if (serv != nullptr && pathMatches(slot, findNameVal(serv->fields, serv->fieldCount, urlField), target))
            return serv;
    }
    for (int i = 0; i < dev->deviceCount; ++i) {
        QNServDesc *found = dev->devices[i] != nullptr ? findAtPath(slot, dev->devices[i], urlField, target) : nullptr;
        if (found != nullptr)
            return found;
    }
    return nullptr;
}

} // namespace

QNServDesc *serviceAtPath(EntitySlot *slot, const char *urlField, const char *target)
{
    if (slot == nullptr || slot->desc == nullptr || target == nullptr || target[0] == '\0')
        return nullptr;
    return findAtPath(slot, &slot->desc->device, urlField, target);
}

const char *serviceTypeOf(const QNServDesc *serv)
{
    const char *type = serv != nullptr ? findNameVal(serv->fields, serv->fieldCount, "serviceType") : nullptr;
    return type != nullptr ? type : "";
}

RequestGuard::RequestGuard(MsgHandler *h)
    : handler(h), slot(entityOf(h)), msg(h->msg), sock(h->msg != nullptr ? h->msg->sock : nullptr),
      data(sock != nullptr ? sock->data : nullptr)
{
}

bool RequestGuard::alive() const
{
    return slot != nullptr && entityOf(handler) == slot && slot->kind == EK_DEVICE && handler->msg == msg &&
           sock != nullptr && sock->data == data && data != nullptr && sock->workFd != 0;
}
