#include "platform/screenfit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace screenfit {

QSize fittedSize(QSize wanted, const QRect& available, QSize frame) {
    if (!available.isValid()) {
        return wanted;
    }
    return {std::max(1, std::min(wanted.width(), available.width() - frame.width())),
            std::max(1, std::min(wanted.height(), available.height() - frame.height()))};
}

QPoint placedInside(const QRect& window, const QRect& available) {
    if (!available.isValid()) {
        return window.topLeft();
    }
    const int x =
        std::max(available.left(), std::min(window.left(), available.right() + 1 - window.width()));
    const int y =
        std::max(available.top(), std::min(window.top(), available.bottom() + 1 - window.height()));
    return {x, y};
}

QRect availableArea(const QWidget* widget) {
    QScreen* screen = widget != nullptr ? widget->screen() : nullptr;
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    return screen != nullptr ? screen->availableGeometry() : QRect();
}

void fitOnScreen(QWidget* window, QSize wanted) {
    const QWidget* parent = window->parentWidget();
    const QRect available = availableArea(parent != nullptr ? parent : window);
    const QSize frame = kFrame;
    window->resize(fittedSize(wanted, available, frame));
    if (!available.isValid()) {
        return;
    }
    // The frame's size once it has one, else the room a frame usually takes.
    const QSize outer = window->isVisible() && window->frameGeometry().size() != window->size()
                            ? window->frameGeometry().size()
                            : window->size() + frame;
    QRect place(QPoint(), outer);
    place.moveCenter(parent != nullptr ? parent->window()->frameGeometry().center()
                                       : available.center());
    window->move(placedInside(place, available));
}

} // namespace screenfit
