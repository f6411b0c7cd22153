#include "platform/msgbox.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {

namespace {
std::function<void(const QString&)>& hook() {
    static std::function<void(const QString&)> fn;
    return fn;
}
} // namespace

void setMessageBoxHook(std::function<void(const QString&)> fn) {
    hook() = std::move(fn);
}

void messageBox(const QString& text) {
    if (hook()) {
        hook()(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, kAppTitle, text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

} // namespace platform
