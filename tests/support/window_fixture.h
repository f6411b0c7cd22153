// What a window test needs: the capture MIDI, a settable millisecond clock, recorded message
// boxes and a temporary program folder holding the shipped pictures.
#pragma once

#include "platform/midi_capture.h"
#include "ui/stavebass.h"

#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>
#include <gtest/gtest.h>
#include <memory>

namespace testing_support {

// A millisecond count that the test sets; every read moves it on by `perRead` (so that the
// stopwatch's wait for a fresh millisecond ends).
struct FakeClock {
    uint32_t now = 1000;
    uint32_t perRead = 1;
    uint32_t reads = 0;
    void install();
    static void uninstall();
};

// A temporary program folder with links to every shipped picture.
class ProgramFolder {
public:
    ProgramFolder();
    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }
    void remove(const QString& name) const;

private:
    QTemporaryDir dir_;
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Builds the window (its load runs as it is made) and, unless told not to, lets the intro
    // hand over to it, as the program's event loop does straight after the load.
    stavebass& makeWindow(bool handingOver = true);
    // Runs the event loop until the intro has handed over to the main window and the messages
    // held during the load have shown.
    void handOver();
    // One tick of the beat timer, as the timer delivers it.
    void tick(int count = 1);
    // The sent messages since the last clear, as packed values.
    std::vector<uint32_t> sent() const { return capture.sent(); }

    platform::MidiCapture capture;
    FakeClock clock;
    QStringList boxes;
    std::unique_ptr<ProgramFolder> folder;
    std::unique_ptr<stavebass> window;
};

// Packs a message the way the MIDI modules do.
constexpr uint32_t msg(uint32_t status, uint32_t d1, uint32_t d2) {
    return status + d1 * 256 + d2 * 65536;
}

} // namespace testing_support
