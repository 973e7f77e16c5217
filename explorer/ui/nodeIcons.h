// Icons of tree items: from the desktop theme where it has one, else from
// the platform style, so the trees look native everywhere.
#pragma once

#include <QIcon>

#include <cstdint>

namespace lumivarui {

// The icon for a node's image (lumivar::NodeImage) and kind.
[[nodiscard]] QIcon nodeIcon(int image, uint16_t kind);

// The program's own icon (the window icon and the desktop entry's).
[[nodiscard]] QIcon programIcon();

} // namespace lumivarui
