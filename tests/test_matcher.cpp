// The beat matcher and the score, on scripted beats and notes.
#include "listen/calibration.h"
#include "listen/matcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using listen::Judgement;
using listen::Verdict;

constexpr int64_t kMs = 1000000;

// One event of a scripted performance: a beat ('B', expected pitch, its period), a played
// note ('N', pitch), the clock moving on ('A'), the latency set ('L') or a restart ('R').
struct Step {
    char kind;
    int64_t ms;
    int midi = 0;
    int64_t periodMs = 500; // tempo 120
};

struct Want {
    int64_t beat;
    Verdict verdict;
    int played;
    double offsetMs;
};

struct Case {
    const char* what;
    std::vector<Step> steps;
    std::vector<Want> want;
};

TEST(BeatMatcher, ScriptedPerformances) {
    const Case cases[] = {
        {"right, with its offset", {{'B', 0, 40}, {'N', 12, 40}}, {{0, Verdict::Right, 40, 12}}},
        {"the window's edge: a quarter of a beat",
         {{'B', 0, 40}, {'N', 125, 40}},
         {{0, Verdict::Right, 40, 125}}},
        {"just past it, still nearest: late",
         {{'B', 0, 40}, {'N', 126, 40}},
         {{0, Verdict::Late, 40, 126}}},
        {"at most 150 ms at slow tempi",
         {{'B', 0, 40, 2000}, {'N', -151, 40}},
         {{0, Verdict::Early, 40, -151}}},
        {"early: heard before its beat, judged when the beat comes",
         {{'B', 0, 40}, {'N', 370, 45}, {'B', 500, 45}},
         {{1, Verdict::Early, 45, -130}}},
        {"octave, once the notes with it are in",
         {{'B', 0, 40}, {'N', 3, 52}, {'A', 162}, {'A', 163}},
         {{0, Verdict::Octave, 52, 3}}},
        {"two octaves down",
         {{'B', 0, 52}, {'N', 3, 28}, {'A', 163}},
         {{0, Verdict::Octave, 28, 3}}},
        {"wrong keeps what was played",
         {{'B', 0, 40}, {'N', -20, 41}, {'A', 140}},
         {{0, Verdict::Wrong, 41, -20}}},
        {"the accent's thud heard first, the note asked for from the same pluck",
         {{'B', 0, 52}, {'N', 2, 33}, {'N', 2, 52}},
         {{0, Verdict::Right, 52, 2}}},
        {"an octave first, then the pitch asked for within the settling time",
         {{'B', 0, 40}, {'N', 0, 52}, {'N', 30, 40}},
         {{0, Verdict::Right, 40, 30}}},
        {"a wrong note, then an octave of the pitch asked for with it",
         {{'B', 0, 40}, {'N', 0, 45}, {'N', 20, 52}, {'A', 160}},
         {{0, Verdict::Octave, 52, 20}}},
        {"a wrong note, then the right one after it settled: the wrong one decided",
         {{'B', 0, 40}, {'N', 0, 45}, {'N', 41, 40}, {'A', 160}},
         {{0, Verdict::Wrong, 45, 0}}},
        {"a wrong note late in the beat is decided by the beat's own deadline",
         {{'B', 0, 40}, {'N', 240, 45}, {'A', 369}, {'A', 370}},
         {{0, Verdict::Wrong, 45, 240}}},
        {"missed half way to the next beat and the detector's time later",
         {{'B', 0, 40}, {'A', 369}, {'A', 370}},
         {{0, Verdict::Missed, 0, 0}}},
        {"a second pluck changes nothing",
         {{'B', 0, 40}, {'N', 5, 40}, {'N', 60, 41}},
         {{0, Verdict::Right, 40, 5}}},
        {"a note held on is no new note",
         {{'B', 0, 40}, {'N', 0, 40}, {'B', 500, 40}, {'A', 870}},
         {{0, Verdict::Right, 40, 0}, {1, Verdict::Missed, 0, 0}}},
        {"the next bar's pitch from its own beat",
         {{'B', 0, 40}, {'N', 2, 40}, {'B', 500, 47}, {'N', 505, 47}},
         {{0, Verdict::Right, 40, 2}, {1, Verdict::Right, 47, 5}}},
        {"a faster tempo: the beat came sooner than the last one's length said",
         {{'B', 0, 40}, {'N', 290, 43}, {'B', 300, 43, 300}},
         {{1, Verdict::Right, 43, -10}}},
        {"the latency moves every beat",
         {{'L', 20}, {'B', 0, 40}, {'N', 20, 40}},
         {{0, Verdict::Right, 40, 0}}},
        {"a late note named after half the beat still counts for its beat",
         {{'B', 0, 40}, {'A', 300}, {'N', 180, 40}, {'B', 500, 41}},
         {{0, Verdict::Late, 40, 180}}},
        {"a late note past the middle, not the later beat's pitch but the open earlier one's",
         {{'B', 0, 40}, {'B', 500, 45}, {'N', 270, 40}, {'N', 510, 45}},
         {{0, Verdict::Late, 40, 270}, {1, Verdict::Right, 45, 10}}},
        {"the same once the later beat came: it waited for it",
         {{'B', 0, 40}, {'N', 270, 40}, {'B', 500, 45}},
         {{0, Verdict::Late, 40, 270}}},
        {"past the middle, the later beat's wrong note when the earlier asked another pitch or "
         "the note is an octave of the later one's",
         {{'B', 0, 40},
          {'B', 500, 45},
          {'N', 270, 41},
          {'A', 430},
          {'B', 1000, 47},
          {'B', 1500, 40},
          {'N', 1270, 28},
          {'A', 1430}},
         {{0, Verdict::Missed, 0, 0},
          {1, Verdict::Wrong, 41, -230},
          {2, Verdict::Missed, 0, 0},
          {3, Verdict::Octave, 28, -230}}},
        {"the earlier beat judged, right or missed before the late note was heard, swallows it",
         {{'B', 0, 40},
          {'N', 5, 40},
          {'B', 500, 45},
          {'N', 270, 40},
          {'A', 900},
          {'B', 1000, 47},
          {'N', 770, 45},
          {'N', 1010, 47}},
         {{0, Verdict::Right, 40, 5}, {1, Verdict::Missed, 0, 0}, {2, Verdict::Right, 47, 10}}},
        {"a restart forgets the open beat and judges nothing",
         {{'B', 0, 40}, {'R', 100}, {'N', 110, 40}, {'A', 2000}, {'B', 3000, 40}, {'N', 3004, 40}},
         {{1, Verdict::Right, 40, 4}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        listen::BeatMatcher m;
        std::vector<Judgement> got;
        int64_t beatId = 0;
        for (const Step& s : c.steps) {
            std::vector<Judgement> now;
            switch (s.kind) {
            case 'B':
                now = m.addBeat({beatId++, s.ms * kMs, s.periodMs * kMs, s.midi});
                break;
            case 'N':
                now = m.addNote(s.ms * kMs, s.midi);
                break;
            case 'A':
                now = m.advance(s.ms * kMs);
                break;
            case 'L':
                m.setLatencyNanos(s.ms * kMs);
                break;
            case 'R':
                m.reset();
                break;
            }
            got.insert(got.end(), now.begin(), now.end());
        }
        ASSERT_EQ(got.size(), c.want.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].beatId, c.want[i].beat);
            EXPECT_EQ(got[i].verdict, c.want[i].verdict);
            EXPECT_EQ(got[i].playedMidi, c.want[i].played);
            EXPECT_DOUBLE_EQ(got[i].offsetMs, c.want[i].offsetMs);
        }
    }
}

TEST(Score, BarSessionStreakAndTiming) {
    listen::Score s;
    const auto add = [&](Verdict v, double offset = 0) {
        Judgement j;
        j.verdict = v;
        j.offsetMs = offset;
        s.add(j);
    };
    EXPECT_EQ(s.text(), "This bar 0/0   Session 0/0   Streak 0, best 0");
    for (double offset : {10.0, 18.0, 30.0}) {
        add(Verdict::Right, offset);
    }
    add(Verdict::Wrong);
    EXPECT_EQ(s.text(),
              "This bar 3/4   Session 3/4 (75 %)   Streak 0, best 3   You play 18 ms late");
    s.newBar();
    add(Verdict::Right, -40.0);
    add(Verdict::Right, -35.0);
    EXPECT_EQ(s.text(),
              "This bar 2/2   Session 5/6 (83 %)   Streak 2, best 3   You play 10 ms late");
    add(Verdict::Right, -50.0);
    add(Verdict::Right, 2.0);
    add(Verdict::Right, -3.0);
    add(Verdict::Late, 200.0);
    // Offsets 10 18 30 -40 -35 -50 2 -3: the median is -0.5 ms.
    EXPECT_EQ(s.text(),
              "This bar 5/6   Session 8/10 (80 %)   Streak 0, best 5   You play on the beat");
}

} // namespace

namespace {

TEST(Calibration, MedianOfTheAnswersWhenEnoughAndEven) {
    constexpr int64_t kPeriod = 600 * kMs;
    struct Case {
        const char* what;
        std::vector<int64_t> offsetsMs; // per click; -9999: no note
        bool trusted;
        double median;
        const char* verdictStart;
    };
    const Case cases[] = {
        {"even answers",
         {20, 22, 18, 25, 19, 21, 20, 23},
         true,
         20.5,
         "Latency 21 ms (spread 2 ms)"},
        {"six of eight are enough", {30, -9999, 31, 29, -9999, 30, 32, 28}, true, 30, "Latency 30"},
        {"five are not", {30, -9999, 31, 29, -9999, 30, -9999, 28}, false, 0, "Only 5 of 8"},
        {"too uneven", {0, 60, -40, 90, 10, -50, 70, 5}, false, 7.5, "The notes came"},
        {"early players calibrate below zero",
         {-15, -12, -18, -14, -16, -13, -15, -17},
         true,
         -15,
         "Latency -15"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<int64_t> clicks;
        std::vector<int64_t> notes;
        for (std::size_t i = 0; i < c.offsetsMs.size(); ++i) {
            clicks.push_back(static_cast<int64_t>(i) * kPeriod);
            if (c.offsetsMs[i] != -9999) {
                notes.push_back(clicks.back() + c.offsetsMs[i] * kMs);
                // A second pluck for the same click, and a stray far from any click, are ignored.
                notes.push_back(clicks.back() + c.offsetsMs[i] * kMs + 90 * kMs);
            }
        }
        notes.push_back(100 * kPeriod);
        const listen::Calibration cal = listen::calibrate(clicks, notes, kPeriod);
        EXPECT_EQ(cal.trusted, c.trusted) << cal.verdict;
        if (c.trusted || c.median != 0) {
            EXPECT_DOUBLE_EQ(cal.medianMs, c.median);
        }
        EXPECT_EQ(cal.verdict.rfind(c.verdictStart, 0), 0u) << cal.verdict;
    }
}

} // namespace
