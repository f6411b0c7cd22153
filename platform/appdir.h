// The program's folder: where its pictures, help and skin file lie.  Beside the executable in the
// build tree, <prefix>/share/clefwork when installed.  CLEFWORK_DATA_DIR or a test may set it.
#pragma once

#include "layers/platform.h"

#include <QString>

namespace platform {

QString appDir();
void setAppDir(const QString& dir); // empty goes back to the discovered folder
// The folder, "/" and the name.
QString appFile(const QString& name);

} // namespace platform
