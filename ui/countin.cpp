// The count-in bar and the keyboard.  Both are off unless the player asks for them: without the
// count-in ticked the play button runs Start_Click alone, as it always has.
#include "engine/rounding.h"
#include "sound/midi_cmd.h"
#include "sound/midi_out.h"
#include "sound/stopwatch.h"
#include "ui/editcombo.h"
#include "ui/stavebass.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <functional>

namespace {
constexpr int16_t kClickChannel = 9;
constexpr int16_t kAccentClick = 36;
constexpr int16_t kBeatClick = 37;
} // namespace

void stavebass::startpressed() {
    if (countin == nullptr || !countin->isChecked()) {
        Start_Click();
        return;
    }
    countinbegin(); // again from its first click when one is running
}

void stavebass::stoppressed() {
    if (countInTimer != nullptr && countInTimer->isActive()) {
        countInTimer->stop();
        // A click already sent ahead of its time is not heard after the stop.
        beatClock.stop();
        MIDI_OUT::CancelScheduled();
    }
    countInBeat = 0;
    // A Stop or Pause ends the session kept in the history; Start begins the next.
    endhistory();
}

void stavebass::countinbegin() {
    if (Timer1->isActive()) {
        Stop_Click(); // a count-in leads into a bar from its first beat
    }
    if (countInTimer == nullptr) {
        countInTimer = new QTimer(this);
        countInTimer->setSingleShot(true);
        countInTimer->setTimerType(Qt::PreciseTimer);
        connect(countInTimer, &QTimer::timeout, this, [this] { countintick(); });
    }
    countInBeat = 0;
    // The clicks and the bar after them are beats of one clock: the first click comes when
    // Start's first beat would, one beat after the press.
    beatClock.start(MIDI_OUT::ClockNanos(), tempo);
    countInTimer->start(tickwait());
}

void stavebass::countintick() {
    stopWatch->Reset();
    ++countInBeat;
    beatClock.catchUp(MIDI_OUT::ClockNanos());
    const bool scheduled = beatClock.running() && MIDI_OUT::Schedules();
    MIDI_OUT::sendAtNanos = scheduled ? beatClock.next() : 0;
    // The accent on the first click whatever the metronome box says.
    MIDI_CMD::NoteOff(kClickChannel, kBeatClick);
    MIDI_CMD::NoteOn(kClickChannel, countInBeat == 1 ? kAccentClick : kBeatClick, noteVelocity);
    MIDI_OUT::sendAtNanos = 0;
    beater->setText(QString::number(countInBeat));
    if (beatClock.running()) {
        beatClock.advance();
    }
    if (countInBeat == 4) {
        // The bar begins as Start begins it, on the count-in's clock: its first beat comes one
        // beat after the fourth click.
        countInBeat = 0;
        beatClockKept = true;
        Start_Click();
        beatClockKept = false;
        return;
    }
    countInTimer->start(tickwait());
}

bool stavebass::typingInList() const {
    // A list's text takes keys as text, and the device list takes its arrows to pick a device.
    const QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr) {
        return false;
    }
    // An editable combo box keeps the focus itself and hands the keys to its text.
    if (qobject_cast<const EditCombo*>(focus) != nullptr ||
        (qobject_cast<const QLineEdit*>(focus) != nullptr &&
         qobject_cast<const EditCombo*>(focus->parentWidget()) != nullptr)) {
        return true;
    }
    return focus == List1 || List1->isAncestorOf(focus);
}

void stavebass::buildKeys() {
    // The keys are taken before the focused control sees them, whatever has the focus, but only
    // in this window and not while a dialog or menu is open over it.
    qApp->installEventFilter(this);
    connect(Stop, &QPushButton::clicked, this, [this] { stoppressed(); });
    connect(Command1, &QPushButton::clicked, this, [this] { stoppressed(); });
    connect(Command2, &QPushButton::clicked, this, [this] { stoppressed(); });
}

bool stavebass::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return QMainWindow::eventFilter(watched, event);
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    const auto* press = static_cast<QKeyEvent*>(event);
    if (widget == nullptr || widget->window() != this || QApplication::activePopupWidget() ||
        QApplication::activeModalWidget() || press->modifiers() != Qt::NoModifier ||
        typingInList()) {
        return QMainWindow::eventFilter(watched, event);
    }
    switch (press->key()) {
    case Qt::Key_Space:
        if (Timer1->isActive() || (countInTimer != nullptr && countInTimer->isActive())) {
            stoppressed();
            Stop_Click();
        } else {
            startpressed();
        }
        return true;
    case Qt::Key_Escape:
        stoppressed();
        Stop_Click();
        return true;
    case Qt::Key_Up:
        temposcroll->triggerAction(QScrollBar::SliderSingleStepAdd);
        return true;
    case Qt::Key_Down:
        temposcroll->triggerAction(QScrollBar::SliderSingleStepSub);
        return true;
    case Qt::Key_PageUp:
        temposcroll->triggerAction(QScrollBar::SliderPageStepAdd);
        return true;
    case Qt::Key_PageDown:
        temposcroll->triggerAction(QScrollBar::SliderPageStepSub);
        return true;
    default:
        return QMainWindow::eventFilter(watched, event);
    }
}
