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

bool hostNamesDevice(const EntitySlot *slot, const char *host)
{
    char own[QN_NAME_MAX_LEN + 8];
    deviceAuthority(slot, own, sizeof own);
    if (host != nullptr && std::strcmp(host, own) == 0)
        return true;
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
    char resolved[QN_VAL_MAX_LEN];
    joinUrl(slot->descUrl, url, resolved, sizeof resolved);
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
