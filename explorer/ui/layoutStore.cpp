#include "layoutStore.h"

#include "barLayout.h"
#include "iniStore.h"

#include <QMainWindow>

#include <filesystem>

namespace lumivarui {

bool saveWindowLayout(const QMainWindow &window, const std::string &profilePath)
{
    lumivar::IniStore profile;
    std::error_code ec;
    bool exists = std::filesystem::exists(profilePath, ec);
    if (!profile.load(profilePath) && exists)
        return false;
    for (const guikit::LayoutEntry &e : guikit::saveBarLayout(window, kBarLayoutVersion))
        profile.set(kLayoutSection, e.key.toStdString(), e.value.toStdString());
    return profile.save(profilePath);
}

bool restoreWindowLayout(QMainWindow &window, const std::string &profilePath)
{
    lumivar::IniStore profile;
    if (!profile.load(profilePath))
        return false;
    return guikit::restoreBarLayout(
        window,
        [&](const QString &key) {
            return QString::fromStdString(profile.get(kLayoutSection, key.toStdString(), ""));
        },
        kBarLayoutVersion);
}

} // namespace lumivarui
