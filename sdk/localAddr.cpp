#include "localAddr.h"

#include "log.h"
#include "text.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <unistd.h>

namespace {

bool isLoopback(in_addr a)
{
    return (ntohl(a.s_addr) >> 24) == 127; // 127.0.0.1, Debian's 127.0.1.1, ...
}

bool interfaceAddr(in_addr *out)
{
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    bool found = false;
    for (ifaddrs *i = list; i != nullptr && !found; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET)
            continue;
        unsigned flags = i->ifa_flags;
        if (!(flags & IFF_UP) || (flags & IFF_LOOPBACK) || !(flags & IFF_MULTICAST))
            continue;
        in_addr a = reinterpret_cast<sockaddr_in *>(i->ifa_addr)->sin_addr;
        if (isLoopback(a))
            continue;
        *out = a;
        found = true;
    }
    freeifaddrs(list);
    return found;
}

bool hostNameAddr(in_addr *out)
{
    char host[QN_NAME_MAX_LEN] = {};
    if (gethostname(host, sizeof host - 1) != 0)
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo *found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0)
        return false;
    bool ok = false;
    for (addrinfo *i = found; i != nullptr && !ok; i = i->ai_next) {
        in_addr a = reinterpret_cast<sockaddr_in *>(i->ai_addr)->sin_addr;
        if (!isLoopback(a)) {
            *out = a;
            ok = true;
        }
    }
    freeaddrinfo(found);
    return ok;
}

} // namespace

int getLocalAddr(uint32_t *addr, char *addrText, int textSize)
{
    if (addr == nullptr && addrText == nullptr)
        return QN_ERR_ARG;
    in_addr chosen{};
    if (addrText != nullptr && addrText[0] != '\0') {
        if (inet_pton(AF_INET, addrText, &chosen) != 1)
            return -1;
    } else if (!interfaceAddr(&chosen) && !hostNameAddr(&chosen)) {
        return -1;
    } else {
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &chosen, text, sizeof text);
        consolePrint("%s\n", text);
        if (addrText != nullptr && textSize > 0)
            copyBounded(addrText, static_cast<size_t>(textSize), text);
    }
    if (addr != nullptr && *addr == 0)
        *addr = ntohl(chosen.s_addr);
    return 0;
}
