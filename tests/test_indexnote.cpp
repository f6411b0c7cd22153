// The note under the index finger, its chromatic slot and its scale row.
#include "engine/indexnote.h"
#include "engine/notes.h"
#include "support/engine_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using enginetest::diatonics;
using enginetest::noteNames;
using enginetest::pitchOf;

// List indices: strings E 0, A 1, D 2, G 3; frets "All over the Neck" 0, "At the Nut" 1,
// "1st Fret" 2 ... "10th Fret" 11.
indexnote::IndexNote find(const char* key, int s, int f, std::string previous = "E0",
                          int previousPos = 0) {
    return indexnote::find(s, f, *keys::keyIndexOf(key), noteNames(), diatonics(), previous,
                           previousPos);
}

TEST(IndexNote, EdgeCases) {
    struct Case {
        const char* key;
        int s;
        int f;
        const char* note;
        int pos;
        int row;
        const char* caption;
    };
    const Case cases[] = {
        {"C", 0, 1, "E0", 1, 1, "E"},      {"C", 0, 0, "E0", 1, 1, "E"},
        {"C", 0, -1, "E0", 1, 1, "E"},     {"C", 3, 11, "F2", 26, 16, "F"},
        {"Bb", 1, 2, "Bb0", 7, 5, "Bb"},   {"C", 1, 7, "D#0", 12, 7, "D#"},
        {"F", 1, 7, "Eb1", 12, 8, "Eb"},   {"F", 2, 2, "Eb1", 12, 8, "Eb"},
        {"Db", 1, 7, "Eb1", 12, 8, "Eb"},  {"Db", 2, 2, "Eb1", 12, 8, "Eb"},
        {"Bb", 3, 9, "Eb2", 24, 15, "Eb"}, {"G", 0, 2, "F0", 2, 1, "F"},
        {"Cb", 0, 1, "E0", 1, 1, "E"},     {"C#", 0, 1, "E0", 1, 1, "E"},
        {"F", 2, 5, "Gb1", 15, 10, "Gb"},  {"C", 0, 3, "F#0", 3, 2, "F#"},
        {"F", 0, 3, "Gb0", 3, 3, "Gb"},    {"G", 2, 3, "E1", 13, 8, "E"},
        {"C", 1, 1, "A0", 6, 4, "A"},      {"F", 1, 2, "Bb0", 7, 5, "Bb"},
    };
    for (const Case& c : cases) {
        const indexnote::IndexNote got = find(c.key, c.s, c.f);
        EXPECT_EQ(got.note, c.note) << c.key << " s" << c.s << " f" << c.f;
        EXPECT_EQ(got.pos, c.pos) << c.key << " s" << c.s << " f" << c.f;
        EXPECT_EQ(got.row, c.row) << c.key << " s" << c.s << " f" << c.f;
        EXPECT_EQ(got.caption, c.caption) << c.key << " s" << c.s << " f" << c.f;
    }
}

TEST(IndexNote, NoStringSelectedKeepsTheNote) {
    // At load: "E0" with slot 0 becomes slot 1.
    indexnote::IndexNote got = find("C", -1, 1, "E0", 0);
    EXPECT_EQ(got.note, "E0");
    EXPECT_EQ(got.pos, 1);
    EXPECT_EQ(got.row, 1);

    // F, D-String, 4th Fret gives "Gb1"; with the string list edited and the key A, the kept
    // name takes the first G row, which in A holds "G#0".
    const indexnote::IndexNote first = find("F", 2, 5);
    got = find("A", -1, 5, first.note, first.pos);
    EXPECT_EQ(got.note, "Gb1");
    EXPECT_EQ(got.pos, 15);
    EXPECT_EQ(got.row, 3);

    // A kept D#0 in a flat key is the Eb of its own pitch, never "Eb0" below the low E string.
    const indexnote::IndexNote sharp = find("C", 1, 7);
    got = find("Bb", -1, 7, sharp.note, sharp.pos);
    EXPECT_EQ(got.note, "Eb1");
    EXPECT_EQ(got.pos, 12);
    EXPECT_EQ(got.row, 8);

    // Nothing kept at all: the open low E string.
    got = find("C", -1, 1, "", 0);
    EXPECT_EQ(got.note, "E0");
    EXPECT_EQ(got.pos, 1);
}

bool keySpells(int key, const std::string& caption) {
    const auto& rows = diatonics()[static_cast<std::size_t>(key)];
    for (std::size_t r = 1; r <= 7; ++r) {
        if (notes::withoutOctave(rows[r]) == caption) {
            return true;
        }
    }
    return false;
}

// For every key, string and fret: the finger note keeps the pitch of its slot, is spelled the
// key's way, and its row (moved up as the scale window moves for a note between two scale
// notes) is the scale note of that pitch or the first one above it.
TEST(IndexNote, EverySettingFindsTheScaleNoteOfItsPitch) {
    for (int key = 0; key < 15; ++key) {
        const auto& rows = diatonics()[static_cast<std::size_t>(key)];
        for (int s = 0; s <= 3; ++s) {
            for (int f = -1; f <= 11; ++f) {
                SCOPED_TRACE("key " + std::to_string(key) + " s" + std::to_string(s) + " f" +
                             std::to_string(f));
                const indexnote::IndexNote got =
                    indexnote::find(s, f, key, noteNames(), diatonics(), "E0", 0);
                EXPECT_EQ(got.pos, std::max(f, 1) + indexnote::kOpenString[std::size_t(s)]);
                const std::optional<int> pitch = notes::writtenNumber(got.note);
                ASSERT_TRUE(pitch.has_value()) << got.note;
                EXPECT_EQ(*pitch, 39 + got.pos) << got.note;
                EXPECT_EQ(got.caption, notes::withoutOctave(got.note));
                const char accidental = got.note.size() == 3 ? got.note[1] : ' ';
                EXPECT_NE(accidental, keys::isFlatKey(key) ? '#' : 'b') << got.note;

                ASSERT_GE(got.row, 1);
                ASSERT_LE(got.row, 16);
                const int rowPitch = *pitchOf(rows[std::size_t(got.row)]);
                if (keySpells(key, got.caption)) {
                    EXPECT_EQ(rowPitch, *pitch) << got.note << " row " << got.row;
                    continue;
                }
                if (got.note == "E0") {
                    // The bottom of the table: the key alters E, nothing lies below row 1.
                    EXPECT_EQ(got.row, 1);
                    continue;
                }
                int anchor = got.row;
                if (got.caption.size() == 1) {
                    anchor += keys::isFlatKey(key) ? 2 : 1;
                } else if (got.caption.back() == '#') {
                    anchor += 1;
                }
                const int above = *pitchOf(rows[std::size_t(anchor)]);
                const int below = *pitchOf(rows[std::size_t(anchor - 1)]);
                EXPECT_LE(below, *pitch) << got.note << " row " << got.row;
                EXPECT_GE(above, *pitch) << got.note << " row " << got.row;
                EXPECT_LT(below, above);
            }
        }
    }
}

} // namespace
