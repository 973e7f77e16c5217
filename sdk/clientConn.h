// One HTTP exchange of the stack's own: a control point's SOAP call or
// subscription, or a device's event delivery. Each exchange opens a
// connection of its own, bound to the entity's local address (so that the
// peer sees the address the stack announced), with a bounded connect, and
// reads the answer into a heap buffer of its own: calls on several threads
// never share a record.
#pragma once

#include "cpUrl.h"
#include "http.h"
#include "server.h"
#include "sock.h"

#include <cstdint>
#include <memory>

class ClientConn {
public:
    ClientConn() = default;
    ~ClientConn() { close(); }
    ClientConn(const ClientConn &) = delete;
    ClientConn &operator=(const ClientConn &) = delete;

    // Connects to addr:port (network byte order) from localAddr (dotted
    // text; empty or unusable: any), waiting at most connectWaitMs. Answers
    // are read with readWaitUs per piece. 0, QN_ERR_NOMEM or QN_ERR_SOCK.
    [[nodiscard]] int open(const char *localAddr, uint32_t addr, uint16_t port, int connectWaitMs,
                           int32_t readWaitUs);
    // Sends a request through httpSendRequest (caller headers, then with a
    // body Content-Length, Connection and Pragma).
    [[nodiscard]] int request(int method, const char *uri, const HttpHeader *headers, int count, const char *body,
                              uint32_t bodyLen);
    // Writes msg (start line and headers as httpSerialize writes them) and
    // body behind it, and sends the whole at once: one segment for a small
    // message, so that no delayed acknowledgement holds the body back.
    [[nodiscard]] int sendWhole(HttpMsg *msg, const char *body, uint32_t bodyLen);
    // Reads the answer into the buffer and parses its head into msg: 0,
    // QN_ERR_SOCK when the read failed or nothing arrived, or the parser's
    // error. The body
    // (msg->body, from the empty line on) stays valid until close.
    [[nodiscard]] int readAnswer(HttpMsg *msg);
    void close();

private:
    SockInfo rec_{};
    std::unique_ptr<char[]> buf_;
    MsgHandler handler_{};
};

// What a control-point call takes from the model under the stack lock,
// so that it can talk to the device without holding it.
struct CpCall {
    RemoteTarget target;            // where the request goes, and its Host
    bool absolute;                  // the description's URL was an absolute http URL
    char localAddr[kAddrTextLen];   // the control point's address
    uint16_t eventPort;             // its event listener
    char eventPath[QN_NAME_MAX_LEN];
};

// Results of prepareCpCall beyond 0 and QN_ERR_ARG.
enum CpPrepare : int {
    CP_NOT_RUNNING = 1,  // the role is not running
    CP_NO_DEVICE = 2,    // no active tracked root or no recorded address
    CP_NO_SERVICE = 3,   // no service of that type
    CP_NO_URL = 4,       // the service lacks the URL field or it is empty
};

// Under the stack lock: checks that cp is a control point whose role
// (CR_SOAP or CR_EVENT) runs and whose tracked root is active with a
// recorded address, finds the first service of serviceType and resolves
// its urlField. 0 with *out filled, QN_ERR_ARG for a handle that is not a
// control point, or one of CpPrepare.
int prepareCpCall(QN_CONTROL_POINT cp, int role, const char *serviceType, const char *urlField, CpCall *out);

// Opens a connection for a prepared call: connect within kConnectWaitMs,
// answers read with absoluteWaitUs or relativeWaitUs.
[[nodiscard]] int openCpCall(ClientConn &conn, const CpCall &call, int32_t absoluteWaitUs, int32_t relativeWaitUs);

// Builds one header record.
HttpHeader makeHeader(int index, std::string_view value);
