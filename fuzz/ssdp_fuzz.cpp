// Hostile SSDP datagrams through the whole receiving path: parse, each
// role's checks (a device, a plain, a bound and a tracking control point on
// the shared listener, the control points' search socket), the handling,
// and the paced answers. The source of each datagram (address, port,
// interface) comes from the input's first byte. Whatever arrives, every
// answer that goes out is a search response to an allowed searcher, no
// tracked device is taken over by a Location of another host, and nothing
// reads past the datagram.
#include "fuzzStack.h"
#include "ssdp.h"

#include <arpa/inet.h>

using namespace qnfuzz;

namespace {

uint32_t sentAnswers = 0;

// Every paced answer that leaves: a search response, to a searcher the
// checks allowed.
void checkAnswer(const sockaddr_in &to, const char *text, uint32_t len)
{
    uint16_t port = ntohs(to.sin_port);
    check(port == kSsdpPort || port >= 1024);
    check(len > 0 && len < kSsdpMsgMax && std::strlen(text) == len);
    check(std::strncmp(text, "HTTP/1.1 200 OK\r\n", 17) == 0);
    ++sentAnswers;
}

struct Source {
    const char *addr;
    uint16_t port;
    int ifIndex;
};

// 127.0.0.1 is the namespace's own; 10.77.0.1 lies in no subnet of it.
constexpr Source kSources[] = {
    {"127.0.0.1", 1900, 0}, {"127.0.0.1", 40000, 1}, {"127.0.0.1", 4100, 0}, {"127.0.0.1", 7, 0},
    {"127.0.0.1", 0, 0},    {"127.0.0.1", 19, 1},     {"10.77.0.1", 1900, 0}, {"127.0.0.2", 4100, 1},
};

// The device address a tracking control point recorded, before and after.
uint32_t recordedAddr(QN_CONTROL_POINT cp)
{
    EntitySlot *slot = entityAt(cp);
    return slot != nullptr && slot->desc != nullptr ? slot->desc->hostAddr : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzStack &stack = fuzzStack();
    if (!stack.ready || size == 0)
        return 0;
    static bool sinkSet = [] {
        setAnswerSink(checkAnswer);
        return true;
    }();
    (void)sinkSet;
    std::lock_guard guard(stackLock());
    stack.refresh();
    uint8_t pick = data[0];
    const Source &from = kSources[pick % std::size(kSources)];
    // Search responses arrive on the control points' search socket, all
    // else on the shared listener.
    SockInfo *sock = stack.socketOf(stack.plain, (pick & 0x80) ? CR_SEARCH : CR_LISTEN);
    check(sock != nullptr && sock->data != nullptr);
    sock->peer = sockaddr_in{};
    sock->peer.sin_family = AF_INET;
    sock->peer.sin_port = htons(from.port);
    inet_pton(AF_INET, from.addr, &sock->peer.sin_addr);
    sock->ifIndex = from.ifIndex;

    uint32_t trackedBefore = recordedAddr(stack.tracker);
    static HttpMsg msg;
    static QNTextDoc doc;
    if (readInto(sock, data + 1, size - 1, &msg, &doc)) {
        if (MsgHandler *chosen = findHandler(&msg)) {
            chosen->msg = &msg;
            (void)chosen->handle(chosen);
        }
    }
    // A tracking control point never moves to another host's address.
    uint32_t trackedAfter = recordedAddr(stack.tracker);
    check(trackedAfter == 0 || trackedBefore == 0 || trackedAfter == trackedBefore);
    if ((pick & 0x40) != 0)
        sendDueAnswers(paceNowMs() + 5000);
    return 0;
}
