// The key list and the diatonic table, checked against the circle of fifths.
#include "engine/keys.h"
#include "engine/notes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A key with n sharps sharpens F C G D A E B in that order; n flats flatten B E A D G C F.
std::string expectedSpelling(int key, char letter) {
    static const std::string sharpOrder = "FCGDAEB";
    static const std::string flatOrder = "BEADGCF";
    if (key <= 7) {
        const auto at = sharpOrder.find(letter);
        return std::string(1, letter) + (static_cast<int>(at) < key ? "#" : "");
    }
    const auto at = flatOrder.find(letter);
    return std::string(1, letter) + (static_cast<int>(at) < key - 7 ? "b" : "");
}

TEST(Keys, ListOrderAndLookup) {
    const char* names[] = {"C", "G",  "D",  "A",  "E",  "B",  "F#", "C#",
                           "F", "Bb", "Eb", "Ab", "Db", "Gb", "Cb"};
    for (int k = 0; k < 15; ++k) {
        EXPECT_EQ(keys::keyNames()[static_cast<std::size_t>(k)], names[k]);
        EXPECT_EQ(keys::keyIndexOf(names[k]), k) << names[k];
        EXPECT_EQ(keys::isFlatKey(k), k > 7) << names[k];
    }
    for (const char* bad : {"", "c", "bb", "BB", "Keysignature", "C ", "H", "A#"}) {
        EXPECT_FALSE(keys::keyIndexOf(bad).has_value()) << '"' << bad << '"';
    }
}

TEST(Keys, EveryRowOfEveryKeyFollowsTheCircleOfFifths) {
    const keys::Diatonics table = keys::buildDiatonics();
    static const std::string letters = "EFGABCD";
    for (int k = 0; k < 15; ++k) {
        const auto& rows = table[static_cast<std::size_t>(k)];
        EXPECT_EQ(rows[0], "0") << "key " << k;
        for (int r = 1; r <= 24; ++r) {
            const char letter = letters[static_cast<std::size_t>((r - 1) % 7)];
            const std::string expected =
                expectedSpelling(k, letter) + static_cast<char>('0' + (r - 1) / 7);
            EXPECT_EQ(rows[static_cast<std::size_t>(r)], expected) << "key " << k << " row " << r;
        }
        for (std::size_t r = 25; r < rows.size(); ++r) {
            EXPECT_TRUE(rows[r].empty()) << "key " << k << " row " << r;
        }
    }
}

TEST(Keys, RowsRiseByScaleStepsExceptTheLowFlatE) {
    // Successive rows are successive scale degrees: each a semitone or a tone above the last.
    // Only "Eb0" has no written number; it is the semitone below the open low E string.
    const keys::Diatonics table = keys::buildDiatonics();
    for (int k = 0; k < 15; ++k) {
        const auto& rows = table[static_cast<std::size_t>(k)];
        std::optional<int> previous;
        for (std::size_t r = 1; r <= 24; ++r) {
            const std::optional<int> pitch = notes::writtenNumber(rows[r]);
            if (rows[r] == "Eb0") {
                EXPECT_EQ(r, 1u);
                EXPECT_GT(k, 8);
                previous = 39;
                continue;
            }
            ASSERT_TRUE(pitch.has_value()) << rows[r];
            if (previous) {
                const int step = *pitch - *previous;
                EXPECT_TRUE(step == 1 || step == 2) << "key " << k << " row " << r;
            }
            previous = pitch;
        }
    }
}

TEST(Keys, EdgeCases) {
    const keys::Diatonics table = keys::buildDiatonics();
    struct Case {
        const char* key;
        int row;
        const char* name;
    };
    const Case cases[] = {
        {"C", 0, "0"},    {"C", 1, "E0"},   {"C", 7, "D0"},    {"C", 8, "E1"},   {"C", 22, "E3"},
        {"C", 24, "G3"},  {"Cb", 2, "Fb0"}, {"Cb", 6, "Cb0"},  {"F#", 1, "E#0"}, {"C#", 5, "B#0"},
        {"Bb", 1, "Eb0"}, {"Bb", 8, "Eb1"}, {"Bb", 15, "Eb2"}, {"Bb", 24, "G3"}, {"F", 5, "Bb0"},
        {"F", 1, "E0"},   {"F", 2, "F0"},   {"F", 3, "G0"},    {"F", 4, "A0"},   {"F", 6, "C0"},
        {"F", 7, "D0"},
    };
    for (const Case& c : cases) {
        const int k = *keys::keyIndexOf(c.key);
        EXPECT_EQ(keys::rowsOf(table, k)[static_cast<std::size_t>(c.row)], c.name)
            << c.key << " row " << c.row;
    }
    // An index outside the list reads as key C rather than outside the table.
    EXPECT_EQ(keys::rowsOf(table, 15)[1], "E0");
    EXPECT_EQ(keys::rowsOf(table, -1)[1], "E0");
}

} // namespace
