// SSDP roles. Discovery and advertisement are not built yet: the roles are
// registered but decline every datagram, and the timed tasks do nothing.
#include "roles.h"

int ssdpMatch(MsgHandler *) { return -1; }
int ssdpHandle(MsgHandler *) { return 0; }
int advertiseTask(MsgHandler *) { return 0; }
int cpSearchTask(MsgHandler *) { return 0; }
