#include "platform/midi_capture.h"
#include "platform/msgbox.h"
#include "sound/midi_cmd.h"
#include "sound/midi_out.h"
#include "support/window_fixture.h"

#include <QListWidget>
#include <gtest/gtest.h>

namespace {

using testing_support::msg;

class MidiModules : public ::testing::Test {
protected:
    void SetUp() override {
        platform::setMidi(&capture);
        platform::setMessageBoxHook([this](const QString& t) { boxes << t; });
        MIDI_OUT::hMidiOut = 0;
    }
    void TearDown() override {
        MIDI_OUT::hMidiOut = 0;
        platform::setMessageBoxHook({});
        platform::setMidi(nullptr);
    }
    platform::MidiCapture capture;
    QStringList boxes;
};

TEST(PackShortMessage, WorkedBytes) {
    struct Case {
        int16_t status, d1, d2;
        uint32_t packed;
    };
    const Case cases[] = {
        {0x99, 36, 127, 0x007F2499u}, // NoteOn (9, 36, 127): 99 24 7F 00
        {0x99, 37, 0, 0x00002599u},   // NoteOff (9, 37): 99 25 00 00
        {0xB0, 0, 0, 0x000000B0u},    // bank select 0
        {0xC0, 34, 0, 0x000022C0u},   // program 34
        {0x90, 40, 100, 0x00642890u},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(static_cast<uint32_t>(MIDI_OUT::PackShortMessage(c.status, c.d1, c.d2)),
                  c.packed);
    }
}

TEST_F(MidiModules, ChannelMessagesGoOutAsPacked) {
    MIDI_OUT::OpenDevice(-1);
    capture.clear();
    MIDI_CMD::NoteOn(9, 36, 127);
    MIDI_CMD::NoteOff(9, 37);
    MIDI_CMD::ProgramChange(0, 0, 34);
    MIDI_CMD::ControlChange(3, 7, 100);
    MIDI_CMD::NoteOn(0, 40, 64);
    const std::vector<uint32_t> expected{msg(0x99, 36, 127), msg(0x99, 37, 0),  msg(0xB0, 0, 0),
                                         msg(0xC0, 34, 0),   msg(0xB3, 7, 100), msg(0x90, 40, 64)};
    EXPECT_EQ(capture.sent(), expected);
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(MidiModules, DeviceListTriesTheDefaultDeviceFirstAndSkipsFailedQueries) {
    struct Case {
        const char* what;
        bool mapper;
        std::vector<platform::MidiCapture::Device> devices;
        std::vector<std::pair<QString, int>> entries;
    };
    const Case cases[] = {
        {"mapper and two ports",
         true,
         {{"Port A"}, {"Port B"}},
         {{"Capture Synth", -1}, {"Port A", 0}, {"Port B", 1}}},
        {"no mapper", false, {{"Port A"}, {"Port B"}}, {{"Port A", 0}, {"Port B", 1}}},
        {"a failing query in the middle",
         true,
         {{"Port A"}, {"Broken", true}, {"Port C"}},
         {{"Capture Synth", -1}, {"Port A", 0}, {"Port C", 2}}},
        {"a long name is cut to 31 characters",
         false,
         {{"A port whose name runs on far beyond the limit"}},
         {{"A port whose name runs on far b", 0}}},
        {"nothing at all", false, {}, {}},
    };
    for (const auto& c : cases) {
        capture.hasMapper = c.mapper;
        capture.devices = c.devices;
        QListWidget list;
        list.addItem(QStringLiteral("stale entry"));
        MIDI_OUT::FillDeviceList(&list);
        ASSERT_EQ(list.count(), static_cast<int>(c.entries.size())) << c.what;
        for (int i = 0; i < list.count(); ++i) {
            EXPECT_EQ(list.item(i)->text(), c.entries[static_cast<std::size_t>(i)].first) << c.what;
            EXPECT_EQ(list.item(i)->data(Qt::UserRole).toInt(),
                      c.entries[static_cast<std::size_t>(i)].second)
                << c.what;
        }
    }
    EXPECT_TRUE(boxes.isEmpty()) << "a failed query is never reported";
}

TEST_F(MidiModules, FailuresShowThePlatformTextAndCarryOn) {
    capture.openResult = platform::MMSYSERR_ALLOCATED;
    MIDI_OUT::OpenDevice(0);
    EXPECT_EQ(MIDI_OUT::hMidiOut, 0u);
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0].toStdString(), capture.errorText(platform::MMSYSERR_ALLOCATED));

    // With no device open every send fails and says so, once per message.
    boxes.clear();
    MIDI_CMD::ProgramChange(0, 0, 34);
    EXPECT_EQ(boxes.size(), 2);
    EXPECT_EQ(capture.sent().size(), 2u);

    // A close that fails is reported and the handle is forgotten all the same.
    capture.openResult = platform::MMSYSERR_NOERROR;
    MIDI_OUT::OpenDevice(0);
    ASSERT_NE(MIDI_OUT::hMidiOut, 0u);
    boxes.clear();
    capture.closeResult = platform::MMSYSERR_INVALHANDLE;
    MIDI_OUT::CloseDevice();
    EXPECT_EQ(MIDI_OUT::hMidiOut, 0u);
    EXPECT_EQ(boxes.size(), 1);
    // Closing with nothing open does nothing.
    MIDI_OUT::CloseDevice();
    EXPECT_EQ(boxes.size(), 1);
    EXPECT_EQ(capture.closeCount, 1);
}

TEST_F(MidiModules, OpenClosesTheDeviceBefore) {
    MIDI_OUT::OpenDevice(-1);
    const platform::HMIDIOUT first = MIDI_OUT::hMidiOut;
    MIDI_OUT::OpenDevice(-1);
    EXPECT_NE(MIDI_OUT::hMidiOut, first);
    EXPECT_EQ(capture.openCount, 2);
    EXPECT_EQ(capture.closeCount, 1);
    EXPECT_EQ(capture.openHandle, MIDI_OUT::hMidiOut);
}

TEST_F(MidiModules, ErrorTextsAreCutToTheBuffer) {
    capture.sendResult = platform::MIDIERR_NOSOUNDFONT;
    MIDI_CMD::NoteOn(0, 40, 1);
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_LE(boxes[0].size(), 127);
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("soundfont")));
}

} // namespace
