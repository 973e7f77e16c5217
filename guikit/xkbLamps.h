// The keyboard lamps of an X server, kept apart from Qt's headers: Xlib's
// macros (KeyRelease, None, Bool, ...) clash with Qt's names.
#pragma once

using Display = struct _XDisplay;

namespace guikit {

// Whether the named XKB indicator ("Caps Lock", "Num Lock", "Scroll Lock")
// is lit; false when the server does not know it.
bool xkbLamp(Display *display, const char *name);

} // namespace guikit
