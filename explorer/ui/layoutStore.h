// The main window's bar layout in the profile "Zentrova.ini", in a section
// of its own. The profile's other sections (the settings) are kept as they
// are: the INI store rewrites only the keys it sets.
#pragma once

#include <string>

class QMainWindow;

namespace lumivarui {

inline constexpr char kLayoutSection[] = "Lumiscope-Bars";
// Raise when a bar or dock is added, removed or renamed: an older layout is
// then ignored instead of half applied.
inline constexpr int kBarLayoutVersion = 1;

// Writes the layout into profilePath. False when the profile exists but
// cannot be read (it is then left alone, so no setting is lost) or cannot
// be written.
bool saveWindowLayout(const QMainWindow &window, const std::string &profilePath);
// Applies the layout stored in profilePath; false (the window as built)
// when there is none or it is of another version.
bool restoreWindowLayout(QMainWindow &window, const std::string &profilePath);

} // namespace lumivarui
