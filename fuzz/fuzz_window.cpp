#include "fuzz_window.h"

#include "platform/appdir.h"
#include "platform/clock.h"
#include "platform/midi_capture.h"
#include "platform/msgbox.h"
#include "sound/midi_out.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace fuzzwindow {

namespace {

struct Environment {
    std::unique_ptr<QApplication> app;
    std::unique_ptr<QTemporaryDir> dir;
    platform::MidiCapture capture;
    uint32_t now = 1000;
    int boxes = 0;
    std::unique_ptr<stavebass> window;
};

Environment& environment() {
    static Environment* env = [] {
        auto* e = new Environment; // lives as long as the process
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        static int argc = 1;
        static char name[] = "clefwork-fuzz";
        static char* argv[] = {name, nullptr};
        e->app = std::make_unique<QApplication>(argc, argv);
        // Keys that no widget takes and the like are warned about at every input: keep quiet.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtFatalMsg || type == QtCriticalMsg) {
                std::fprintf(stderr, "%s\n", qPrintable(text));
            }
        });
        e->dir = std::make_unique<QTemporaryDir>();
        const QDir shipped(QStringLiteral(CLEFWORK_FUZZ_DATA));
        const QStringList pictures = shipped.entryList(
            {QStringLiteral("*.bmp"), QStringLiteral("*.jpg"), QStringLiteral("*.gif")},
            QDir::Files);
        if (pictures.isEmpty()) {
            qFatal("no pictures in %s: build the target artwork_pictures first",
                   CLEFWORK_FUZZ_DATA);
        }
        for (const QString& picture : pictures) {
            QFile::link(shipped.filePath(picture), e->dir->filePath(picture));
        }
        platform::setAppDir(e->dir->path());
        platform::setMidi(&e->capture);
        platform::setClock([e] { return e->now++; });
        platform::setMessageBoxHook([e](const QString&) { ++e->boxes; });
        MIDI_OUT::hMidiOut = 0;
        e->window = std::make_unique<stavebass>();
        return e;
    }();
    return *env;
}

} // namespace

stavebass& window() {
    return *environment().window;
}

QString folder() {
    return environment().dir->path();
}

int boxCount() {
    return environment().boxes;
}

void clearCapture() {
    environment().capture.clear();
}

} // namespace fuzzwindow
