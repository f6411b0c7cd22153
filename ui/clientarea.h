// The window's client area: the background colour with the skin's picture drawn from the top
// left corner; and the stave view, which paints the kept drawing surface.
#pragma once

#include "layers/window.h"

#include <QWidget>

class stavebass;

class ClientArea : public QWidget {
    Q_OBJECT

public:
    explicit ClientArea(stavebass* owner);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    stavebass* owner_;
};

class StaveView : public QWidget {
    Q_OBJECT

public:
    StaveView(stavebass* owner, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    stavebass* owner_;
};
