// The MIDI device list.  It reports `picked` exactly when the player picks an entry: a mouse
// click on an entry (the one already open included), or a key that moves to an entry or presses
// Space or Return on it.  Taking the focus selects nothing, and rows set by program code report
// nothing.
#pragma once

#include "layers/window.h"

#include <QListWidget>

class DeviceList : public QListWidget {
    Q_OBJECT

public:
    explicit DeviceList(QWidget* parent);

signals:
    void picked();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};
