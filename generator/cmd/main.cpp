// QNGenCmd: writes a C skeleton for a device or control point of the stack
// from the description of a root device and the SCPDs beside it.
#include "driver.h"

int main(int argc, char **argv)
{
    return runGenCmd(argc, argv);
}
