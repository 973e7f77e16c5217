#include "ifaceTable.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string_view>

namespace {

using Clock = std::chrono::steady_clock;

// Addresses kept; a host with more keeps its first ones (and a peer of a
// subnet beyond them is refused, never wrongly accepted).
constexpr int kMaxIfaceAddrs = 64;
constexpr auto kKeepFor = std::chrono::seconds(5);
// An interface index the table does not know (a card just plugged in)
// reads the system again, but not more often than this.
constexpr auto kRereadAfter = std::chrono::seconds(1);

struct IfaceAddr {
    int index;
    uint32_t addr; // network byte order
    uint32_t mask; // network byte order
};

struct IfaceTable {
    std::mutex lock;
    IfaceAddr addrs[kMaxIfaceAddrs];
    int count = 0;
    bool read = false;
    Clock::time_point readAt;
};

IfaceTable table;

// "eth0:1" (an address label) belongs to eth0.
int indexOf(const char *name)
{
    char base[IF_NAMESIZE + 1] = {};
    std::string_view n(name);
    n = n.substr(0, n.find(':'));
    if (n.size() > IF_NAMESIZE)
        return 0;
    std::memcpy(base, n.data(), n.size());
    return static_cast<int>(if_nametoindex(base));
}

// Reads the interfaces that are up. Called with the lock held.
void readTable(Clock::time_point now)
{
    table.count = 0;
    table.read = true;
    table.readAt = now;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return;
    for (ifaddrs *i = list; i != nullptr && table.count < kMaxIfaceAddrs; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP))
            continue;
        IfaceAddr &a = table.addrs[table.count];
        a.index = indexOf(i->ifa_name);
        a.addr = reinterpret_cast<sockaddr_in *>(i->ifa_addr)->sin_addr.s_addr;
        a.mask = i->ifa_netmask != nullptr ? reinterpret_cast<sockaddr_in *>(i->ifa_netmask)->sin_addr.s_addr
                                           : 0xFFFFFFFFu;
        ++table.count;
    }
    freeifaddrs(list);
}

void refresh(Clock::time_point now)
{
    if (!table.read || now - table.readAt >= kKeepFor)
        readTable(now);
}

bool knowsIndex(int ifIndex)
{
    for (int i = 0; i < table.count; ++i)
        if (table.addrs[i].index == ifIndex)
            return true;
    return false;
}

bool holds(int ifIndex, uint32_t addr)
{
    for (int i = 0; i < table.count; ++i) {
        const IfaceAddr &a = table.addrs[i];
        if ((ifIndex == 0 || a.index == ifIndex) && (addr & a.mask) == (a.addr & a.mask))
            return true;
    }
    return false;
}

} // namespace

bool ifaceHoldsPeer(int ifIndex, uint32_t addr)
{
    std::lock_guard guard(table.lock);
    auto now = Clock::now();
    refresh(now);
    if (ifIndex != 0 && !knowsIndex(ifIndex) && now - table.readAt >= kRereadAfter)
        readTable(now);
    return holds(ifIndex, addr);
}

bool isLocalAddr(uint32_t addr)
{
    if ((ntohl(addr) >> 24) == 127)
        return true;
    std::lock_guard guard(table.lock);
    refresh(Clock::now());
    for (int i = 0; i < table.count; ++i)
        if (table.addrs[i].addr == addr)
            return true;
    return false;
}

void ifaceTableReset()
{
    std::lock_guard guard(table.lock);
    table.read = false;
    table.count = 0;
}
