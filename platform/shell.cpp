#include "platform/shell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace platform {

namespace {

// The default web browser is the desktop entry that xdg-mime names for HTML files; its Exec
// line's program, found on the PATH, is the browser's path.
QString desktopEntryProgram(const QString& entry) {
    const QStringList dirs =
        QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    for (const QString& dir : dirs) {
        QFile f(dir + QLatin1Char('/') + entry);
        if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
            continue;
        }
        while (!f.atEnd()) {
            const QString line = QString::fromUtf8(f.readLine()).trimmed();
            if (line.startsWith(QLatin1String("Exec="))) {
                const QStringList parts = QProcess::splitCommand(line.mid(5));
                if (parts.isEmpty()) {
                    return {};
                }
                const QString exe = QStandardPaths::findExecutable(parts.first());
                return exe.isEmpty() ? parts.first() : exe;
            }
        }
    }
    return {};
}

QString xdgMimeDefault(const QString& type) {
    QProcess p;
    p.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"), type});
    if (!p.waitForStarted(2000) || !p.waitForFinished(5000)) {
        p.kill();
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Whether the desktop names a program for the file's type.  xdg-open starts (and reports
// success) whether or not one exists, so this is asked first; without xdg-mime it cannot be
// known, and the file is taken to have one.
bool hasProgramFor(const QString& file) {
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty()) {
        return true;
    }
    const QMimeType type = QMimeDatabase().mimeTypeForFile(file);
    QStringList names{type.name()};
    names << type.aliases();
    for (const QString& name : names) {
        if (!xdgMimeDefault(name).isEmpty()) {
            return true;
        }
    }
    return false;
}

class DesktopShell : public Shell {
public:
    int execute(const QString&, const QString& target) override {
        const QFileInfo file(target);
        if (file.isAbsolute()) {
            // A file: missing (2), of a type no program opens (31), or opened.
            if (!file.exists()) {
                return 2;
            }
            if (!hasProgramFor(target)) {
                return 31;
            }
            return QDesktopServices::openUrl(QUrl::fromLocalFile(target)) ? 42 : 31;
        }
        return QDesktopServices::openUrl(QUrl::fromUserInput(target)) ? 42 : 2;
    }

    int findExecutable(const QString& file, const QString& dir, QString& result) override {
        const QString path = QFileInfo(file).isAbsolute() ? file : dir + QLatin1Char('/') + file;
        if (!QFileInfo::exists(path)) {
            return 2;
        }
        if (QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty()) {
            return 31;
        }
        QString entry = xdgMimeDefault(QStringLiteral("text/html"));
        if (entry.isEmpty()) {
            entry = xdgMimeDefault(QStringLiteral("x-scheme-handler/http"));
        }
        if (entry.isEmpty()) {
            return 31;
        }
        const QString program = desktopEntryProgram(entry);
        result = program.isEmpty() ? entry : program;
        return 42;
    }
};

Shell* overrideShell = nullptr;

} // namespace

Shell& shell() {
    static DesktopShell desktop;
    return overrideShell != nullptr ? *overrideShell : desktop;
}

void setShell(Shell* s) {
    overrideShell = s;
}

} // namespace platform
