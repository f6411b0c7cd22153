// The Practice menu's "Sound…": which soundfont the built-in synthesiser plays.  The choice is
// kept in clefwork.conf and passed to the synthesiser before it opens; a change loads into the
// running synthesiser, which plays on with its old soundfont while the new one is parsed.
#include "platform/fluid_engine.h"
#include "platform/msgbox.h"
#include "sound/midi_cmd.h"
#include "sound/midi_out.h"
#include "ui/devicelist.h"
#include "ui/sounddialog.h"
#include "ui/stavebass.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QSettings>

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

namespace {

QSettings settings() {
    return QSettings(QStringLiteral("clefwork"), QStringLiteral("clefwork"));
}

const QString kSoundfontKey = QStringLiteral("sound/soundfont");

QString fileName(const QString& path) {
    return path.isEmpty() ? QStringLiteral("no soundfont") : QFileInfo(path).fileName();
}

// Swaps the soundfont on the engine's thread; meanwhile the beat and the repaints go on, but no
// input reaches the window.
platform::FluidEngine::LoadReport swapWaiting(platform::FluidEngine& engine, const QString& path) {
    struct Outcome {
        std::mutex mutex;
        bool done = false;
        platform::FluidEngine::LoadReport report;
    };
    auto outcome = std::make_shared<Outcome>();
    engine.swapSoundfont(path.toStdString(),
                         [outcome](const platform::FluidEngine::LoadReport& report) {
                             const std::lock_guard lock(outcome->mutex);
                             outcome->report = report;
                             outcome->done = true;
                         });
    QApplication::setOverrideCursor(Qt::WaitCursor);
    for (;;) {
        {
            const std::lock_guard lock(outcome->mutex);
            if (outcome->done) {
                break;
            }
        }
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    QApplication::restoreOverrideCursor();
    const std::lock_guard lock(outcome->mutex);
    return outcome->report;
}

} // namespace

void stavebass::buildSound() {
    soundchoice = practice->addAction(QStringLiteral("Sound\u2026"));
    connect(soundchoice, &QAction::triggered, this, [this] { soundchoice_Click(); });
    platform::setChosenSoundfont(settings().value(kSoundfontKey).toString().toStdString());
    // The synthesiser parses its soundfont on a thread of its own and reports there.
    QPointer<stavebass> self(this);
    platform::setSoundfontHook([self](const platform::FluidEngine::LoadReport& report) {
        const bool ok = report.ok;
        const QString inUse = QString::fromStdString(report.soundfont);
        const QString refused = QString::fromStdString(report.refused);
        const QString why = QString::fromStdString(report.error);
        QMetaObject::invokeMethod(
            qApp,
            [self, ok, inUse, refused, why] {
                if (self) {
                    self->soundfontloaded(ok, inUse, refused, why);
                }
            },
            Qt::QueuedConnection);
    });
}

void stavebass::soundfontloaded(bool ok, const QString& inUse, const QString& refused,
                                const QString& why) {
    if (!ok) {
        platform::messageBox(why);
        return;
    }
    if (!refused.isEmpty()) {
        platform::messageBox(
            QStringLiteral("The soundfont you chose, %1, could not be loaded (%2). "
                           "The built-in synthesiser plays %3 instead; choose "
                           "another under Practice, Sound\u2026")
                .arg(refused, why, fileName(inUse)));
    }
}

void stavebass::soundchoice_Click() {
    platform::FluidEngine* engine = platform::builtInSynth();
    const QString inUse =
        engine != nullptr ? QString::fromStdString(engine->soundfontPath()) : QString();
    SoundDialog dialog(inUse, settings().value(kSoundfontKey).toString(), this);
    if (dialog.exec() != QDialog::Accepted || dialog.chosen().isEmpty()) {
        return;
    }
    const QString path = dialog.chosen();
    bool ok = true;
    QString why;
    if (engine != nullptr && path != inUse) {
        const platform::FluidEngine::LoadReport report = swapWaiting(*engine, path);
        ok = report.ok;
        why = QString::fromStdString(report.error);
    } else if (engine == nullptr) {
        // Nothing plays through the built-in synthesiser now: a trial load tells whether it will.
        platform::FluidEngine trial;
        std::string error;
        ok = trial.loadFile(path.toStdString(), error);
        why = QString::fromStdString(error);
    }
    if (!ok) {
        platform::messageBox(
            QStringLiteral("The soundfont %1 could not be loaded: %2. The built-in synthesiser "
                           "keeps %3.")
                .arg(path, why, engine != nullptr ? fileName(inUse) : QStringLiteral("its own")));
        return;
    }
    settings().setValue(kSoundfontKey, path);
    platform::setChosenSoundfont(path.toStdString());
    if (engine != nullptr) {
        if (path != inUse) {
            MIDI_CMD::ProgramChange(0, 0, 34); // the bass sound, as at start-up
        }
        return;
    }
    // The built-in synthesiser was to play but could not open (no soundfont): it can now.
    const QListWidgetItem* item = List1->currentItem();
    if (item == nullptr && List1->count() > 0) {
        item = List1->item(0);
    }
    if (MIDI_OUT::hMidiOut == 0 && item != nullptr &&
        item->data(Qt::UserRole).toInt() == platform::MIDI_MAPPER) {
        MIDI_OUT::OpenDevice(static_cast<int16_t>(platform::MIDI_MAPPER));
        MIDI_CMD::ProgramChange(0, 0, 34);
    }
}
