// The chart of the notes on the bass fretboard, for the player to look up.
#pragma once

#include "layers/window.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QTimer;

class Fretboard : public QWidget {
    Q_OBJECT

public:
    explicit Fretboard(QWidget* parent = nullptr);

    QLabel* Picture1 = nullptr;
    QPushButton* Command2 = nullptr;
    QTimer* Timer1 = nullptr; // no interval and no handler: neither ever fires
    QTimer* Timer2 = nullptr;

    void Command2_Click();
};
