#pragma once

// The program's icon, drawn in code at the usual icon sizes: a picture (sky, sun, hills) on a
// blue tile. It is the same drawing as res/zarvo.svg, which desktops use; Qt needs no SVG
// support to show it.

#include <QIcon>
#include <QPixmap>

class CZarvoIcon {
public:
    // The icon at 16, 24, 32, 48, 64, 128 and 256 pixels.
    static QIcon Create();
    // One square drawing of the given size in pixels.
    static QPixmap Draw(int size);
};
