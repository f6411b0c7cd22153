// The signs of the waiting bar and the stave position table.
#include "engine/createbar.h"
#include "engine/notes.h"
#include "stave/stave_table.h"
#include "support/engine_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using createbar::kFlat;
using createbar::kNatural;
using createbar::kNone;
using createbar::kSharp;

TEST(CreateBar, Signs) {
    struct Case {
        const char* key;
        createbar::Bar bar;
        std::array<int16_t, 4> signs;
    };
    const Case cases[] = {
        {"C", {"", "F#1", "F#1", "F#1", "F#1"}, {kSharp, kNone, kNone, kNone}},
        // At position 4 the sharp comes back and cancels the natural; F# already stood first.
        // The sharp comes back after the natural of the third note; printing none would show an
        // F natural while F# sounds.
        {"C", {"", "F#1", "G1", "F1", "F#1"}, {kSharp, kNone, kNatural, kSharp}},
        {"C", {"", "G1", "G1", "G#1", "G1"}, {kNone, kNone, kSharp, kNatural}},
        {"C", {"", "Bb0", "B0", "Bb0", "C1"}, {kFlat, kNatural, kFlat, kNone}},
        // The same name in another octave carries no new sign.
        {"C", {"", "F#1", "A1", "F#2", "C1"}, {kSharp, kNone, kNone, kNone}},
        {"G", {"", "F1", "A1", "B1", "C1"}, {kNatural, kNone, kNone, kNone}},
        {"G", {"", "F#1", "A1", "B1", "C1"}, {kNone, kNone, kNone, kNone}},
        {"F", {"", "B0", "A1", "G1", "C1"}, {kNatural, kNone, kNone, kNone}},
        {"F", {"", "Bb0", "A1", "G1", "C1"}, {kNone, kNone, kNone, kNone}},
        {"C", {"", "E#1", "A1", "G1", "C1"}, {kSharp, kNone, kNone, kNone}},
        {"C", {"", "B#0", "A1", "G1", "D1"}, {kSharp, kNone, kNone, kNone}},
        {"C", {"", "Cb1", "A1", "G1", "D1"}, {kFlat, kNone, kNone, kNone}},
        // In the key, all letters different: no signs.
        {"D", {"", "F#0", "C#1", "E1", "A2"}, {kNone, kNone, kNone, kNone}},
        {"Cb", {"", "Fb0", "Cb1", "Eb1", "Ab2"}, {kNone, kNone, kNone, kNone}},
        // A natural, then its sharp and the natural again on the next two beats.
        {"C", {"", "G1", "F1", "F#1", "F1"}, {kNone, kNone, kSharp, kNatural}},
        // Letter of beat 2 brought back with another accidental at beat 4.
        {"C", {"", "A1", "F#1", "G1", "F1"}, {kNone, kSharp, kNone, kNatural}},
        // The foreign note repeated at beat 3 after another note: no new sign.
        {"C", {"", "C#1", "D1", "C#1", "E1"}, {kSharp, kNone, kNone, kNone}},
        // The same foreign note at beats 2 and 4: the second shows nothing.
        {"C", {"", "A1", "Eb1", "G1", "Eb1"}, {kNone, kFlat, kNone, kNone}},
        // The same letter straight after with another accidental.
        {"G", {"", "F#1", "F1", "A1", "B1"}, {kNone, kNatural, kNone, kNone}},
        {"Bb", {"", "E1", "Eb1", "E1", "Eb2"}, {kNatural, kFlat, kNatural, kFlat}},
    };
    const keys::Diatonics& table = enginetest::diatonics();
    for (const Case& c : cases) {
        const createbar::Signs got =
            createbar::signs(c.bar, keys::rowsOf(table, *keys::keyIndexOf(c.key)));
        for (std::size_t p = 1; p <= 4; ++p) {
            EXPECT_EQ(got[p], c.signs[p - 1]) << c.key << " " << c.bar[1] << " " << c.bar[2] << " "
                                              << c.bar[3] << " " << c.bar[4] << " @" << p;
        }
    }
}

TEST(CreateBar, WrittenSignsHoldOnlyOnTheirOwnLineOrSpace) {
    struct Case {
        const char* key;
        createbar::Bar bar;
        std::array<int16_t, 4> signs;
    };
    const Case cases[] = {
        // The sharp of A#1 does not reach A#2 two lines up, nor that of F#1 the F#2 an octave up.
        {"C", {"", "A#1", "F0", "A#2", "C1"}, {kSharp, kNone, kSharp, kNone}},
        {"C", {"", "F#1", "A1", "F#2", "C1"}, {kSharp, kNone, kSharp, kNone}},
        // The key's F# is in force on every F line: F natural needs its sign in each octave.
        {"G", {"", "F1", "A1", "F2", "C1"}, {kNatural, kNone, kNatural, kNone}},
        // The sign added on A2 holds there, so A2 after A1 natural needs its natural back.
        {"C", {"", "A#1", "A#2", "A1", "A2"}, {kSharp, kSharp, kNatural, kNatural}},
        // C#2 is written on the C1 ledger line under 8va, where the sharp of C#1 holds.
        {"C", {"", "C#1", "A1", "C#2", "E1"}, {kSharp, kNone, kNone, kNone}},
        // Every sign the letter rule gives stays, even where the line would not need it.
        {"C", {"", "Fb1", "D#1", "F1", "D#1"}, {kFlat, kSharp, kNatural, kSharp}},
        {"Bb", {"", "E1", "Eb1", "E1", "Eb2"}, {kNatural, kFlat, kNatural, kFlat}},
    };
    const keys::Diatonics& table = enginetest::diatonics();
    for (const Case& c : cases) {
        const createbar::Signs got =
            createbar::writtenSigns(c.bar, keys::rowsOf(table, *keys::keyIndexOf(c.key)));
        for (std::size_t p = 1; p <= 4; ++p) {
            EXPECT_EQ(got[p], c.signs[p - 1]) << c.key << " " << c.bar[1] << " " << c.bar[2] << " "
                                              << c.bar[3] << " " << c.bar[4] << " @" << p;
        }
    }
}

TEST(StaveTable, RowsOfTheBassStave) {
    struct Case {
        const char* name;
        int type;
        int height;
    };
    const Case cases[] = {
        {"E0", 3, 149},
        {"F0", 4, 126},
        {"G0", 3, 127},
        {"A0", 4, 104},
        {"B0", 3, 105},
        {"C0", 2, 191},
        {"D0", 1, 180},
        {"E1", 2, 169},
        {"F1", 1, 158},
        {"G1", 2, 147},
        {"A1", 1, 136},
        {"B1", 2, 125},
        {"C1", 1, 114},
        {"D1", 2, 103},
        {"E2", 1, 92},
        {"F2", 2, 81},
        {"G2", 1, 70},
        {"A2", 2, 60},
        {"B2", 1, 48},
        // Sharps and flats on their letter's row.
        {"E#1", 2, 169},
        {"Eb1", 2, 169},
        {"B#0", 3, 105},
        {"Bb0", 3, 105},
        {"Cb1", 1, 114},
        {"Eb0", 3, 149},
        {"F#1", 1, 158},
        {"Fb0", 4, 126},
        {"Db0", 1, 180},
        {"Bb2", 1, 48},
    };
    for (const Case& c : cases) {
        const std::optional<StavePlace> place = staveLookup(c.name);
        ASSERT_TRUE(place.has_value()) << c.name;
        EXPECT_EQ(place->type, c.type) << c.name;
        EXPECT_EQ(place->height, c.height) << c.name;
        EXPECT_FALSE(place->ottava) << c.name;
    }
}

TEST(StaveTable, NotesAboveTheTableAreWrittenAnOctaveLowerUnder8va) {
    struct Case {
        const char* name;
        const char* writtenAs;
    };
    const Case cases[] = {
        {"C2", "C1"},  {"C#2", "C1"}, {"Cb2", "C1"}, {"D2", "D1"},  {"D#2", "D1"},
        {"Db2", "D1"}, {"E3", "E2"},  {"Eb3", "E2"}, {"E#3", "E2"}, {"F3", "F2"},
        {"F#3", "F2"}, {"Fb3", "F2"}, {"G3", "G2"},  {"G#3", "G2"}, {"Gb3", "G2"},
    };
    for (const Case& c : cases) {
        const std::optional<StavePlace> place = staveLookup(c.name);
        const std::optional<StavePlace> lower = staveLookup(c.writtenAs);
        ASSERT_TRUE(place.has_value()) << c.name;
        EXPECT_TRUE(place->ottava) << c.name;
        EXPECT_EQ(place->type, lower->type) << c.name;
        EXPECT_EQ(place->height, lower->height) << c.name;
    }
}

TEST(StaveTable, EveryNoteHasAPlaceAndNothingElseDoes) {
    // All names with a written number, and "Eb0", have a place; other strings have none.
    const std::string letters = "ABCDEFG";
    for (char letter : letters) {
        for (const char* accidental : {"", "#", "b"}) {
            for (char octave = '0'; octave <= '3'; ++octave) {
                const std::string name = std::string(1, letter) + accidental + octave;
                const bool isNote = notes::writtenNumber(name).has_value() || name == "Eb0";
                EXPECT_EQ(staveLookup(name).has_value(), isNote) << name;
            }
        }
    }
    for (const char* bad : {"", "E", "0", "H1", "e1", "Ex1", "E#", "E00", "Ab3", "A3", "C4"}) {
        EXPECT_FALSE(staveLookup(bad).has_value()) << '"' << bad << '"';
    }
}

TEST(StaveTable, HeightsStepElevenPixelsFromC0) {
    // Each scale step is 11 pixels from C0 to G2; A2 and B2 sit at 60 and 48.
    const char* climb[] = {"C0", "D0", "E1", "F1", "G1", "A1", "B1", "C1", "D1", "E2", "F2", "G2"};
    for (std::size_t i = 1; i < std::size(climb); ++i) {
        EXPECT_EQ(staveLookup(climb[i - 1])->height - staveLookup(climb[i])->height, 11)
            << climb[i];
    }
    // Stems up from E0 to B0, down from C0.
    for (const char* up : {"E0", "F0", "G0", "A0", "B0"}) {
        EXPECT_GE(staveLookup(up)->type, 3) << up;
    }
    for (const char* down : climb) {
        EXPECT_LE(staveLookup(down)->type, 2) << down;
    }
}

} // namespace
