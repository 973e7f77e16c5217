// GENA roles. Not built yet: the roles decline every request.
#include "roles.h"

int genaMatch(MsgHandler *) { return -1; }
int genaHandle(MsgHandler *) { return 0; }
int eventMatch(MsgHandler *) { return -1; }
int eventHandle(MsgHandler *) { return 0; }
void genaForgetDevice(QN_ENTITY) {}
