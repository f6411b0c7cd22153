// The Practice menu: listening to the player's bass.  Nothing here runs, and the window has no
// status bar, until the player ticks "Listen to my Bass"; the beat loop does not know of it.
#include "history/progresswindow.h"
#include "listen/listener.h"
#include "platform/msgbox.h"
#include "ui/calibrationdialog.h"
#include "ui/clientarea.h"
#include "ui/inputdialog.h"
#include "ui/stavebass.h"
#include "ui/tunertext.h"

#include <QAction>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

QSettings settings() {
    // ~/.config/clefwork/clefwork.conf; the practice options themselves are never saved.
    return QSettings(QStringLiteral("clefwork"), QStringLiteral("clefwork"));
}

const QString kInputKey = QStringLiteral("listen/input");
// The input channel of a sound card, as the player counts them (1 the first).
const QString kChannelKey = QStringLiteral("listen/channel");

// The saved input channel, counted from 0; anything but a channel number is the first.
int storedChannel() {
    bool ok = false;
    const int channel = settings().value(kChannelKey, 1).toInt(&ok);
    return ok && channel >= 1 && channel <= 256 ? channel - 1 : 0;
}

// A yes or no kept in the settings, as QSettings writes it; anything else is `fallback`.
bool storedFlag(const QString& key, bool fallback) {
    const QString text = settings().value(key).toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("1")) {
        return true;
    }
    if (text == QLatin1String("false") || text == QLatin1String("0")) {
        return false;
    }
    return fallback;
}

// An input id of a form the inputs can name ("audio:<api>:<name>", "midi:<port>",
// "file:<path>", "loopback"); anything else kept in the settings is no choice at all.
bool inputIdForm(const QString& id) {
    if (id == QLatin1String("loopback")) {
        return true;
    }
    if (id.startsWith(QLatin1String("audio:"))) {
        const qsizetype colon = id.indexOf(QLatin1Char(':'), 6);
        return colon > 6 && colon + 1 < id.size();
    }
    return (id.startsWith(QLatin1String("midi:")) || id.startsWith(QLatin1String("file:"))) &&
           id.size() > 5;
}

} // namespace

std::function<std::unique_ptr<platform::InputBackend>()>& stavebass::inputsFactory() {
    static std::function<std::unique_ptr<platform::InputBackend>()> factory;
    return factory;
}

void stavebass::buildPractice() {
    practice = menuBar()->addMenu(QStringLiteral("Practice"));
    listenbass = practice->addAction(QStringLiteral("Listen to my Bass"));
    listenbass->setCheckable(true);
    inputchoice = practice->addAction(QStringLiteral("Input\u2026"));
    connect(listenbass, &QAction::triggered, this, [this] { listenbass_Click(); });
    calibrate = practice->addAction(QStringLiteral("Calibrate Latency\u2026"));
    // One Progress window at a time, read afresh each time it is asked for.
    connect(practice->addAction(QStringLiteral("Progress\u2026")), &QAction::triggered, this,
            [this] {
                auto* progress =
                    findChild<history::ProgressWindow*>(QString(), Qt::FindDirectChildrenOnly);
                if (progress == nullptr) {
                    progress = new history::ProgressWindow(historyPath()(), this);
                } else {
                    progress->reload();
                }
                progress->show();
                progress->raise();
                progress->activateWindow();
            });
    buildSound();
    practice->addSeparator();
    countin = practice->addAction(QStringLiteral("Count-in Bar"));
    countin->setCheckable(true);
    countin->setChecked(storedFlag(QStringLiteral("practice/countIn"), false));
    connect(countin, &QAction::toggled, this,
            [](bool on) { settings().setValue(QStringLiteral("practice/countIn"), on); });
    listenbass->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    buildKeys();
    buildTrainer();
    connect(inputchoice, &QAction::triggered, this, [this] { inputchoice_Click(); });
    connect(calibrate, &QAction::triggered, this, [this] { calibrate_Click(); });
    // Start begins a new session of judged beats; Stop and Pause keep it.
    connect(Start, &QPushButton::clicked, this, [this] {
        if (listener && listener->listening()) {
            newsession();
        }
    });
}

void stavebass::ensurelistener() {
    if (listener) {
        return;
    }
    listener = std::make_unique<listen::Listener>(inputsFactory() ? inputsFactory()() : nullptr);
    connect(listener.get(), &listen::Listener::noteHeard, this,
            [this](const listen::PlayedNote& note) { noteheard(note); });
    connect(listener.get(), &listen::Listener::levelChanged, this,
            [this](double dB, int midi, double cents) { levelheard(dB, midi, cents); });
    connect(listener.get(), &listen::Listener::failed, this,
            [this](const QString& message) { listenfailed(message); });
    connect(listener.get(), &listen::Listener::inputOverflow, this,
            [this](int times, double lostMs) {
                overflowNotice = listen::Listener::overflowText(times, lostMs);
                levelheard(inputLevelDb, 0, 0.0);
            });
}

QString stavebass::chosenInput() {
    if (!dialogInput.isEmpty()) {
        return dialogInput;
    }
    const QString fromEnvironment = QString::fromStdString(platform::listenFileInputId());
    if (!fromEnvironment.isEmpty()) {
        return fromEnvironment;
    }
    const QString saved = settings().value(kInputKey).toString();
    if (inputIdForm(saved)) {
        return saved;
    }
    ensurelistener();
    const std::vector<platform::InputChoice> all = listener->choices();
    return all.empty() ? QString() : QString::fromStdString(all.front().id);
}

void stavebass::listenbass_Click() {
    if (listenbass->isChecked()) {
        startlistening();
    } else {
        stoplistening();
    }
}

void stavebass::startlistening() {
    ensurelistener();
    const QString id = chosenInput();
    listenbass->setChecked(true);
    showtuner();
    if (id.isEmpty()) {
        listenfailed(QString::fromStdString(platform::input_text::noInput()));
        return;
    }
    // A failure to start comes back through the listener's failed signal.
    if (listener->start(id, storedChannel())) {
        newsession();
    }
}

void stavebass::stoplistening() {
    if (listener) {
        listener->stop();
    }
    endhistory();
    listenbass->setChecked(false);
    // Where a damaged history went has been seen; a history that is off stays said.
    if (historyNotice != nullptr && historyWriter && historyWriter->historyOn()) {
        historyNotice->clear();
    }
    marks = {};
    if (judgeTimer != nullptr) {
        judgeTimer->stop();
    }
    if (Image3 != nullptr) {
        Image3->update();
    }
    showstatusbar();
}

void stavebass::listenfailed(const QString& message) {
    // Listening is off; the practice goes on.
    stoplistening();
    platform::messageBox(message);
}

void stavebass::inputchoice_Click() {
    ensurelistener();
    const bool wasListening = listenbass->isChecked();
    const QString before = chosenInput();
    InputDialog dialog(*listener, before, storedChannel(), this);
    const bool chose = dialog.exec() == QDialog::Accepted && !dialog.chosen().isEmpty();
    if (chose) {
        settings().setValue(kInputKey, dialog.chosen());
        settings().setValue(kChannelKey, dialog.chosenChannel() + 1);
        dialogInput = dialog.chosen();
    }
    listener->stop();
    // OK listens to the input chosen; Cancel leaves listening as it was.
    if (chose || wasListening) {
        startlistening();
    } else {
        stoplistening();
    }
}

void stavebass::calibrate_Click() {
    // The clicks need the beat to be quiet.
    if (Timer1->isActive()) {
        Stop_Click();
    }
    const bool wasListening = listenbass->isChecked();
    if (!wasListening) {
        startlistening();
    }
    if (!listener || !listener->listening()) {
        return; // the input failed and said so
    }
    const bool ownSound = listener->inputId() == QStringLiteral("loopback");
    CalibrationDialog dialog(*listener, ownSound, noteVelocity, this);
    if (calibrationPeriodMs > 0) {
        dialog.periodMs = calibrationPeriodMs;
    }
    connect(&dialog, &CalibrationDialog::calibrated, this, [this](bool trusted, double latencyMs) {
        if (trusted) {
            settings().setValue(QStringLiteral("listen/latencyMs"), latencyMs);
            matcher.setLatencyNanos(static_cast<int64_t>(latencyMs * 1e6));
        }
    });
    dialog.exec();
    if (!wasListening) {
        stoplistening();
    }
}

namespace {

// A row of the status bar whose texts stand side by side where it is wide enough for them, and
// one above the other where it is not (a window narrowed to a small screen).
class StatusRow : public QWidget {
public:
    explicit StatusRow(QWidget* parent) : QWidget(parent) {
        auto* line = new QHBoxLayout(this);
        line->setContentsMargins(0, 0, 0, 0);
    }

protected:
    bool event(QEvent* event) override {
        // A text changed (its size with it), or the row did.
        if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Resize) {
            arrange();
        }
        return QWidget::event(event);
    }

private:
    void arrange() {
        auto* line = static_cast<QBoxLayout*>(layout());
        int wanted = 0;
        int shown = 0;
        for (int i = 0; i < line->count(); ++i) {
            const QWidget* part = line->itemAt(i)->widget();
            if (part != nullptr && !part->isHidden()) {
                wanted += part->sizeHint().width();
                ++shown;
            }
        }
        if (shown < 2) {
            // One text (a notice that wraps its own words) keeps the row as it is.
            setMinimumHeight(0);
            return;
        }
        wanted += (shown - 1) * line->spacing();
        const auto direction = wanted > width() ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight;
        if (line->direction() != direction) {
            line->setDirection(direction);
        }
        // The status bar grows by a row where the texts stand one above the other.
        setMinimumHeight(line->sizeHint().height());
    }
};

} // namespace

void stavebass::historynotice(const QString& message) {
    if (historyNotice == nullptr) {
        QWidget* row = statusrow(2);
        historyNotice = new QLabel(row);
        historyNotice->setWordWrap(true);
        historyNotice->setStyleSheet(
            QStringLiteral("QLabel { background-color: rgb(255,236,150); color: rgb(150,0,0); "
                           "font-weight: bold; padding: 2px 6px; }"));
        // A row of its own, below the tuner and the score.
        static_cast<QHBoxLayout*>(row->layout())->addWidget(historyNotice, 1);
    }
    historyNotice->setText(message);
    historyNotice->setToolTip(message);
    showstatusbar();
}

QWidget* stavebass::statusrow(int row) {
    // The status bar holds rows, so that the tuner and the score (the first), the tempo trainer
    // (the second) and a notice about the history (the third) each have the window's width: on
    // one row together they did not fit.
    if (statusRows[0] == nullptr) {
        auto* rows = new QWidget(this);
        auto* column = new QVBoxLayout(rows);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        for (QWidget*& r : statusRows) {
            r = new StatusRow(rows);
            column->addWidget(r);
            r->hide();
        }
        statusBar()->addWidget(rows, 1);
    }
    return statusRows[row];
}

void stavebass::showtuner() {
    if (tuner == nullptr) {
        QWidget* row = statusrow(0);
        tuner = new QLabel(row);
        tuner->setMinimumWidth(230);
        row->layout()->addWidget(tuner);
        scoreLabel = new QLabel(row);
        static_cast<QHBoxLayout*>(row->layout())->addWidget(scoreLabel, 1);
    }
    heardText.clear();
    overflowNotice.clear();
    inputLevelDb = -120.0;
    levelheard(-120.0, 0, 0.0);
    showstatusbar();
}

void stavebass::levelheard(double dB, int midi, double cents) {
    inputLevelDb = dB;
    if (midi > 0) {
        heardText = tunerNoteText(midi, cents);
    }
    if (tuner == nullptr) {
        return;
    }
    const QString level =
        dB <= -90.0 ? QStringLiteral("silent") : QString::number(std::lround(dB)) + " dB";
    QString text = QStringLiteral("Input: %1   Heard: %2")
                       .arg(level, heardText.isEmpty() ? QStringLiteral("\u2014") : heardText);
    if (!overflowNotice.isEmpty()) {
        text += QStringLiteral("   ") + overflowNotice;
    }
    tuner->setText(text);
}

void stavebass::noteheard(const listen::PlayedNote& note) {
    levelheard(note.levelDb, note.midi, note.cents);
    applyjudgements(matcher.addNote(note.onsetNanos, note.midi));
    judgelater();
}
