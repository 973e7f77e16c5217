// The private network that every test program opening sockets runs in.
#pragma once

#include <string>

namespace qntest {

// Moves the calling process (before it starts any thread) into a new network
// namespace: loopback up with multicast, a route for 239.0.0.0/8 through it
// and a second test address (kSecondAddr) on it, so that two hosts can be
// simulated. Returns false with the reason when the namespace cannot be made;
// the caller then skips its tests and never falls back to the real network.
bool enterPrivateNetwork(std::string *why);

// True once enterPrivateNetwork has succeeded in this process.
bool inPrivateNetwork();

inline constexpr const char *kFirstAddr = "127.0.0.1";
inline constexpr const char *kSecondAddr = "10.77.0.1";

// Folder of the test data copied into the repository.
std::string dataPath(const std::string &relative);

} // namespace qntest
