#include "support/shell_support.h"

#include <QFile>
#include <QFileInfo>

namespace testing_support {

int ScriptedShell::execute(const QString& verb, const QString& target) {
    const Call call{QStringLiteral("execute"), verb, target};
    calls << call;
    if (during) {
        during(call);
    }
    return executeResult;
}

int ScriptedShell::findExecutable(const QString& file, const QString& dir, QString& result) {
    const Call call{QStringLiteral("find"), file, dir};
    calls << call;
    const QString path = QFileInfo(file).isAbsolute() ? file : dir + QLatin1Char('/') + file;
    QFile f(path);
    fileExistedDuringFind = f.exists();
    if (f.open(QIODevice::ReadOnly)) {
        fileContentDuringFind = f.readAll();
    }
    if (during) {
        during(call);
    }
    if (findResult >= 32) {
        result = browserPath;
    }
    return findResult;
}

int ScriptedShell::count(const QString& what) const {
    int n = 0;
    for (const Call& c : calls) {
        n += c.what == what ? 1 : 0;
    }
    return n;
}

} // namespace testing_support
