// "Input…": chooses what Clefwork listens to (every audio input, every MIDI input port, the
// synthesiser's own output) and shows, live, the level and the note heard with its cents, so it
// doubles as a tuner.
#pragma once

#include "layers/window.h"

#include <QDialog>
#include <QString>

class QLabel;
class QListWidget;
class QProgressBar;
namespace listen {
class Listener;
}

class InputDialog : public QDialog {
    Q_OBJECT

public:
    // Lists the listener's inputs with `current` selected, and listens to the one selected.
    InputDialog(listen::Listener& listener, const QString& current, QWidget* parent);

    QString chosen() const;
    QListWidget* inputs = nullptr;
    QProgressBar* level = nullptr;
    QLabel* heard = nullptr;
    QLabel* problem = nullptr;

private:
    void listenToSelected();
    listen::Listener& listener_;
};
