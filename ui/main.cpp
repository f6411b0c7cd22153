#include "ui/stavebass.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("clefwork"));
    QApplication::setOrganizationName(QStringLiteral("clefwork"));
    QApplication::setApplicationVersion(QStringLiteral(CLEFWORK_VERSION));
    // The window's load runs as it is made; the intro window shows it when the load is done.
    stavebass window;
    return app.exec();
}
