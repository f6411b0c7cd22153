// "Input…": chooses what Clefwork listens to (every audio input, every MIDI input port, the
// synthesiser's own output) and shows, live, the level and the note heard with its cents, so it
// doubles as a tuner.
#pragma once

#include "layers/window.h"

#include <QDialog>
#include <QString>

#include <vector>

class QComboBox;
class QLabel;
class QListWidget;
class QProgressBar;
namespace listen {
class Listener;
}

class InputDialog : public QDialog {
    Q_OBJECT

public:
    // Lists the listener's inputs with `current` selected, and listens to the one selected on
    // `channel` (counted from 0) when it is a sound card.
    InputDialog(listen::Listener& listener, const QString& current, int channel, QWidget* parent);

    QString chosen() const;
    // The input channel chosen, counted from 0: the one shown for a sound card selected (its
    // last when it has fewer than chosen), else the one chosen before.
    int chosenChannel() const;
    QListWidget* inputs = nullptr;
    QComboBox* channels = nullptr; // "Input channel": 1, 2, ... as the device has them
    QProgressBar* level = nullptr;
    QLabel* heard = nullptr;
    QLabel* problem = nullptr;

private:
    void listenToSelected();
    void offerChannels();
    listen::Listener& listener_;
    std::vector<int> channelCounts_; // per row of inputs
    int channel_ = 0;
};
