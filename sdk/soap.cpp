// SOAP control roles. Not built yet: the roles decline every request.
#include "roles.h"

int soapMatch(MsgHandler *) { return -1; }
int soapHandle(MsgHandler *) { return 0; }
int soapClientMatch(MsgHandler *) { return -1; }
int soapClientHandle(MsgHandler *) { return 0; }
