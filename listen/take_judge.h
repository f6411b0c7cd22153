// A recorded take judged as the program judges live playing: the take's samples go through the
// note detector (built for the take's rate) in the blocks an audio input delivers, and the heard
// notes and the beats go to the beat matcher in the order the program meets them.  What the
// "clefwork-judge" command prints.
//
//   clefwork-judge TAKE.wav                                 the notes heard
//   clefwork-judge TAKE.wav --beats BEATS.csv [--latency MS] [--channel N]
#pragma once

#include "layers/listen.h"

#include "listen/matcher.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace listen {

struct TakeAudio {
    int sampleRate = 0;
    std::vector<float> samples; // one channel
};

struct HeardNote {
    double onsetSeconds = 0.0; // from the take's first sample
    int midi = 0;
    double cents = 0.0;
};

// A beat to play: read from a CSV file with a header that names the columns beat, time_s and
// expected_midi (in any order, further columns ignored).
struct TakeBeat {
    std::string beat;         // the file's name for it
    double timeSeconds = 0.0; // from the take's first sample
    int expectedMidi = 0;
};

struct TakeVerdict {
    std::string beat;
    Verdict verdict = Verdict::Missed;
    int playedMidi = 0;    // 0 for a miss
    double offsetMs = 0.0; // the note less the beat, after the latency
};

// Reads channel `channel` (counted from 0) of a WAV file.  False with a sentence in error.
bool readTake(const std::string& path, int channel, TakeAudio& take, std::string& error);

// The notes the detector hears in the take, with the parameters for its rate.
std::vector<HeardNote> hearTake(const TakeAudio& take);

// Parses a beats CSV (blank lines skipped, CRLF line ends taken).  The beats come back in the
// file's order; two within a millisecond of one another are an error.  False with a sentence naming
// the line in error.
bool parseBeatsCsv(const std::string& text, std::vector<TakeBeat>& beats, std::string& error);

// Every beat's verdict, in the order of their times.  latencyMs is the input latency, applied as
// the program applies the calibrated one.  A beat's length is the time to the next beat (the last
// one's, the time from the one before; a beat alone: a second).
std::vector<TakeVerdict> judgeTake(const TakeAudio& take, std::vector<TakeBeat> beats,
                                   double latencyMs);

// "right", "early", "late", "octave", "wrong", "missed".
const char* verdictName(Verdict verdict);

// onset_s,midi,cents and beat,verdict,played_midi,offset_ms (a miss leaves the last two empty).
std::string notesCsv(const std::vector<HeardNote>& notes);
std::string verdictsCsv(const std::vector<TakeVerdict>& verdicts);

// The command line (without the program's name): prints to out, complains to err.  Returns the
// exit status: 0 done, 2 bad input or a bad command line.
int runTakeJudge(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace listen
