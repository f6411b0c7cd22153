#include "ui/calibrationdialog.h"

#include "listen/listener.h"
#include "platform/clock.h"
#include "sound/midi_cmd.h"
#include "sound/midi_out.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {
constexpr int16_t kClickChannel = 9;
constexpr int16_t kClick = 37;
constexpr int16_t kNoteChannel = 0;
constexpr int16_t kNote = 40; // E at bass pitch
} // namespace

CalibrationDialog::CalibrationDialog(listen::Listener& listener, bool soundNotes, int16_t velocity,
                                     QWidget* parent)
    : QDialog(parent), listener_(listener), soundNotes_(soundNotes), velocity_(velocity) {
    setWindowTitle(QStringLiteral("Calibrate Latency"));
    auto* layout = new QVBoxLayout(this);
    auto* how = new QLabel(
        QStringLiteral("Clefwork plays eight clicks at tempo %1. Pluck a note with each click, "
                       "as you would play on the beat. Listening to Clefwork's own sound, it "
                       "plays a note with each click and measures itself.")
            .arg(listen::kCalibrationTempo),
        this);
    how->setWordWrap(true);
    layout->addWidget(how);
    results = new QLabel(this);
    results->setWordWrap(true);
    results->setMinimumHeight(140);
    results->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    layout->addWidget(results);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    startButton = buttons->addButton(QStringLiteral("Start"), QDialogButtonBox::ActionRole);
    connect(startButton, &QPushButton::clicked, this, [this] { begin(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, [this] { click(); });
    connect(&listener_, &listen::Listener::noteHeard, this, [this](const listen::PlayedNote& n) {
        if (timer_->isActive() || (!clicks_.empty() && !finished)) {
            notes_.push_back(n.onsetNanos);
        }
    });
}

void CalibrationDialog::begin() {
    clicks_.clear();
    notes_.clear();
    finished = false;
    startButton->setEnabled(false);
    results->setText(QStringLiteral("Listening\u2026"));
    // The clicks are beats on the device's clock, the first one a period after the press.
    firstDue_ = MIDI_OUT::ClockNanos() + static_cast<int64_t>(periodMs) * 1'000'000;
    arm();
}

int64_t CalibrationDialog::due(std::size_t index) const {
    return firstDue_ + static_cast<int64_t>(index) * periodMs * 1'000'000;
}

void CalibrationDialog::arm() {
    const int64_t wait = MIDI_OUT::ToMonotonic(due(clicks_.size())) - MIDI_OUT::LookaheadNanos() -
                         platform::monotonicNanos();
    timer_->start(static_cast<int>(std::clamp<int64_t>(wait / 1'000'000, 0, 60'000)));
}

void CalibrationDialog::click() {
    if (static_cast<int>(clicks_.size()) == listen::kCalibrationClicks) {
        timer_->stop();
        finish();
        return;
    }
    // A device that schedules plays the click at its time; one that does not, now.
    const bool scheduled = MIDI_OUT::Schedules();
    const int64_t at = due(clicks_.size());
    MIDI_OUT::sendAtNanos = scheduled ? at : 0;
    MIDI_CMD::NoteOff(kClickChannel, kClick);
    MIDI_CMD::NoteOn(kClickChannel, kClick, velocity_);
    if (soundNotes_) {
        MIDI_CMD::NoteOff(kNoteChannel, kNote);
        MIDI_CMD::NoteOn(kNoteChannel, kNote, velocity_);
    }
    MIDI_OUT::sendAtNanos = 0;
    const int64_t heard = scheduled ? MIDI_OUT::ToMonotonic(at) : platform::monotonicNanos();
    clicks_.push_back(heard);
    emit clicked(static_cast<int>(clicks_.size()) - 1, heard);
    arm();
}

void CalibrationDialog::finish() {
    if (soundNotes_) {
        MIDI_CMD::NoteOff(kNoteChannel, kNote);
    }
    result = listen::calibrate(clicks_, notes_, static_cast<int64_t>(periodMs) * 1'000'000);
    QString text;
    for (std::size_t i = 0; i < result.offsetsMs.size(); ++i) {
        text += QStringLiteral("Click %1: ").arg(i + 1);
        text += result.offsetsMs[i]
                    ? QStringLiteral("%1 ms\n").arg(std::lround(*result.offsetsMs[i]))
                    : QStringLiteral("nothing heard\n");
    }
    text += QString::fromStdString(result.verdict);
    results->setText(text);
    finished = true;
    startButton->setEnabled(true);
    emit calibrated(result.trusted, result.medianMs);
}
