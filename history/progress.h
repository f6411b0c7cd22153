// What the Progress window shows, read from the history with aggregate queries over the
// sessions and their tallies (never beat by beat), filtered by key and period.
//
// loadProgress() opens a connection of its own, so it may run on any thread; the window runs it
// on a pool thread and shows the result when it comes.
#pragma once

#include "layers/history.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

#include "history/store.h"

namespace history {

enum class Period { LastSession, Week, Month, All };

struct ProgressFilter {
    std::optional<QString> key; // none: every key
    Period period = Period::All;
    QDateTime now; // where the week and the month end; invalid: the current time
};

// A written note that was misread: how often, in which way, and what was played instead.
struct MissedNote {
    QString written; // with its octave digit, e.g. "F#1"
    int beats = 0;   // how often it was written, in the filter
    int wrong = 0;
    int octave = 0;
    int missed = 0;
    // Written names of the pitches played instead (wrong or octave), most often first.
    std::vector<std::pair<QString, int>> playedInstead;
    int misread() const { return wrong + octave + missed; }
};

// A place on the fretboard chart: string 0 the low E .. 3 the G, fret 0 the open string.
struct PositionCount {
    int string = 0;
    int fret = 0;
    int beats = 0;
    int right = 0;
};

struct Progress {
    bool ok = true;
    QString error;  // when not ok: a sentence for the player
    QString notice; // a damaged file was moved aside while opening; a sentence for the player
    int64_t historyBeats = 0; // beats in the whole history, whatever the filter
    QStringList keys;         // every key practised, in name order
    // In the filter:
    std::vector<SessionSummary> sessions; // sessions with beats, oldest first
    std::vector<PlaceCount> places;       // by place, only places with beats
    std::vector<MissedNote> missed;       // most misread first, at most kMostMissed
    std::vector<PositionCount> positions; // by string then fret, only places with beats
    int64_t beats() const;
    int64_t right() const;
};

inline constexpr int kMostMissed = 10;

// Reads what the Progress window shows.  A file that does not exist is an empty history (and
// is not made); one of an older schema is brought up to date first.
Progress loadProgress(const QString& path, const ProgressFilter& filter);

// The written name a played pitch is read as, for a beat whose written note `written` asked for
// `expectedMidi`: the same shift from sound to stave as the note asked for.
QString playedWrittenName(const QString& written, int expectedMidi, int playedMidi);

// The hand of a session, from its settings' texts: the index finger's fret ("At the Nut" 0,
// "5th Fret" 5; none for "All over the Neck") and the main string (0 "Low E-String" .. 3
// "G-String").
std::optional<int> indexFretOf(const QString& fretPosition);
std::optional<int> mainStringOf(const QString& stringChoice);

// Where on the neck a note `semitones` above the open low E was played, when the input did not
// say: the string on which it lies within the hand's reach (the index finger's fret to five
// frets above it), nearest the main string; out of reach, the nearest fret to the hand.  With no
// hand position (all over the neck), the lowest fret.  (string 0..3, fret)
std::pair<int, int> likelyPosition(int semitones, std::optional<int> indexFret,
                                   std::optional<int> mainString);

} // namespace history
