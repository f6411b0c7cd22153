// "Tempo Trainer…": the target tempo, the step, and whether the tempo rises every N bars or
// follows the player (only while listening), with the switch that turns the trainer on.
#pragma once

#include "layers/window.h"

#include "listen/trainer.h"

#include <QDialog>

class QCheckBox;
class QRadioButton;
class QSpinBox;

class TrainerDialog : public QDialog {
    Q_OBJECT

public:
    // `listening`: "follow me" can be chosen only while Clefwork listens.
    TrainerDialog(const listen::TrainerSettings& settings, bool on, bool listening,
                  listen::TempoRange range, QWidget* parent);

    listen::TrainerSettings chosen() const;
    bool switchedOn() const;

    QCheckBox* onBox = nullptr;
    QSpinBox* target = nullptr;
    QSpinBox* step = nullptr;
    QRadioButton* everyBars = nullptr;
    QSpinBox* bars = nullptr;
    QRadioButton* followMe = nullptr;
};
