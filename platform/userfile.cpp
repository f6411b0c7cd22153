#include "platform/userfile.h"

#include "platform/appdir.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace platform {

bool appDirWritable() {
    const QString dir = appDir();
    if (!QFileInfo(dir).isDir()) {
        return false;
    }
    // Asking the file system is the only answer that holds for read-only mounts and
    // access lists alike: try to make a file there.
    QTemporaryFile probe(dir + QStringLiteral("/.clefwork-probe-XXXXXX"));
    return probe.open();
}

QString configFile(const QString& name) {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/clefwork/") + name;
}

QString oldConfigFile(const QString& name) {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/clefwork/clefwork/") + name;
}

QString userFileForWrite(const QString& name) {
    if (appDirWritable()) {
        return appFile(name);
    }
    const QString path = configFile(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    return path;
}

QString userFileForRead(const QString& name) {
    if (appDirWritable()) {
        return appFile(name);
    }
    for (const QString& path : {configFile(name), oldConfigFile(name)}) {
        if (QFileInfo::exists(path)) {
            return path;
        }
    }
    return appFile(name);
}

} // namespace platform
