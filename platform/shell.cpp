#include "platform/shell.h"

#include <QDesktopServices>
#include <QFileInfo>
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

class DesktopShell : public Shell {
public:
    int execute(const QString&, const QString& target) override {
        QUrl url = QUrl::fromUserInput(target);
        if (QFileInfo::exists(target)) {
            url = QUrl::fromLocalFile(target);
        }
        return QDesktopServices::openUrl(url) ? 42 : 2;
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
