// Plain socket helpers for tests: a raw client that speaks bytes to the
// stack, without going through any of its code.
#pragma once

#include <cstdint>
#include <string>

namespace qntest {

// A connected TCP socket that closes itself.
class RawConn {
public:
    // from: the local address to connect from (any when absent).
    RawConn(const char *addr, uint16_t port, const char *from = nullptr);
    ~RawConn();
    RawConn(const RawConn &) = delete;
    RawConn &operator=(const RawConn &) = delete;

    bool connected() const { return fd_ >= 0; }
    bool send(const std::string &bytes);
    // Reads until the peer closes or waitMs passes without data.
    std::string readAll(int waitMs = 3000);
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

// Sends one request (from the local address `from`, any when absent) and
// returns everything the server answers.
std::string exchange(const char *addr, uint16_t port, const std::string &request, int waitMs = 3000,
                     const char *from = nullptr);

// A free TCP port on the loopback interface (bound and released).
uint16_t freePort();

// A listening TCP socket on addr:port (port 0: the system picks one), with
// SO_REUSEADDR; -1 when it cannot be made.
int listenTcp(const char *addr, uint16_t port, int backlog);

// A TCP socket connecting to 127.0.0.1:port, with a receive buffer of
// rcvbuf bytes when rcvbuf > 0 (a peer that hardly reads). A non-blocking
// one may still be connecting; a blocking one is -1 when the connect fails.
int connectLoopback(uint16_t port, bool blocking, int rcvbuf = 0);

// The descriptors this process has open.
int openDescriptors();

} // namespace qntest
