// SIGTERM and SIGINT (the session ending, Ctrl+C in a terminal) close the
// main window as "E&xit" does, so the program shuts down in its usual order
// and writes its settings and bar layout back.
#pragma once

class QWidget;

namespace lumivarui {

// Installs the handlers once per process; window must outlive the event
// loop. False when they could not be installed (the signals then keep
// their default effect).
bool closeOnSignals(QWidget &window);

} // namespace lumivarui
