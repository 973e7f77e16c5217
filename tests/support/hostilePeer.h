// Hostile SSDP peers for tests, built on plain sockets: a datagram sender
// bound to any address and port, a sender of datagrams with a forged
// source (address and port, through a raw socket), and a sniffer that sees
// every search answer that crosses the loopback interface, whoever it is
// addressed to. Header only; for test programs that run in their private
// network namespace (the raw sockets need its privileges).
#pragma once

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qntest {

inline constexpr const char *kGroup = "239.255.255.250";

inline sockaddr_in ipv4(const char *addr, uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    inet_pton(AF_INET, addr, &sa.sin_addr);
    return sa;
}

// A UDP socket bound to from:port (any port when 0), optionally a member
// of the SSDP group on port 1900.
class UdpPeer {
public:
    explicit UdpPeer(const char *from = "127.0.0.1", uint16_t port = 0, bool joinGroup = false)
    {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        int room = 1 << 20;
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
        sockaddr_in sa = ipv4(joinGroup ? "0.0.0.0" : from, port);
        bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        in_addr iface{};
        inet_pton(AF_INET, from, &iface);
        setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &iface, sizeof iface);
        if (joinGroup) {
            ip_mreq mreq{};
            inet_pton(AF_INET, kGroup, &mreq.imr_multiaddr);
            setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq);
        }
    }
    ~UdpPeer() { close(fd_); }
    UdpPeer(const UdpPeer &) = delete;
    UdpPeer &operator=(const UdpPeer &) = delete;

    bool sendTo(const std::string &text, const char *addr = kGroup, uint16_t port = 1900)
    {
        sockaddr_in to = ipv4(addr, port);
        return sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) ==
               static_cast<ssize_t>(text.size());
    }

    // Every datagram that arrives within the time.
    std::vector<std::string> collect(std::chrono::milliseconds during)
    {
        std::vector<std::string> got;
        auto end = std::chrono::steady_clock::now() + during;
        static char buf[1 << 16];
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return got;
            ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n >= 0)
                got.emplace_back(buf, static_cast<size_t>(n));
        }
    }

private:
    int fd_ = -1;
};

// Sends UDP datagrams with any source address and port, as an attacker
// that forges them would (a raw socket writes the IP header itself).
class ForgedUdp {
public:
    ForgedUdp() { fd_ = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW); }
    ~ForgedUdp() { close(fd_); }
    ForgedUdp(const ForgedUdp &) = delete;
    ForgedUdp &operator=(const ForgedUdp &) = delete;
    bool ready() const { return fd_ >= 0; }

    bool send(const char *fromAddr, uint16_t fromPort, const std::string &payload, const char *to = kGroup,
              uint16_t toPort = 1900)
    {
        std::vector<char> packet(sizeof(iphdr) + sizeof(udphdr) + payload.size());
        auto *ip = reinterpret_cast<iphdr *>(packet.data());
        auto *udp = reinterpret_cast<udphdr *>(packet.data() + sizeof(iphdr));
        ip->version = 4;
        ip->ihl = 5;
        ip->ttl = 4;
        ip->protocol = IPPROTO_UDP;
        ip->tot_len = htons(static_cast<uint16_t>(packet.size()));
        inet_pton(AF_INET, fromAddr, &ip->saddr);
        inet_pton(AF_INET, to, &ip->daddr);
        udp->source = htons(fromPort);
        udp->dest = htons(toPort);
        udp->len = htons(static_cast<uint16_t>(sizeof(udphdr) + payload.size()));
        udp->check = 0; // none: allowed for UDP over IPv4
        std::memcpy(packet.data() + sizeof(iphdr) + sizeof(udphdr), payload.data(), payload.size());
        sockaddr_in dest = ipv4(to, toPort);
        return sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&dest), sizeof dest) ==
               static_cast<ssize_t>(packet.size());
    }

private:
    int fd_ = -1;
};

// Sees every UDP datagram on the loopback interface whose payload contains
// `marker` (a device's Usn): the search answers of that device, wherever
// they were sent. Runs a thread of its own from construction to destruction.
class AnswerSniffer {
public:
    struct Seen {
        std::chrono::steady_clock::time_point at;
        uint32_t toAddr; // network byte order
        uint16_t toPort; // host byte order
    };

    explicit AnswerSniffer(std::string marker) : marker_(std::move(marker))
    {
        fd_ = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_IP));
        int room = 8 << 20;
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);
        sockaddr_ll lo{};
        lo.sll_family = AF_PACKET;
        lo.sll_protocol = htons(ETH_P_IP);
        lo.sll_ifindex = static_cast<int>(if_nametoindex("lo"));
        if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr *>(&lo), sizeof lo) != 0) {
            close(fd_);
            fd_ = -1;
        }
        if (fd_ >= 0)
            thread_ = std::thread([this] { run(); });
    }
    ~AnswerSniffer()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            close(fd_);
    }
    AnswerSniffer(const AnswerSniffer &) = delete;
    AnswerSniffer &operator=(const AnswerSniffer &) = delete;
    bool ready() const { return fd_ >= 0; }

    std::vector<Seen> seen()
    {
        std::lock_guard guard(lock_);
        return seen_;
    }
    void clear()
    {
        std::lock_guard guard(lock_);
        seen_.clear();
    }

private:
    void run()
    {
        // Not thread_local: static TLS would take room on every thread's
        // stack, and the stack's server thread runs on 64 KiB.
        std::vector<char> room(1 << 16);
        char *buf = room.data();
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            sockaddr_ll from{};
            socklen_t size = sizeof from;
            ssize_t n = recvfrom(fd_, buf, room.size(), 0, reinterpret_cast<sockaddr *>(&from), &size);
            // Loopback shows each packet twice: going out and coming in.
            if (n < static_cast<ssize_t>(sizeof(iphdr) + sizeof(udphdr)) || from.sll_pkttype == PACKET_OUTGOING)
                continue;
            const auto *ip = reinterpret_cast<const iphdr *>(buf);
            size_t head = static_cast<size_t>(ip->ihl) * 4;
            if (ip->protocol != IPPROTO_UDP || head + sizeof(udphdr) > static_cast<size_t>(n))
                continue;
            const auto *udp = reinterpret_cast<const udphdr *>(buf + head);
            std::string payload(buf + head + sizeof(udphdr), static_cast<size_t>(n) - head - sizeof(udphdr));
            if (payload.rfind("HTTP/1.1 200 OK\r\n", 0) != 0 || payload.find(marker_) == std::string::npos)
                continue;
            std::lock_guard guard(lock_);
            seen_.push_back({std::chrono::steady_clock::now(), ip->daddr, ntohs(udp->dest)});
        }
    }

    std::string marker_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex lock_;
    std::vector<Seen> seen_;
};

// The largest number of items within any window of the given length.
inline size_t busiestWindow(const std::vector<AnswerSniffer::Seen> &seen, std::chrono::milliseconds window)
{
    size_t best = 0;
    for (size_t first = 0, last = 0; last < seen.size(); ++last) {
        while (seen[last].at - seen[first].at >= window)
            ++first;
        best = std::max(best, last - first + 1);
    }
    return best;
}

} // namespace qntest
