// The desktop shell: open a file or an address with the program the desktop has for it, and find
// which program opens a given file.  Tests replace it with a scripted shell.
#pragma once

#include "layers/platform.h"

#include <QString>

namespace platform {

class Shell {
public:
    virtual ~Shell() = default;
    // Opens a file or address; returns a number above 32 on success, as the classic shell does,
    // 2 when the file is missing and 31 when no program is registered for its type.
    virtual int execute(const QString& verb, const QString& target) = 0;
    // Finds the program that opens `file` (looked up in `dir`) and writes its full path into
    // `result`.  Returns above 32 when found, 31 when no program is registered for the file's
    // type, 2 when the file is missing, 0 when out of resources.
    virtual int findExecutable(const QString& file, const QString& dir, QString& result) = 0;
};

Shell& shell();
void setShell(Shell* s); // not owned; nullptr goes back to the desktop shell

} // namespace platform
