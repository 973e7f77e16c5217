#include "xkbLamps.h"

#include <X11/XKBlib.h>

namespace guikit {

bool xkbLamp(Display *display, const char *name)
{
    Atom atom = XInternAtom(display, name, True);
    Bool on = False;
    if (atom == None || !XkbGetNamedIndicator(display, atom, nullptr, &on, nullptr, nullptr))
        return false;
    return on == True;
}

} // namespace guikit
