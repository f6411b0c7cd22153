// Where a file that the program writes lives.  In the program's folder when that folder can be
// written; otherwise in the user's configuration folder, and read back from there (falling back
// to the program folder's copy while the configuration folder has none yet).
#pragma once

#include "layers/platform.h"

#include <QString>

namespace platform {

// True when a file can be created in the program's folder.
bool appDirWritable();
// The configuration folder's path for `name`: ~/.config/clefwork/ (the folder itself may not
// exist yet).
QString configFile(const QString& name);
// Where earlier versions wrote it, one "clefwork" folder deeper; still read when the
// configuration folder has no copy of its own.
QString oldConfigFile(const QString& name);
// The path to write `name` to; creates the configuration folder when that is where it goes.
QString userFileForWrite(const QString& name);
// The path to read `name` from.
QString userFileForRead(const QString& name);

} // namespace platform
