#include "platform/appdir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace platform {

namespace {
QString& overrideDir() {
    static QString dir;
    return dir;
}

QString discover() {
    const QByteArray env = qgetenv("CLEFWORK_DATA_DIR");
    if (!env.isEmpty()) {
        return QString::fromLocal8Bit(env);
    }
    const QString exeDir = QCoreApplication::applicationDirPath();
    // Installed: <prefix>/bin/clefwork with its data in <prefix>/share/clefwork.
    const QString installed = QDir::cleanPath(exeDir + QStringLiteral("/../share/clefwork"));
    if (QFileInfo(installed + QStringLiteral("/Ckey.bmp")).exists()) {
        return installed;
    }
    return exeDir;
}
} // namespace

QString appDir() {
    if (!overrideDir().isEmpty()) {
        return overrideDir();
    }
    static const QString found = discover();
    return found;
}

void setAppDir(const QString& dir) {
    overrideDir() = dir;
}

QString appFile(const QString& name) {
    return appDir() + QLatin1Char('/') + name;
}

} // namespace platform
