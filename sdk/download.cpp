// The control point's description download record. Not built yet.
#include "roles.h"

int downloadMatch(MsgHandler *) { return -1; }
int downloadHandle(MsgHandler *) { return 0; }
