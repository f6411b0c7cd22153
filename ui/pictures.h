// The pictures the program's folder must hold, and the check at start-up that names, in one
// message over the window, every one of them that is missing or cannot be read.
#pragma once

#include "layers/window.h"

#include <QString>
#include <QStringList>

namespace pictures {

// Every picture file the program shows, by file name.
const QStringList& shipped();
// Those of them that are missing from the program's folder or cannot be read as pictures.
QStringList unreadable();
// The message naming them.
QString missingText(const QStringList& names);

} // namespace pictures
