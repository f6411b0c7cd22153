// The tempo trainer on the main window.  It is off at every start and does nothing until the
// player switches it on in "Tempo Trainer…"; its settings are kept in clefwork.conf.
//
// At the end of the tick that ends a bar it moves the tempo bar exactly as the player would, so
// temposcroll_Change takes the new tempo, sets the tempo box and restarts the wait for the next
// tick with round(55775 / tempo): within half a per cent of what the tick itself had left.
//
// Follow me decides on bars whose every judged beat has its verdict.  A beat's verdict comes
// when a note is heard for it or its window closes, half a beat and the detector's decision time
// after the beat, so the last beat of a bar is decided during the next bar.  At the end of each
// bar the trainer therefore takes the latest bar completely judged since its last decision:
// normally the bar before the one just ended.  Each bar is decided once, and a tempo move is
// judged on bars played after it, one bar later.
#include "ui/stavebass.h"
#include "ui/trainerdialog.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <algorithm>

namespace {

QSettings settings() {
    return QSettings(QStringLiteral("clefwork"), QStringLiteral("clefwork"));
}

listen::TempoRange rangeOf(const QScrollBar* bar) {
    return {bar->minimum(), bar->maximum()};
}

// A number kept in the settings, or `fallback` when it is missing or not a number.
int storedNumber(const QSettings& s, const QString& key, int fallback) {
    bool ok = false;
    const int value = s.value(key).toInt(&ok);
    return ok ? value : fallback;
}

listen::TrainerSettings storedSettings(listen::TempoRange range) {
    const QSettings s = settings();
    listen::TrainerSettings t;
    t.target = storedNumber(s, QStringLiteral("trainer/target"), t.target);
    t.step = storedNumber(s, QStringLiteral("trainer/step"), t.step);
    t.bars = storedNumber(s, QStringLiteral("trainer/bars"), t.bars);
    t.mode = s.value(QStringLiteral("trainer/mode")).toString() == QStringLiteral("follow")
                 ? listen::TrainerMode::FollowMe
                 : listen::TrainerMode::EveryBars;
    return t.sanitized(range);
}

void store(const listen::TrainerSettings& t) {
    QSettings s = settings();
    s.setValue(QStringLiteral("trainer/target"), t.target);
    s.setValue(QStringLiteral("trainer/step"), t.step);
    s.setValue(QStringLiteral("trainer/bars"), t.bars);
    s.setValue(QStringLiteral("trainer/mode"), t.mode == listen::TrainerMode::FollowMe
                                                   ? QStringLiteral("follow")
                                                   : QStringLiteral("bars"));
}

} // namespace

void stavebass::buildTrainer() {
    tempotrainer = practice->addAction(QStringLiteral("Tempo Trainer\u2026"));
    connect(tempotrainer, &QAction::triggered, this, [this] { tempotrainer_Click(); });
    // The status bar shows the tempo as it is, whoever moved it.
    connect(temposcroll, &QScrollBar::valueChanged, this, [this] {
        if (trainerOn) {
            showtrainer();
        }
    });
}

void stavebass::tempotrainer_Click() {
    const listen::TempoRange range = rangeOf(temposcroll);
    TrainerDialog dialog(trainerOn ? trainerSettings : storedSettings(range), trainerOn,
                         listenbass->isChecked(), range, this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    store(dialog.chosen());
    settrainer(dialog.switchedOn(), dialog.chosen());
}

void stavebass::settrainer(bool on, const listen::TrainerSettings& chosen) {
    const listen::TempoRange range = rangeOf(temposcroll);
    const bool wasOn = trainerOn;
    trainerSettings = chosen.sanitized(range);
    trainerOn = on;
    if (on && !wasOn) {
        // A run starts where the tempo stands; only bars played from now on count.
        trainerRun = {temposcroll->value(), 0};
        trainerBars.clear();
        trainerDecidedBar = barSerial;
    }
    if (on && trainerLabel == nullptr) {
        QWidget* row = statusrow(1);
        trainerLabel = new QLabel(row);
        static_cast<QHBoxLayout*>(row->layout())->addWidget(trainerLabel, 1, Qt::AlignRight);
    }
    showstatusbar();
}

void stavebass::trainerverdict(int64_t bar, listen::Verdict verdict) {
    if (!trainerOn || bar <= trainerDecidedBar) {
        return;
    }
    listen::BarVerdicts& v = trainerBars[bar];
    (verdict == listen::Verdict::Right ? v.right : v.notRight) += 1;
}

void stavebass::trainerbarended() {
    if (!trainerOn) {
        return;
    }
    std::optional<listen::BarVerdicts> judged;
    if (trainerSettings.mode == listen::TrainerMode::FollowMe) {
        if (!listenbass->isChecked()) {
            return; // follow me waits for listening
        }
        // The latest bar not yet decided whose every judged beat has its verdict.
        for (auto it = trainerBars.rbegin(); it != trainerBars.rend(); ++it) {
            const int64_t bar = it->first;
            const auto beats = std::count_if(beatPlaces.begin(), beatPlaces.end(),
                                             [bar](const auto& b) { return b.second.bar == bar; });
            if (beats > 0 && it->second.right + it->second.notRight >= beats) {
                judged = it->second;
                trainerDecidedBar = bar;
                break;
            }
        }
        // Bars decided, skipped or never to be completed (a new session forgets its beats).
        std::erase_if(trainerBars, [this](const auto& b) {
            return b.first <= trainerDecidedBar || b.first < barSerial - 8;
        });
    }
    const std::optional<int> next = listen::nextTempo(
        trainerSettings, trainerRun, temposcroll->value(), judged, rangeOf(temposcroll));
    if (next) {
        temposcroll->setValue(*next); // as the player's move: temposcroll_Change runs
    }
}

void stavebass::showtrainer() {
    if (trainerLabel != nullptr) {
        trainerLabel->setText(QString::fromStdString(
            listen::trainerText(trainerSettings, temposcroll->value(), listenbass->isChecked())));
    }
}

void stavebass::showstatusbar() {
    const bool listening = listenbass != nullptr && listenbass->isChecked();
    if (tuner != nullptr) {
        tuner->setVisible(listening);
        scoreLabel->setVisible(listening);
        statusRows[0]->setVisible(listening);
    }
    if (trainerLabel != nullptr) {
        trainerLabel->setVisible(trainerOn);
        statusRows[1]->setVisible(trainerOn);
        showtrainer();
    }
    if (historyNotice != nullptr) {
        historyNotice->setVisible(listening && !historyNotice->text().isEmpty());
        statusRows[2]->setVisible(historyNotice->isVisibleTo(statusRows[2]));
    }
    // No status bar until listening or the trainer first wanted one.
    if (tuner != nullptr || trainerLabel != nullptr) {
        statusBar()->setVisible(listening || trainerOn);
    }
}
