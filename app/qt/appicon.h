#pragma once

#include <QIcon>
#include <QPixmap>

namespace brindlemark {

// The program's own 32 x 32 picture with 24-bit colour: the windows' icon and the About box's picture.
QPixmap applicationPixmap();
QIcon applicationIcon();

} // namespace brindlemark
