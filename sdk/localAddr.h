// The address an entity announces and listens on when its settings give none.
#pragma once

#include <cstdint>

// Fills addrText (when empty; at most textSize bytes) and addr (when 0, host
// byte order) with the local IPv4 address to use: an address already in
// addrText is taken as it is, without any look-up. Otherwise the first
// address of an interface that is up, not loopback and multicast-capable;
// only when there is none, the host name's first address that is not a
// loopback address. Returns 0, -1 when nothing fits, QN_ERR_ARG when both
// outputs are absent.
int getLocalAddr(uint32_t *addr, char *addrText, int textSize);
