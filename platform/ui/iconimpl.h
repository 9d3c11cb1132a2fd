// Inside the platform: what an icon handle holds.
#pragma once

#include <QIcon>
#include <QPixmap>

#include "winuser.h"

struct IconData {
    QPixmap pixmap;
};

inline QIcon IconToQIcon(HICON icon) { return icon ? QIcon(icon->pixmap) : QIcon(); }
