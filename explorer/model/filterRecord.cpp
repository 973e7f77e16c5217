// The model library needs one source of its own until its modules arrive.
#include "filterRecord.h"
