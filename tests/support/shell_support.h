// A scripted desktop shell for window tests: it answers with set results and records each call.
#pragma once

#include "platform/shell.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace testing_support {

class ScriptedShell : public platform::Shell {
public:
    struct Call {
        QString what; // "execute" or "find"
        QString first;
        QString second;
    };

    // What findExecutable answers.
    int findResult = 31;
    QString browserPath;
    // What execute answers.
    int executeResult = 42;
    // Run inside each call, before it answers (to look at the window or the folder then).
    std::function<void(const Call&)> during;

    QList<Call> calls;
    // Whether the file that findExecutable was asked about existed during the call, and what it
    // held.
    bool fileExistedDuringFind = false;
    QByteArray fileContentDuringFind;

    int execute(const QString& verb, const QString& target) override;
    int findExecutable(const QString& file, const QString& dir, QString& result) override;

    int count(const QString& what) const;
};

// Installs a shell for the life of the object and always restores the desktop shell.
class ShellScope {
public:
    explicit ShellScope(platform::Shell* s) { platform::setShell(s); }
    ~ShellScope() { platform::setShell(nullptr); }
    ShellScope(const ShellScope&) = delete;
    ShellScope& operator=(const ShellScope&) = delete;
};

} // namespace testing_support
