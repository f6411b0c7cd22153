#include "engine/notes.h"
#include "engine/rounding.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

namespace {

// An independent statement of the naming: the semitones above the open low E string of a
// letter in its octave group E F G A B C D.
int semitonesInGroup(char letter) {
    const std::string order = "EFGABCD";
    const int steps[] = {0, 1, 3, 5, 7, 8, 10};
    return steps[order.find(letter)];
}

TEST(NoteTable, SlotsRunFromOpenLowEToGSharp3) {
    const auto& t = notes::chromaticTable();
    EXPECT_EQ(t[0], "");
    const std::pair<int, const char*> cases[] = {{1, "E0"},  {2, "F0"},  {12, "D#0"},
                                                 {13, "E1"}, {21, "C1"}, {25, "E2"},
                                                 {37, "E3"}, {40, "G3"}, {41, "G#3"}};
    for (const auto& [slot, name] : cases) {
        EXPECT_EQ(t[static_cast<std::size_t>(slot)], name) << "slot " << slot;
    }
    for (std::size_t k = 1; k <= 41; ++k) {
        ASSERT_EQ(notes::writtenNumber(t[k]), static_cast<int>(39 + k)) << t[k];
        if (k + 12 <= 41) {
            EXPECT_EQ(t[k].substr(0, t[k].size() - 1), t[k + 12].substr(0, t[k + 12].size() - 1));
        }
    }
}

TEST(NoteNumbers, ExactlySeventyOneNamesHaveANumber) {
    // Every string of letter, optional accidental and digit: count those with a number and check
    // each number against the independent rule and the instrument's range (40 to 80).
    int named = 0;
    for (char letter : std::string("ABCDEFGH")) {
        for (std::string acc : {"", "#", "b", "x"}) {
            for (char digit : std::string("012349")) {
                const std::string name = std::string(1, letter) + acc + digit;
                const auto number = notes::writtenNumber(name);
                if (!number) {
                    continue;
                }
                ++named;
                const int expected = 40 + semitonesInGroup(letter) +
                                     (acc == "#"   ? 1
                                      : acc == "b" ? -1
                                                   : 0) +
                                     12 * (digit - '0');
                EXPECT_EQ(*number, expected) << name;
                EXPECT_GE(*number, 40) << name;
                EXPECT_LE(*number, 80) << name;
            }
        }
    }
    EXPECT_EQ(named, 71);
}

TEST(NoteNumbers, WorkedValuesAndEnharmonics) {
    const std::pair<const char*, int> cases[] = {
        {"E0", 40},  {"Fb0", 40}, {"F0", 41},  {"E#0", 41}, {"Cb0", 47}, {"B#0", 48},
        {"C0", 48},  {"C1", 60},  {"B#1", 60}, {"E1", 52},  {"Fb1", 52}, {"Eb1", 51},
        {"F#1", 54}, {"Bb2", 70}, {"E#3", 77}, {"F3", 77},  {"F#3", 78}, {"Gb3", 78},
        {"G3", 79},  {"G#3", 80}, {"Cb1", 59}, {"B1", 59},  {"E#2", 65}, {"F2", 65}};
    for (const auto& [name, number] : cases) {
        EXPECT_EQ(notes::writtenNumber(name), number) << name;
    }
}

TEST(NoteNumbers, StringsWithoutANumber) {
    for (const char* name :
         {"",     "E",    "Eb0", "Ab3", "A3",  "C3",  "Bb3", "G#4", "e1",  "E#",
          "Fbb1", "F##1", "H1",  "E-1", "E10", "#E1", "E1 ", " E1", "Ex1", "b1"}) {
        EXPECT_FALSE(notes::writtenNumber(name).has_value()) << '"' << name << '"';
    }
}

TEST(NoteNames, ShownWithoutTheOctaveDigit) {
    const std::pair<const char*, const char*> cases[] = {{"F#1", "F#"}, {"Bb0", "Bb"}, {"E1", "E"},
                                                         {"Cb1", "Cb"}, {"E", ""},     {"", ""}};
    for (const auto& [name, shown] : cases) {
        EXPECT_EQ(notes::withoutOctave(name), shown) << name;
    }
}

TEST(PitchList, BassPitchIsAnOctaveBelowUnlessConcertPitchIsChosen) {
    EXPECT_EQ(notes::pitchShift(-1), -12);
    EXPECT_EQ(notes::pitchShift(0), -12);
    EXPECT_EQ(notes::pitchShift(1), 0);
}

TEST(Intervals, RoundHalfToEven) {
    struct Case {
        int32_t numerator, tempo, interval;
    };
    const Case cases[] = {
        {55775, 60, 930},  {55775, 50, 1116}, {55775, 46, 1212}, {55775, 30, 1859},
        {55775, 200, 279}, {70000, 32, 2188}, {70000, 160, 438}, {70000, 30, 2333},
        {70000, 200, 350}, {70000, 60, 1167}, {5, 2, 2},         {7, 2, 4},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(divRoundHalfEven(c.numerator, c.tempo), c.interval)
            << c.numerator << " / " << c.tempo;
    }
    // Every tempo the bar offers, against floating point with ties broken to even.
    for (int32_t t = 30; t <= 200; ++t) {
        for (int32_t n : {55775, 70000, kMillisPerMinute}) {
            const double exact = static_cast<double>(n) / t;
            const auto down = static_cast<int32_t>(exact);
            const double frac = exact - down;
            const int32_t expected = frac > 0.5   ? down + 1
                                     : frac < 0.5 ? down
                                                  : (down % 2 == 0 ? down : down + 1);
            EXPECT_EQ(divRoundHalfEven(n, t), expected) << n << " / " << t;
        }
    }
}

} // namespace
