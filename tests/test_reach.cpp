// The reach windows, read at their edges with scripted random values.
#include "engine/reach.h"
#include "support/engine_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using enginetest::diatonics;
using enginetest::noteNames;

constexpr double kLow = 0.0;
constexpr double kHigh = 0.999999;    // just below 1
constexpr double kNoSwap = 0.0;       // floor(r * 8) + 1 = 1: keep the drawn note
constexpr double kSwap = 0.3;         // floor(r * 8) + 1 = 3: the index-finger note
constexpr double kKeepSpelling = 0.9; // c = 2

struct Pick {
    std::string note;
    std::size_t drawn;
};

// One note at the settings given by list indices, the finger found as the window finds it.
Pick pick(const char* key, int s, int f, int t, bool diatonicOnly, int a,
          std::vector<double> values) {
    const int k = *keys::keyIndexOf(key);
    const indexnote::IndexNote finger = indexnote::find(s, f, k, noteNames(), diatonics(), "E0", 0);
    reach::Settings set;
    set.s = std::max(s, 0);
    set.f = std::max(f, 0);
    set.t = std::max(t, 0);
    set.a = a;
    set.diatonicOnly = diatonicOnly;
    set.keyIndex = k;
    ScriptedRandom random(std::move(values));
    const reach::IndexFinger index{finger.note, finger.pos, finger.row, finger.caption};
    std::string note = reach::note(set, index, noteNames(), diatonics(), random);
    return {note, random.drawn};
}

TEST(Reach, WindowEdges) {
    struct Case {
        const char* what;
        const char* key;
        int s, f, t;
        bool scale;
        const char* low;
        const char* high;
    };
    const Case cases[] = {
        // E string at the nut, same string: rows 1 to 3.
        {"nut scale", "C", 0, 1, 0, true, "E0", "G0"},
        // D string, 2nd fret, 2 strings away in G: N = E1 at row 8, rows 2 to 16.
        {"G D-string", "G", 2, 3, 2, true, "F#0", "F#2"},
        // A string at the nut, 1 string away: P = 6, positions 1 to 15.
        {"A-string chromatic", "C", 1, 1, 1, false, "E0", "F#1"},
        // E string, 2nd fret: F#0 lies outside C; scale rows 3 and 4, positions 4 to 7.
        {"F# scale", "C", 0, 3, 0, true, "G0", "A0"},
        {"F# chromatic", "C", 0, 3, 0, false, "G0", "A#0"},
        // The same fret in F is Gb0: the same rows, positions 2 to 5.
        {"Gb scale", "F", 0, 3, 0, true, "G0", "A0"},
        {"Gb chromatic", "F", 0, 3, 0, false, "F0", "G#0"},
        // G string, 10th fret, on all strings: rows 7 to 23 (the last row is never reached).
        {"G-string scale", "C", 3, 11, 4, true, "D0", "F3"},
        // Nothing selected but the nut: the E string, same string.
        {"defaults", "C", -1, 1, -1, true, "E0", "G0"},
        // All over the neck: positions 1 to 39 whatever the string.
        {"neck chromatic", "C", 3, 0, 2, false, "E0", "F#3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Chromatic notes: the pick, the respelling coin, the one-in-eight swap.
        const std::vector<double> low =
            c.scale ? std::vector{kLow, kNoSwap} : std::vector{kLow, kKeepSpelling, kNoSwap};
        const std::vector<double> high =
            c.scale ? std::vector{kHigh, kNoSwap} : std::vector{kHigh, kKeepSpelling, kNoSwap};
        const int a = c.scale ? -1 : 3;
        const Pick lo = pick(c.key, c.s, c.f, c.t, c.scale, a, low);
        const Pick hi = pick(c.key, c.s, c.f, c.t, c.scale, a, high);
        EXPECT_EQ(lo.note, c.low);
        EXPECT_EQ(hi.note, c.high);
        EXPECT_EQ(lo.drawn, low.size());
        EXPECT_EQ(hi.drawn, high.size());
    }
}

TEST(Reach, ScaleRowsRoundHalvesToEven) {
    // Rows 1 to 3 at the nut: 1 + 2r rounded.
    struct Case {
        double r;
        const char* note;
    };
    const Case cases[] = {{0.24, "E0"}, {0.25, "F0"}, {0.5, "F0"},
                          {0.75, "F0"}, {0.76, "G0"}, {kHigh, "G0"}};
    for (const Case& c : cases) {
        EXPECT_EQ(pick("C", 0, 1, 0, true, -1, {c.r, kNoSwap}).note, c.note) << c.r;
    }
    EXPECT_EQ(reach::roundHalfEven(2.5), 2);
    EXPECT_EQ(reach::roundHalfEven(3.5), 4);
    EXPECT_EQ(reach::roundHalfEven(3.4999), 3);
    EXPECT_EQ(reach::roundHalfEven(0.5), 0);
}

TEST(Reach, NoteSpaceOdds) {
    // "Diatonic to Key" unticked: the coin floor(r * n) = 1 makes the note chromatic, n = 5
    // for "not often" (and nothing chosen), 3 "Occasionally", 2 "More often".  At the E
    // string, 2nd fret in C a chromatic low edge is G0 and a scale low edge is G0 too, so the
    // edges that tell them apart are the high ones: A#0 against A0.
    struct Case {
        int a;
        double coin;
        const char* note;
        std::size_t drawn;
    };
    const Case cases[] = {
        {-1, 0.1, "A0", 3},  {-1, 0.2, "A#0", 4}, {-1, 0.39, "A#0", 4}, {-1, 0.4, "A0", 3},
        {0, 0.2, "A#0", 4},  {0, 0.9, "A0", 3},   {1, 0.33, "A0", 3},   {1, 0.34, "A#0", 4},
        {1, 0.66, "A#0", 4}, {1, 0.67, "A0", 3},  {2, 0.49, "A0", 3},   {2, 0.5, "A#0", 4},
    };
    for (const Case& c : cases) {
        const bool chromatic = std::string(c.note) == "A#0";
        std::vector<double> values{c.coin, kHigh};
        if (chromatic) {
            values.push_back(kKeepSpelling);
        }
        values.push_back(kNoSwap);
        const Pick got = pick("C", 0, 3, 0, false, c.a, values);
        EXPECT_EQ(got.note, c.note) << "a " << c.a << " coin " << c.coin;
        EXPECT_EQ(got.drawn, c.drawn) << "a " << c.a << " coin " << c.coin;
    }
    // "All the Time" draws no coin; "Diatonic to Key" ticked never does.
    EXPECT_EQ(pick("C", 0, 3, 0, false, 3, {kHigh, kKeepSpelling, kNoSwap}).note, "A#0");
    EXPECT_EQ(pick("C", 0, 3, 0, true, 3, {kHigh, kNoSwap}).note, "A0");
}

TEST(Reach, ChromaticRespelling) {
    // A string at the nut, 1 string away: positions 1 to 15; r picks q = 1 + floor(15 r).
    struct Case {
        double r;
        double coin;
        const char* note;
    };
    const Case cases[] = {
        {14.5 / 15, 0.1, "Fb1"}, // F#1 a whole tone lower on its letter
        {14.5 / 15, 0.5, "F#1"}, // c = 2 keeps it
        {11.5 / 15, 0.1, "Db0"}, // D#0
        {12.5 / 15, 0.1, "Fb1"}, // E1, the same pitch
        {7.5 / 15, 0.1, "Cb0"},  // B0, the same pitch
        {8.5 / 15, 0.1, "C0"},   // naturals other than E and B keep their name
        {1.5 / 15, 0.1, "F0"},   // q = b + 1: too close to the window's foot
        {2.5 / 15, 0.1, "Fb0"},  // q = b + 2: F#0
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pick("C", 1, 1, 1, false, 3, {c.r, c.coin, kNoSwap}).note, c.note) << c.r;
    }
}

TEST(Reach, OneInEightIndexFingerNote) {
    // Scale: N as the key spells it.  Chromatic: the table's sharp spelling of slot P.
    EXPECT_EQ(pick("F", 1, 2, 0, true, -1, {kHigh, kSwap}).note, "Bb0");
    EXPECT_EQ(pick("F", 1, 2, 0, false, 3, {kHigh, kKeepSpelling, kSwap}).note, "A#0");
    EXPECT_EQ(pick("C", 0, 1, 0, true, -1, {kHigh, 0.25}).note, "E0");
    EXPECT_EQ(pick("C", 0, 1, 0, true, -1, {kHigh, 0.375}).note, "G0");
    EXPECT_EQ(pick("C", 0, 1, 0, true, -1, {kHigh, 0.2499}).note, "G0");
}

TEST(Reach, AllOverTheNeckScaleRowsAvoidTheLowFlatE) {
    // The window pick is drawn first and then replaced by a row of the whole table.
    struct Case {
        const char* key;
        std::vector<double> values;
        const char* note;
        std::size_t drawn;
    };
    const Case cases[] = {
        {"C", {kLow, kLow, kNoSwap}, "E0", 3},
        {"C", {kLow, kHigh, kNoSwap}, "G3", 3},
        {"Bb", {kLow, kHigh, kNoSwap}, "G3", 3},
        {"Bb", {kLow, kLow, kLow, 12.5 / 24, kNoSwap}, "C1", 5},
        {"Bb", {kLow, 1.5 / 24, kNoSwap}, "F0", 3},
    };
    for (const Case& c : cases) {
        const Pick got = pick(c.key, 0, 0, 0, true, -1, c.values);
        EXPECT_EQ(got.note, c.note) << c.key;
        EXPECT_EQ(got.drawn, c.drawn) << c.key;
    }
}

TEST(Reach, WindowPickRedrawsOnLowFlatE) {
    // Bb, A string at the nut, 1 string away: N = A0 at row 4, rows 1 to 9; row 1 is "Eb0".
    const Pick got = pick("Bb", 1, 1, 1, true, -1, {kLow, kLow, 0.5, kNoSwap});
    EXPECT_EQ(got.note, "Bb0");
    EXPECT_EQ(got.drawn, 4u);
    // A source that only ever gives the low edge still ends, on the row above.
    const Pick stuck = pick("Bb", 1, 1, 1, true, -1, {kLow});
    EXPECT_EQ(stuck.note, "F0");
}

TEST(Reach, ScaleRowsStopAtRow23) {
    // On all strings from the E string the window is 14 rows above the finger's row; its top
    // row counts only up to row 23, "F3" in key C.
    struct Case {
        int row;
        const char* note;
    };
    const Case cases[] = {{7, "D2"}, {8, "E3"}, {9, "F3"}, {10, "F3"}, {20, "F3"}};
    reach::Settings set;
    set.s = 0;
    set.f = 5;
    set.t = 4;
    for (const Case& c : cases) {
        const reach::IndexFinger finger{"A1", 18, c.row, "A"};
        ScriptedRandom random({kHigh, kNoSwap});
        EXPECT_EQ(reach::note(set, finger, noteNames(), diatonics(), random), c.note) << c.row;
    }
}

} // namespace
