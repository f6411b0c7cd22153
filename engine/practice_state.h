// The practice state record: every variable of the main window with its starting value.  The
// window derives from it, so the engine's methods read and write these as the window's own
// variables; a test can build a bare record too.  Arrays keep their first slot unused so that
// positions 1 to 4 read as beats.
#pragma once

#include "layers/window.h"

#include "engine/random.h"
#include "sound/stopwatch.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

struct PracticeState {
    using Bar = std::array<std::string, 5>;
    // [row][position]: row 1 the sprite type, row 2 the height, row 3 the sign; row 0 is unused.
    using Layout = std::array<std::array<int16_t, 5>, 4>;
    static constexpr std::size_t kType = 1;
    static constexpr std::size_t kHeight = 2;
    static constexpr std::size_t kSign = 3;

    // Beat and timing.
    int16_t beatNumber = 0;
    int16_t tempo = 0;
    int32_t timerInterval = 0;
    int32_t beatTimeLeft = 0;
    std::unique_ptr<CStopWatch> stopWatch;

    // Sound.
    bool playNotes = false;
    int16_t lastNote = 0;
    int16_t noteVelocity = 0;
    std::array<int16_t, 6> currentBarPitches{}; // 0 is an empty cell

    // The two bars on the stave: the waiting bar on the right, the bar being played on the left.
    Bar nextBar{};
    Bar currentBar{};
    Bar nextBarCopy{};
    Layout nextBarLayout{};
    Layout currentBarLayout{};
    // Notes above the stave table are written an octave lower under an 8va mark.
    std::array<bool, 5> nextBarOttava{};
    std::array<bool, 5> currentBarOttava{};
    std::array<int32_t, 5> nextBarX{};
    std::array<int32_t, 5> currentBarX{};
    int16_t barPos = 0;

    // Drawing values handed to shownote and accidents.
    int16_t drawX = 0;
    int16_t drawY = 0;
    int16_t sourceX = 0;
    int16_t sourceY = 0;
    std::string drawNoteName;
    int16_t spriteType = 0;
    int16_t accidentalSign = 0;
    bool drawOttava = false;

    // Notes, key and options.
    std::array<std::string, 42> noteNames{};
    std::array<std::array<std::string, 46>, 15> diatonics; // every string starts empty
    std::string keyName;
    int16_t keyIndex = 0;
    bool diatonicOnly = false;
    bool alternateFromIndex = false;
    std::string indexNote;
    int16_t indexNotePos = 0;
    int16_t indexRow = 0;
    int16_t skinNumber = 0;

    // The program's one uniform generator.
    std::unique_ptr<RandomSource> random = std::make_unique<BasicRandom>();
};
