// The picture shown while the program starts.  It hands over to the main window on the first
// tick of its one-shot timer, which can only come once the main window's load has returned.
#pragma once

#include "layers/window.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QTimer;

class opensign : public QWidget {
    Q_OBJECT

public:
    explicit opensign(QWidget* mainWindow);

    QLabel* Picture1 = nullptr;
    QTimer* Timer1 = nullptr; // no interval and no handler: it never fires
    QTimer* Timer2 = nullptr; // the hand-over

    void Form_Load();
    void Timer2_Timer();

private:
    QPointer<QWidget> main_;
};
