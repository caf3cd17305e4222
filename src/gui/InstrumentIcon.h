// The instrument picture of the window and the program icon: a hand-held
// meter with a display and a cable, drawn in code so it stays sharp at any
// screen scale without an image plug-in. zurobsl.svg is the same picture for
// the desktop's menus.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace zuro {

/// The picture at `logicalSize` pixels, drawn for `devicePixelRatio`.
QPixmap InstrumentPixmap(int logicalSize, qreal devicePixelRatio);
/// The program icon with the usual sizes.
QIcon InstrumentIcon();

} // namespace zuro
