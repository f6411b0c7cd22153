#include "platform/msgbox.h"

#include <QApplication>
#include <QMessageBox>
#include <QStringList>

namespace platform {

namespace {
std::function<void(const QString&)>& hook() {
    static std::function<void(const QString&)> fn;
    return fn;
}
struct Held {
    bool on = false;
    QStringList texts;
};
Held& held() {
    static Held h;
    return h;
}

void show(const QString& text, QWidget* over) {
    if (hook()) {
        hook()(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, kAppTitle, text, QMessageBox::Ok, over);
    box.exec();
}
} // namespace

void holdMessages() {
    held().on = true;
}

bool messagesHeld() {
    return held().on;
}

void releaseMessages(QWidget* over) {
    const QStringList texts = held().texts;
    held() = Held{};
    for (const QString& text : texts) {
        show(text, over);
    }
}

void setMessageBoxHook(std::function<void(const QString&)> fn) {
    hook() = std::move(fn);
}

void messageBox(const QString& text) {
    if (held().on) {
        if (!held().texts.contains(text)) {
            held().texts << text;
        }
        return;
    }
    show(text, QApplication::activeWindow());
}

} // namespace platform
