// The layout of a main window's bars (tool bars, docks, the status bar) and
// of the window itself, as a few text entries a profile section can hold.
//
// The entries are one-line texts (base64 for Qt's binary state), so any
// INI-style store keeps them. A layout written by a different layout
// version is ignored rather than half applied: the caller bumps the version
// whenever it adds, removes or renames a bar.
#pragma once

#include <QList>
#include <QString>

#include <functional>

class QMainWindow;

namespace guikit {

struct LayoutEntry {
    QString key;
    QString value;
};

// Geometry, bar state, status bar visibility and version. Bars and docks
// must carry object names: Qt's state finds them by name.
[[nodiscard]] QList<LayoutEntry> saveBarLayout(const QMainWindow &window, int version);

// Applies what saveBarLayout wrote; lookup answers a key's value or an empty
// string. False, and the window is left as built, when an entry is missing,
// of another version, or does not decode.
bool restoreBarLayout(QMainWindow &window, const std::function<QString(const QString &)> &lookup, int version);

} // namespace guikit
