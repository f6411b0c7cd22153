#include "support/window_fixture.h"

#include "platform/appdir.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "sound/midi_out.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace testing_support {

void FakeClock::install() {
    platform::setClock([this] {
        ++reads;
        const uint32_t value = now;
        now += perRead;
        return value;
    });
}

void FakeClock::uninstall() {
    platform::setClock({});
}

ProgramFolder::ProgramFolder() {
    // CLEFWORK_TEST_DATA in the environment names another copy of the built pictures (CI runs
    // some tests as an unprivileged user, who may not reach the build tree).
    const QDir shipped(
        qEnvironmentVariable("CLEFWORK_TEST_DATA", QStringLiteral(CLEFWORK_TEST_DATA)));
    const QStringList pictures =
        shipped.entryList({QStringLiteral("*.bmp"), QStringLiteral("*.jpg"),
                           QStringLiteral("*.gif"), QStringLiteral("*.chm")},
                          QDir::Files);
    for (const QString& name : pictures) {
        QFile::link(shipped.filePath(name), dir_.filePath(name));
    }
    // The help pages, in their own folder.
    QFile::link(shipped.filePath(QStringLiteral("help")), dir_.filePath(QStringLiteral("help")));
}

void ProgramFolder::remove(const QString& name) const {
    QFile::remove(dir_.filePath(name));
}

void WindowTest::SetUp() {
    folder = std::make_unique<ProgramFolder>();
    platform::setAppDir(folder->path());
    platform::setMidi(&capture);
    clock.install();
    platform::setMessageBoxHook([this](const QString& text) { boxes << text; });
    MIDI_OUT::hMidiOut = 0;
}

void WindowTest::TearDown() {
    window.reset();
    platform::setMessageBoxHook({});
    FakeClock::uninstall();
    platform::setMidi(nullptr);
    platform::setAppDir(QString());
    MIDI_OUT::hMidiOut = 0;
}

stavebass& WindowTest::makeWindow(bool handingOver) {
    window = std::make_unique<stavebass>();
    if (handingOver) {
        handOver();
    }
    return *window;
}

void WindowTest::handOver() {
    EXPECT_TRUE(QTest::qWaitFor([] { return !platform::messagesHeld(); }, 2000))
        << "the intro did not hand over";
}

void WindowTest::tick(int count) {
    for (int i = 0; i < count; ++i) {
        window->onTimer1();
    }
}

} // namespace testing_support
