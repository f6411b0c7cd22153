// Judging the beats: which played note belongs to which beat, and what the player did there.
// Pure: beat times and played notes in, verdicts out; the window applies them.
#pragma once

#include "layers/rules.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace listen {

enum class Verdict { Right, Early, Late, Octave, Wrong, Missed };

struct Beat {
    int64_t id = 0;          // the caller's name for the beat
    int64_t timeNanos = 0;   // when its tick sent its first message (monotonic clock)
    int64_t periodNanos = 0; // the beat's length at the tempo it was played at
    int expectedMidi = 0;    // the sounding pitch to play
};

struct Judgement {
    int64_t beatId = 0;
    Verdict verdict = Verdict::Missed;
    int playedMidi = 0;    // what was played (0 for a miss)
    double offsetMs = 0.0; // the played note less the beat, after the latency
};

// How far from its beat a note may be and still be on time: a quarter of the beat, at most
// 150 ms either way.
int64_t onTimeWindowNanos(int64_t periodNanos);

class BeatMatcher {
public:
    // The calibrated latency: output, input and the player's habit, added to every beat time.
    void setLatencyNanos(int64_t latency) { latency_ = latency; }
    int64_t latencyNanos() const { return latency_; }

    // A beat was played.  Notes that waited for it are judged now.
    std::vector<Judgement> addBeat(const Beat& beat);
    // A note was heard.  It goes to the nearest beat; the first note of a beat decides it, and a
    // later one changes nothing.  Nearer the beat still to come, it waits for that beat.
    std::vector<Judgement> addNote(int64_t onsetNanos, int midi);
    // Beats whose last chance passed by `nowNanos` with nothing played are missed.  A beat's
    // last chance is half way to the next beat, and then the time a note detector takes to
    // name a note (kDecisionGraceNanos), so that a late note heard still counts for its beat.
    static constexpr int64_t kDecisionGraceNanos = 120'000'000;
    // A beat's first note that is not the pitch asked for decides it only once the notes heard
    // within this of its onset are in (the detector names each up to kDecisionGraceNanos
    // later): a pluck on the program's own accent can be heard first as the drum's low thud,
    // and an attack first as its octave, with the note asked for from the same moment.  Among
    // them the pitch asked for wins, then an octave of it, then the first.
    static constexpr int64_t kSettleNanos = 40'000'000;
    std::vector<Judgement> advance(int64_t nowNanos);
    // Forgets every beat and waiting note, judging none of them.
    void reset();

    // When advance() next has something to decide (0: nothing open).
    int64_t nextDeadlineNanos() const;

private:
    struct Open {
        Beat beat;
        int64_t due = 0; // beat time plus latency
        bool judged = false;
        // The first note that was not the pitch asked for, until the notes with it are in.
        bool pending = false;
        int64_t pendingFirst = 0; // the first note's onset: the notes with it come this soon after
        int64_t pendingOnset = 0;
        int pendingMidi = 0;
    };
    void decidePending(Open& beat, std::vector<Judgement>& out);
    struct Waiting {
        int64_t onset;
        int midi;
    };
    bool place(const Waiting& note, std::vector<Judgement>& out);
    std::deque<Open> beats_;
    std::vector<Waiting> waiting_;
    int64_t latency_ = 0;
};

// The verdict for a note of pitch `played` at `offsetNanos` from a beat that asked for
// `expected`.
Judgement judge(int64_t beatId, int expected, int played, int64_t offsetNanos, int64_t periodNanos);

// The score of a practice session.
struct Score {
    int barJudged = 0;
    int barRight = 0;
    int judged = 0;
    int right = 0;
    int streak = 0;
    int bestStreak = 0;
    std::vector<double> rightOffsetsMs;

    // A verdict; one for a beat of a bar already gone counts for the session only.
    void add(const Judgement& j, bool thisBar = true);
    void newBar();
    // The median offset of the right notes, if any.
    bool medianOffsetMs(double& median) const;
    // "this bar 3/4 · session 45/50 (90 %) · streak 6, best 14 · you play 18 ms late"
    std::string text() const;
};

} // namespace listen
