#include "listen/matcher.h"

#include "listen/median.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace listen {

namespace {
constexpr int64_t kMs = 1000000;
// Beats kept for late notes and for a judged beat to swallow a second pluck.
constexpr std::size_t kKeep = 16;
} // namespace

int64_t onTimeWindowNanos(int64_t periodNanos) {
    return std::min(periodNanos / 4, 150 * kMs);
}

Judgement judge(int64_t beatId, int expected, int played, int64_t offsetNanos,
                int64_t periodNanos) {
    Judgement j;
    j.beatId = beatId;
    j.playedMidi = played;
    j.offsetMs = static_cast<double>(offsetNanos) / kMs;
    if (played == expected) {
        const int64_t window = onTimeWindowNanos(periodNanos);
        j.verdict = std::llabs(offsetNanos) <= window ? Verdict::Right
                    : offsetNanos < 0                 ? Verdict::Early
                                                      : Verdict::Late;
    } else if (((played - expected) % 12 + 12) % 12 == 0) {
        // Same letter and accidental, or its enharmonic twin, in another octave.
        j.verdict = Verdict::Octave;
    } else {
        j.verdict = Verdict::Wrong;
    }
    return j;
}

bool BeatMatcher::place(const Waiting& note, std::vector<Judgement>& out) {
    if (beats_.empty()) {
        return true; // nothing to judge against: dropped
    }
    std::size_t nearest = 0;
    int64_t best = std::numeric_limits<int64_t>::max();
    for (std::size_t i = 0; i < beats_.size(); ++i) {
        const int64_t d = std::llabs(note.onset - beats_[i].due);
        if (d < best) {
            best = d;
            nearest = i;
        }
    }
    // The beat still to come, if it keeps the last beat's length.
    const Open& last = beats_.back();
    const int64_t nextDue = last.due + last.beat.periodNanos;
    if (std::llabs(note.onset - nextDue) < best) {
        return false; // waits for that beat
    }
    // A note past the middle between two beats and outside the later one's window, not that
    // beat's pitch in any octave but the earlier beat's own, is the earlier beat's late note
    // (the attack of a slow note lands later than it was played): late while that beat is
    // open, and like a second pluck once it was judged (missed before the note was heard).
    if (const Open& later = beats_[nearest];
        nearest > 0 && later.due - note.onset > onTimeWindowNanos(later.beat.periodNanos) &&
        ((note.midi - later.beat.expectedMidi) % 12 + 12) % 12 != 0 &&
        beats_[nearest - 1].beat.expectedMidi == note.midi) {
        --nearest;
    }
    Open& beat = beats_[nearest];
    if (beat.judged) {
        return true; // a second pluck, or a note held on: the first decided
    }
    const int expected = beat.beat.expectedMidi;
    const auto octaveOf = [expected](int midi) { return ((midi - expected) % 12 + 12) % 12 == 0; };
    if (beat.pending) {
        if (note.onset - beat.pendingFirst > kSettleNanos) {
            return true; // after the first had settled: a second pluck
        }
        if (note.midi == expected) {
            beat.pendingMidi = note.midi;
            beat.pendingOnset = note.onset;
            decidePending(beat, out);
        } else if (octaveOf(note.midi) && !octaveOf(beat.pendingMidi)) {
            beat.pendingMidi = note.midi;
            beat.pendingOnset = note.onset;
        }
        return true;
    }
    if (note.midi != expected) {
        beat.pending = true;
        beat.pendingFirst = note.onset;
        beat.pendingOnset = note.onset;
        beat.pendingMidi = note.midi;
        return true;
    }
    beat.judged = true;
    out.push_back(
        judge(beat.beat.id, expected, note.midi, note.onset - beat.due, beat.beat.periodNanos));
    return true;
}

void BeatMatcher::decidePending(Open& beat, std::vector<Judgement>& out) {
    beat.judged = true;
    beat.pending = false;
    out.push_back(judge(beat.beat.id, beat.beat.expectedMidi, beat.pendingMidi,
                        beat.pendingOnset - beat.due, beat.beat.periodNanos));
}

std::vector<Judgement> BeatMatcher::addBeat(const Beat& beat) {
    std::vector<Judgement> out;
    beats_.push_back(Open{beat, beat.timeNanos + latency_, false});
    while (beats_.size() > kKeep) {
        beats_.pop_front();
    }
    std::vector<Waiting> still;
    for (const Waiting& w : waiting_) {
        if (!place(w, out)) {
            still.push_back(w);
        }
    }
    waiting_ = std::move(still);
    return out;
}

std::vector<Judgement> BeatMatcher::addNote(int64_t onsetNanos, int midi) {
    std::vector<Judgement> out;
    const Waiting note{onsetNanos, midi};
    if (!place(note, out)) {
        waiting_.push_back(note);
    }
    return out;
}

std::vector<Judgement> BeatMatcher::advance(int64_t nowNanos) {
    std::vector<Judgement> out;
    for (Open& b : beats_) {
        if (!b.judged && b.pending &&
            nowNanos >= std::min(b.pendingFirst + kSettleNanos + kDecisionGraceNanos,
                                 b.due + b.beat.periodNanos / 2 + kDecisionGraceNanos)) {
            decidePending(b, out);
        }
        if (!b.judged && nowNanos >= b.due + b.beat.periodNanos / 2 + kDecisionGraceNanos) {
            b.judged = true;
            Judgement j;
            j.beatId = b.beat.id;
            j.verdict = Verdict::Missed;
            out.push_back(j);
        }
    }
    return out;
}

int64_t BeatMatcher::nextDeadlineNanos() const {
    int64_t next = 0;
    for (const Open& b : beats_) {
        if (!b.judged) {
            int64_t at = b.due + b.beat.periodNanos / 2 + kDecisionGraceNanos;
            if (b.pending) {
                at = std::min(at, b.pendingFirst + kSettleNanos + kDecisionGraceNanos);
            }
            next = next == 0 ? at : std::min(next, at);
        }
    }
    return next;
}

void BeatMatcher::reset() {
    beats_.clear();
    waiting_.clear();
}

void Score::add(const Judgement& j, bool thisBar) {
    ++judged;
    barJudged += thisBar ? 1 : 0;
    if (j.verdict == Verdict::Right) {
        ++right;
        barRight += thisBar ? 1 : 0;
        ++streak;
        bestStreak = std::max(bestStreak, streak);
        rightOffsetsMs.push_back(j.offsetMs);
    } else {
        streak = 0;
    }
}

void Score::newBar() {
    barJudged = 0;
    barRight = 0;
}

bool Score::medianOffsetMs(double& median) const {
    if (rightOffsetsMs.empty()) {
        return false;
    }
    median = listen::median(rightOffsetsMs);
    return true;
}

std::string Score::text() const {
    std::string s = "This bar " + std::to_string(barRight) + "/" + std::to_string(barJudged);
    s += "   Session " + std::to_string(right) + "/" + std::to_string(judged);
    if (judged > 0) {
        s += " (" + std::to_string(static_cast<int>(std::lround(100.0 * right / judged))) + " %)";
    }
    s += "   Streak " + std::to_string(streak) + ", best " + std::to_string(bestStreak);
    double median = 0.0;
    if (medianOffsetMs(median)) {
        const long ms = std::lround(median);
        if (std::labs(ms) < 5) {
            s += "   You play on the beat";
        } else {
            s += "   You play " + std::to_string(std::labs(ms)) + " ms " +
                 (ms > 0 ? "late" : "early");
        }
    }
    return s;
}

} // namespace listen
