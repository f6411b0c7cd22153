#include "ui/trainerdialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

TrainerDialog::TrainerDialog(const listen::TrainerSettings& settings, bool on, bool listening,
                             listen::TempoRange range, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Tempo Trainer"));
    const listen::TrainerSettings s = settings.sanitized(range);

    onBox = new QCheckBox(QStringLiteral("Tempo trainer on"), this);
    onBox->setChecked(on);
    target = new QSpinBox(this);
    target->setRange(range.min, range.max);
    target->setSuffix(QStringLiteral(" beats a minute"));
    target->setValue(s.target);
    step = new QSpinBox(this);
    step->setRange(listen::TrainerSettings::kMinStep, listen::TrainerSettings::kMaxStep);
    step->setSuffix(QStringLiteral(" beats a minute"));
    step->setValue(s.step);

    everyBars = new QRadioButton(QStringLiteral("Faster every"), this);
    bars = new QSpinBox(this);
    bars->setRange(listen::TrainerSettings::kMinBars, listen::TrainerSettings::kMaxBars);
    bars->setSuffix(QStringLiteral(" bars"));
    bars->setValue(s.bars);
    followMe = new QRadioButton(
        QStringLiteral("Follow me: faster after a bar all right, slower after two misses"), this);
    followMe->setEnabled(listening);
    if (!listening) {
        followMe->setToolTip(QStringLiteral("Only while Clefwork listens to your bass"));
    }
    // Follow me needs listening; without it the trainer counts bars.
    const bool follow = s.mode == listen::TrainerMode::FollowMe && listening;
    followMe->setChecked(follow);
    everyBars->setChecked(!follow);
    bars->setEnabled(!follow);
    connect(everyBars, &QRadioButton::toggled, bars, &QSpinBox::setEnabled);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Target tempo:"), target);
    form->addRow(QStringLiteral("Step:"), step);
    auto* barsRow = new QHBoxLayout;
    barsRow->addWidget(everyBars);
    barsRow->addWidget(bars);
    barsRow->addStretch(1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(onBox);
    layout->addLayout(form);
    layout->addLayout(barsRow);
    layout->addWidget(followMe);
    auto* note = new QLabel(
        QStringLiteral("The trainer moves the tempo bar at the end of a bar. It starts off "
                       "whenever Clefwork starts; the settings are kept."),
        this);
    note->setWordWrap(true);
    layout->addWidget(note);
    layout->addWidget(buttons);
}

listen::TrainerSettings TrainerDialog::chosen() const {
    listen::TrainerSettings s;
    s.target = target->value();
    s.step = step->value();
    s.bars = bars->value();
    s.mode = followMe->isChecked() ? listen::TrainerMode::FollowMe : listen::TrainerMode::EveryBars;
    return s;
}

bool TrainerDialog::switchedOn() const {
    return onBox->isChecked();
}
