// Takes pictures of the main window as a player sees it, for looking at and for the help pages:
//   clefwork_screens <output folder> [listen]
// With "listen" it plays for real through the built-in synthesiser (CLEFWORK_AUDIO_DRIVER=file
// serves where there is no sound card), listens to its own output, and photographs the window
// after a few bars.
// Run it under a real X server (Xvfb) for the real window system, or offscreen.  It plays a few
// bars into the window with a recording MIDI device, so nothing sounds, and photographs the
// designed look and every skin, with both hidden lists shown.
#include "platform/appdir.h"
#include "platform/midi.h"
#include "platform/midi_capture.h"
#include "platform/msgbox.h"
#include "ui/editcombo.h"
#include "ui/stavebass.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QScreen>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
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

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: clefwork_screens <output folder>\n");
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
    const bool listening = argc > 2 && QByteArray(argv[2]) == "listen";
    platform::MidiCapture capture;
    if (!listening) {
        platform::setMidi(&capture);
    }
    QStringList messages;
    platform::setMessageBoxHook([&](const QString& text) { messages << text; });

    stavebass w;
    if (!QTest::qWaitFor([] { return !platform::messagesHeld(); }, 3000)) {
        std::fprintf(stderr, "the intro did not hand over\n");
        return 1;
    }
    w.move(0, 0);
    w.Keysignature->setListIndex(9); // Bb, with flats and naturals to see
    w.Keysignature_Click();
    w.Check1->setCheckState(Qt::Unchecked);
    w.accif->setListIndex(3);
    w.Check4->setCheckState(Qt::Unchecked);
    w.fretposition->setListIndex(0);
    if (listening) {
        // The chosen input goes into the temporary folder, not the player's own settings.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
        QSettings(QStringLiteral("clefwork"), QStringLiteral("clefwork"))
            .setValue(QStringLiteral("listen/input"), QStringLiteral("loopback"));
        w.aspitch->setListIndex(0);
        w.temposcroll->setValue(100);
        w.listenbass->trigger();
        w.Start->click();
        QTest::qWait(11000);
        const QString file = out + QStringLiteral("/window-listening.png");
        const bool saved = photograph(w).save(file);
        std::printf("%s\n", qPrintable(file));
        w.Stop_Click();
        w.stoplistening();
        for (const QString& m : messages) {
            std::fprintf(stderr, "message: %s\n", qPrintable(m));
        }
        return saved ? 0 : 1;
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
