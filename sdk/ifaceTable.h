// The host's IPv4 interfaces as the checks on peers see them: which
// subnets an interface holds, and which addresses are the host's own. The
// table is read from the system at most once a second and kept for a few,
// so that a flood of datagrams costs no system call per datagram. Safe to
// call from any thread.
#pragma once

#include <cstdint>

// True when addr (network byte order) lies in a subnet of the interface
// with index ifIndex; with ifIndex 0 (unknown), in a subnet of any
// interface that is up.
bool ifaceHoldsPeer(int ifIndex, uint32_t addr);

// True when addr (network byte order) is one of the host's own addresses
// or a loopback address.
bool isLocalAddr(uint32_t addr);

// Forgets the table, so that the next question reads the system again
// (tests that change the interfaces).
void ifaceTableReset();
