// Takes pictures of the main window as a player sees it, for looking at and for the help pages:
//   clefwork_screens <output folder> [listen | wrong | aids]
// With "listen" it plays for real through the built-in synthesiser (CLEFWORK_AUDIO_DRIVER=file
// serves where there is no sound card), calibrates the latency on its own output, plays eight
// judged bars while listening to itself and photographs them; it fails below 95 % right.  With
// "wrong" it renders a take of the coming bars with every second beat a tone too high, listens
// to it through the file input and fails unless exactly those beats are judged wrong.  With
// "aids" it photographs the Practice menu, the count-in, and the tempo trainer's dialog and its
// status bar after six bars.
// Run it under a real X server (Xvfb) for the real window system, or offscreen.  It plays a few
// bars into the window with a recording MIDI device, so nothing sounds, and photographs the
// designed look and every skin, with both hidden lists shown.
#include "platform/appdir.h"
#include "platform/fluid_engine.h"
#include "platform/midi.h"
#include "platform/midi_capture.h"
#include "platform/msgbox.h"
#include "ui/calibrationdialog.h"
#include "ui/editcombo.h"
#include "ui/stavebass.h"
#include "ui/trainerdialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

namespace {

// The window as the screen shows it: from the X server where there is one.
QImage photograph(stavebass& w) {
    QCoreApplication::processEvents();
    QTest::qWait(50);
    if (QScreen* screen = w.screen();
        screen != nullptr && QGuiApplication::platformName() == "xcb") {
        const QPixmap shot = screen->grabWindow(w.winId());
        if (!shot.isNull()) {
            return shot.toImage();
        }
    }
    return w.grab().toImage();
}

// Any top-level widget as the screen shows it (a dialog, an open menu).
QImage photographWidget(QWidget& widget) {
    QCoreApplication::processEvents();
    QTest::qWait(100);
    if (QScreen* screen = widget.screen();
        screen != nullptr && QGuiApplication::platformName() == "xcb") {
        const QPixmap shot = screen->grabWindow(widget.winId());
        if (!shot.isNull()) {
            return shot.toImage();
        }
    }
    return widget.grab().toImage();
}

bool savePhoto(const QImage& image, const QString& file) {
    const bool saved = image.save(file);
    std::printf("%s%s\n", saved ? "" : "could not write ", qPrintable(file));
    return saved;
}

// The practice aids: the Practice menu, the tempo trainer's dialog and the window with the
// trainer in its status bar after a few bars, and the count-in under way.
int practiceAids(stavebass& w, const QString& out, const QString& folder) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    int failed = 0;
    w.countin->setChecked(true);
    w.temposcroll->setValue(96);
    w.practice->popup(w.mapToGlobal(QPoint(120, 0)));
    failed += savePhoto(photographWidget(*w.practice), out + QStringLiteral("/practice-menu.png"))
                  ? 0
                  : 1;
    w.practice->hide();
    QTimer::singleShot(0, [&] {
        auto* dialog = w.findChild<TrainerDialog*>();
        if (dialog == nullptr) {
            return;
        }
        dialog->onBox->setChecked(true);
        dialog->target->setValue(120);
        dialog->step->setValue(4);
        dialog->bars->setValue(2);
        failed += savePhoto(photographWidget(*dialog), out + QStringLiteral("/trainer-dialog.png"))
                      ? 0
                      : 1;
        dialog->accept();
    });
    w.tempotrainer_Click();
    // The count-in: two clicks of four sounded.
    w.startpressed();
    w.countInTimer->stop();
    w.countintick();
    w.countintick();
    w.countintick();
    failed += savePhoto(photograph(w), out + QStringLiteral("/window-count-in.png")) ? 0 : 1;
    w.countintick(); // the fourth click starts the bar
    w.Timer1->stop();
    for (int beat = 0; beat < 25; ++beat) {
        w.onTimer1(); // six bars and the seventh drawn: three steps of the trainer
    }
    failed += savePhoto(photograph(w), out + QStringLiteral("/window-trainer.png")) ? 0 : 1;
    std::printf("%s\n", qPrintable(w.trainerLabel->text()));
    return failed == 0 && w.tempo == 108 ? 0 : 1;
}

// Every picture plays with these: Bb, with flats, sharps and naturals to see, all over the
// neck, notes heard at bass pitch, tempo 100.
void practiseSettings(stavebass& w) {
    w.Keysignature->setListIndex(9);
    w.Keysignature_Click();
    w.Check1->setCheckState(Qt::Unchecked);
    w.accif->setListIndex(3);
    w.Check4->setCheckState(Qt::Unchecked);
    w.aspitch->setListIndex(0);
    w.fretposition->setListIndex(0);
    w.temposcroll->setValue(100);
}

int countColour(const QImage& image, const QColor& colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            n += QColor(image.pixel(x, y)) == colour ? 1 : 0;
        }
    }
    return n;
}

bool waitForVerdicts(stavebass& w, int count, int timeoutMs) {
    return QTest::qWaitFor([&] { return w.score.judged >= count; }, timeoutMs);
}

int hearItself(stavebass& w, const QString& out, const QString& folder) {
    // The chosen input and the latency go into the temporary folder, not the player's own.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    stavebass::historyPath() = [folder] { return folder + QStringLiteral("/history.sqlite"); };
    QSettings(QStringLiteral("clefwork"), QStringLiteral("clefwork"))
        .setValue(QStringLiteral("listen/input"), QStringLiteral("loopback"));
    QTimer::singleShot(0, [&w, out] {
        auto* dialog = w.findChild<CalibrationDialog*>();
        if (dialog == nullptr) {
            return;
        }
        dialog->startButton->click();
        if (!QTest::qWaitFor([dialog] { return dialog->finished; }, 15000)) {
            std::printf("calibration did not finish\n");
        }
        std::printf("calibration:\n%s\n", qPrintable(dialog->results->text()));
        savePhoto(photographWidget(*dialog), out + QStringLiteral("/calibration.png"));
        dialog->reject();
    });
    w.calibrate_Click();
    w.listenbass->trigger();
    w.Start->click();
    const bool judged = waitForVerdicts(w, 32, 60000);
    const QImage shot = photograph(w);
    const QString file = out + QStringLiteral("/window-listening.png");
    shot.save(file);
    std::printf("%s\n%s\n", qPrintable(file), qPrintable(w.scoreLabel->text()));
    w.Stop_Click();
    w.stoplistening();
    const int green = countColour(shot, QColor(0, 170, 0));
    const bool good = judged && w.score.right * 100 >= 95 * w.score.judged && green > 0;
    std::printf("%d of %d right, %d green pixels: %s\n", w.score.right, w.score.judged, green,
                good ? "passed" : "FAILED");
    return good ? 0 : 1;
}

int hearWrongNotes(stavebass& w, const QString& out, const QString& folder) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    stavebass::historyPath() = [folder] { return folder + QStringLiteral("/history.sqlite"); };
    // The generator starts every run from the same state, so a second window with the same
    // settings plays the same bars: ask it which notes come.
    struct Planned {
        bool counts;
        int midi;
        int position;
    };
    std::vector<Planned> plan;
    {
        stavebass shadow;
        practiseSettings(shadow);
        shadow.Start_Click();
        shadow.Timer1->stop();
        bool drawn = false;
        for (int k = 0; k < 48; ++k) {
            const auto p = static_cast<std::size_t>(shadow.beatNumber);
            drawn = p == 1 ? !shadow.nextBarCopy[1].empty() : drawn;
            const int pitch = shadow.currentBarPitches[p];
            plan.push_back({drawn && pitch != 0, pitch - 12, shadow.beatNumber});
            shadow.onTimer1();
        }
    }
    // Rendered through the built-in synthesiser offline, one note per beat from the first
    // tick on, every second beat a tone too high.
    platform::FluidEngine engine;
    std::string error;
    if (!engine.load(error, 48000.0)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    engine.send(0xC0 + 33 * 256);
    const double rate = 48000.0;
    // Beat n falls exactly n beats after Start: 600 ms apart at tempo 100, the first one beat
    // after the press.  The take is judged over its first three drawn bars.
    const double first = 60.0 / 100.0;
    const double period = 60.0 / 100.0;
    std::vector<float> left(static_cast<std::size_t>((first + 48 * period + 1.0) * rate));
    std::vector<float> right(left.size());
    std::size_t done = 0;
    int lastNote = 0;
    for (std::size_t k = 0; k <= plan.size(); ++k) {
        const auto at = static_cast<std::size_t>((first + static_cast<double>(k) * period) * rate);
        const std::size_t until = std::min(at, left.size());
        engine.render(left.data() + done, right.data() + done, static_cast<int>(until - done));
        done = until;
        if (k == plan.size() || !plan[k].counts) {
            continue;
        }
        const int note = plan[k].midi + (plan[k].position == 2 ? 2 : 0);
        if (lastNote != 0) {
            engine.send(0x80 + static_cast<uint32_t>(lastNote) * 256);
        }
        engine.send(0x90 + static_cast<uint32_t>(note) * 256 + 100u * 65536);
        lastNote = note;
    }
    engine.render(left.data() + done, right.data() + done, static_cast<int>(left.size() - done));
    const QString wav = folder + QStringLiteral("/wrong.wav");
    {
        QFile f(wav);
        f.open(QIODevice::WriteOnly);
        const auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
        const auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
        const auto n = static_cast<uint32_t>(left.size());
        f.write("RIFF");
        u32(36 + n * 2);
        f.write("WAVEfmt ");
        u32(16), u16(1), u16(1), u32(48000), u32(96000), u16(2), u16(16);
        f.write("data");
        u32(n * 2);
        for (std::size_t i = 0; i < left.size(); ++i) {
            const float v = std::clamp((left[i] + right[i]) * 0.5f, -1.0f, 1.0f);
            u16(static_cast<uint16_t>(static_cast<int16_t>(v * 32767.0f)));
        }
    }
    qputenv("CLEFWORK_LISTEN_FILE", wav.toLocal8Bit());
    w.listenbass->trigger();
    w.Start->click();
    // Stop at the last beat of a bar, with its marks still on the stave.
    const bool judged =
        QTest::qWaitFor([&] { return w.score.judged >= 12 && w.marks[4].has_value(); }, 60000);
    const QImage shot = photograph(w);
    const QString file = out + QStringLiteral("/window-wrong-notes.png");
    shot.save(file);
    std::printf("%s\n%s\n", qPrintable(file), qPrintable(w.scoreLabel->text()));
    w.Stop_Click();
    int asPlanned = 0;
    for (std::size_t p = 1; p <= 4; ++p) {
        const bool wrong = w.marks[p] && w.marks[p]->verdict == listen::Verdict::Wrong &&
                           !w.marks[p]->played.isEmpty();
        const bool right = w.marks[p] && w.marks[p]->verdict == listen::Verdict::Right;
        asPlanned += (p == 2 ? wrong : right) ? 1 : 0;
    }
    w.stoplistening();
    const int red = countColour(shot, QColor(220, 0, 0));
    const bool good =
        judged && asPlanned == 4 && red > 0 && w.score.right * 4 >= w.score.judged * 3 - 2;
    std::printf("last bar as planned on %d of 4 beats, %d red pixels: %s\n", asPlanned, red,
                good ? "passed" : "FAILED");
    return good ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: clefwork_screens <output folder> [listen | wrong | aids]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);

    // A program folder of links to the built pictures, so the skin file written here stays here.
    QTemporaryDir folder;
    const QDir built(platform::appDir());
    for (const QString& name : built.entryList({"*.bmp", "*.jpg", "*.gif", "*.chm"}, QDir::Files)) {
        QFile::link(built.filePath(name), folder.filePath(name));
    }
    platform::setAppDir(folder.path());
    const QByteArray mode = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    platform::MidiCapture capture;
    if (mode != "listen") {
        platform::setMidi(&capture); // nothing sounds
    }
    QStringList messages;
    platform::setMessageBoxHook([&](const QString& text) { messages << text; });

    stavebass w;
    if (!QTest::qWaitFor([] { return !platform::messagesHeld(); }, 3000)) {
        std::fprintf(stderr, "the intro did not hand over\n");
        return 1;
    }
    w.move(0, 0);
    practiseSettings(w);
    if (mode == "aids") {
        return practiceAids(w, out, folder.path());
    }
    if (mode == "listen" || mode == "wrong") {
        return mode == "listen" ? hearItself(w, out, folder.path())
                                : hearWrongNotes(w, out, folder.path());
    }
    w.Start_Click();
    w.Timer1->stop();
    for (int beat = 0; beat < 9; ++beat) {
        w.onTimer1(); // two bars handed over, and the stave drawn at the third bar's first beat
    }

    const std::vector<std::pair<const char*, std::function<void()>>> looks = {
        {"designed", [] {}},       {"flame", [&] { w.flame(); }}, {"sci", [&] { w.sci(); }},
        {"sky", [&] { w.sky(); }}, {"cor", [&] { w.cor(); }},     {"ind", [&] { w.ind(); }},
    };
    int failed = 0;
    for (const auto& [name, apply] : looks) {
        apply();
        const QString file = out + QStringLiteral("/window-%1.png").arg(QLatin1String(name));
        if (!photograph(w).save(file)) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(file));
            ++failed;
        } else {
            std::printf("%s\n", qPrintable(file));
        }
    }
    for (const QString& m : messages) {
        std::fprintf(stderr, "message: %s\n", qPrintable(m));
    }
    platform::setMidi(nullptr);
    return failed == 0 ? 0 : 1;
}
