// A corpus of what real bass input sounds like, for the beat judge's and the note detector's
// benchmarks: performances with their mistakes and their fair verdicts, played by the Debian
// soundfonts' basses or by the string model (bench/string_model.h), then sent through what lies
// between a bass and the program (a microphone in a room, mains hum, noise, a DC offset, a low or
// clipped input, another sample rate, the program's own clicks).  Header only.
#pragma once

#include "bench/string_model.h"
#include "listen/detector.h"
#include "listen/matcher.h"
#include "platform/fluid_engine.h"
#include "sound/midi_out.h"

#include <time.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace bench::corpus {

using listen::Verdict;

constexpr int renderRate = 48000; // every take is rendered here, then resampled if asked
constexpr int grid = 64;          // FluidSynth applies events at 64-frame blocks
constexpr int lowest = 28, highest = 67;
// The metronome's clicks as the beat loop plays them: drum keys on channel 10, the accent on
// the bar's first beat, at the default velocity.
constexpr int accentClick = 36, beatClick = 37, clickVelocity = 127;

inline const char* verdictName(Verdict v) {
    static const char* const names[] = {"right", "early", "late", "octave", "wrong", "missed"};
    return names[static_cast<int>(v)];
}

inline int64_t nanosOf(int64_t sample, int rate) {
    return sample * 1'000'000'000LL / rate;
}

// What the player meant at a beat; the truth comes from the matcher (see fairVerdicts).
enum class Intent { Right, EarlyIn, LateIn, EarlyOut, LateOut, Late300, Octave, Wrong, Missed };

struct Beat {
    int64_t at = 0;     // the tick, samples at renderRate
    int64_t period = 0; // samples
    int expected = 0;
    Intent intent = Intent::Right;
    Verdict truth = Verdict::Missed;
    int played = 0;    // 0: nothing played for this beat
    int note = -1;     // its index in Performance::notes
    bool click = true; // the metronome sounds on it
};

struct Note {
    int64_t onset = 0; // samples, on the grid
    int64_t off = 0;
    int midi = 0;
    int velocity = 100; // MIDI velocity
    int64_t period = 0; // the length of the beat it is played for, samples
    bool ghost = false; // a muted thud between beats, no pitch
    // Only the string model plays these; a soundfont plays the plain note.
    double slideSemitones = 0;
    double slideMs = 0;
    bool hammer = false;
    double vibratoCents = 0;
};

struct Performance {
    std::vector<Beat> beats;
    std::vector<Note> notes; // in onset order
    int64_t end = 0;         // samples
    double sigmaMs = 0;      // the timing spread of this take
};

inline int64_t onGrid(double sample) {
    return std::llround(sample / grid) * grid;
}

inline int64_t msSamples(double ms) {
    return std::llround(ms * renderRate / 1000.0);
}

inline int64_t windowSamples(int64_t period) {
    return listen::onTimeWindowNanos(nanosOf(period, renderRate)) * renderRate / 1'000'000'000LL;
}

// What a fair judge says of each beat: the beat matcher itself, given the notes as played
// (their note-ons, every pitched note, no ghost) and told of each note a detector's decision
// time after it sounds.  Latency 0: the judge under test is calibrated for its own.
inline void fairVerdicts(Performance& p) {
    listen::BeatMatcher matcher;
    const int64_t decision = std::llround(listen::DetectorParams{}.decisionMs * 1e6); // nanoseconds
    for (Beat& b : p.beats) {
        b.truth = Verdict::Missed;
    }
    auto keep = [&](const std::vector<listen::Judgement>& judged) {
        for (const listen::Judgement& j : judged) {
            p.beats[static_cast<std::size_t>(j.beatId)].truth = j.verdict;
        }
    };
    struct Heard {
        int64_t at, onset;
        int midi;
    };
    std::vector<Heard> heard;
    for (const Note& n : p.notes) {
        if (!n.ghost) {
            const int64_t onset = nanosOf(n.onset, renderRate);
            heard.push_back({onset + decision, onset, n.midi});
        }
    }
    std::stable_sort(heard.begin(), heard.end(),
                     [](const Heard& a, const Heard& b) { return a.at < b.at; });
    std::size_t nextBeat = 0, nextNote = 0;
    for (;;) {
        const int64_t beatAt = nextBeat < p.beats.size() ? nanosOf(p.beats[nextBeat].at, renderRate)
                                                         : std::numeric_limits<int64_t>::max();
        const int64_t noteAt =
            nextNote < heard.size() ? heard[nextNote].at : std::numeric_limits<int64_t>::max();
        const int64_t deadline = matcher.nextDeadlineNanos() != 0
                                     ? matcher.nextDeadlineNanos()
                                     : std::numeric_limits<int64_t>::max();
        const int64_t now = std::min({beatAt, noteAt, deadline});
        if (now == std::numeric_limits<int64_t>::max()) {
            break;
        }
        if (beatAt == now) {
            const Beat& b = p.beats[nextBeat];
            keep(matcher.addBeat({static_cast<int64_t>(nextBeat), beatAt,
                                  nanosOf(b.period, renderRate), b.expected}));
            ++nextBeat;
        } else if (noteAt == now) {
            keep(matcher.addNote(heard[nextNote].onset, heard[nextNote].midi));
            ++nextNote;
        } else {
            keep(matcher.advance(now));
        }
    }
}

struct ComposeOptions {
    int beats = 64;
    bool articulations = false; // slides, hammer-ons and vibrato (the string model plays them)
    // The longest a note rings into the next one; negative: every note stops this long before
    // the next sounds.
    double ringMs = 300;
    double ghostShare = 0.12; // of the beats, a ghost note after them
};

// Bars of notes from a random major key's scale in sections of four bars, each at a tempo of its
// own between 60 and 200, one section at 200 with each bar's four beats on one pitch.  The
// beats are played right, early or late within the on-time window, early or late beyond it, 300
// ms late (the next beat then left out), an octave off, a wrong note or not at all; a normal
// timing spread (sigma 5 to 20 ms for the take) on the rest.  Half the notes stop as the next
// sounds, the others ring 0 to 300 ms into it; ghost notes fall between some beats.  Two note-ons
// are never closer than 150 ms (the detector reports no two notes closer than its shortest gap),
// and the first beat is never early.
inline Performance compose(std::mt19937& random, const ComposeOptions& options) {
    Performance p;
    const int64_t lead = renderRate; // a second before the first beat
    const int root = std::uniform_int_distribution<int>(0, 11)(random);
    std::vector<int> scale;
    for (int m = lowest; m <= highest; ++m) {
        const int step = (m - root + 120) % 12;
        if (step == 0 || step == 2 || step == 4 || step == 5 || step == 7 || step == 9 ||
            step == 11) {
            scale.push_back(m);
        }
    }
    std::uniform_int_distribution<std::size_t> pick(0, scale.size() - 1);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<int> velocity(55, 115), semitones(1, 5), coin(0, 1);
    p.sigmaMs = 5.0 + 15.0 * unit(random);
    std::normal_distribution<double> spread(0.0, p.sigmaMs);
    // Shares of the intents, in the order of Intent.
    std::discrete_distribution<int> intent({52, 5, 5, 5, 5, 3, 8, 9, 8});
    const int sections = std::max(1, (options.beats + 15) / 16);
    const int repeatSection = std::uniform_int_distribution<int>(0, sections - 1)(random);
    int64_t at = lead;
    int64_t lastOnset = std::numeric_limits<int64_t>::min() / 2;
    bool skipNext = false;
    double tempo = 120;
    for (int i = 0; i < options.beats; ++i) {
        const int section = i / 16;
        if (i % 16 == 0) {
            tempo = section == repeatSection ? 200.0 : std::round(60.0 + 140.0 * unit(random));
        }
        Beat b;
        b.at = onGrid(static_cast<double>(at));
        b.period = std::llround(60.0 / tempo * renderRate);
        const bool repeats = section == repeatSection;
        b.expected = repeats && i % 4 != 0 ? p.beats.back().expected : scale[pick(random)];
        auto kind = static_cast<Intent>(intent(random));
        if (skipNext) {
            kind = Intent::Missed;
            skipNext = false;
        }
        if (i == 0 && (kind == Intent::EarlyIn || kind == Intent::EarlyOut)) {
            kind = Intent::Right;
        }
        const double window = static_cast<double>(windowSamples(b.period));
        const double period = static_cast<double>(b.period);
        const double ms = renderRate / 1000.0;
        double offset = 0;
        auto normal = [&] {
            const double limit = std::min(4.0 * p.sigmaMs * ms, window - 25.0 * ms);
            double x = 0;
            do {
                x = spread(random) * ms;
            } while (std::fabs(x) > limit);
            return x;
        };
        // Late 300 ms: nearer its own beat than the next only at tempi under 100 (and kept 40 ms
        // from the half-way point), else it lands on the next beat, which is then not played.
        if (kind == Intent::Late300 && std::fabs(300.0 * ms - period / 2) < 40.0 * ms) {
            kind = Intent::LateOut;
        }
        const double outFrom = window + 20.0 * ms, outTo = period / 2 - 30.0 * ms;
        if ((kind == Intent::EarlyOut || kind == Intent::LateOut) && outTo <= outFrom) {
            kind = kind == Intent::EarlyOut ? Intent::EarlyIn : Intent::LateIn;
        }
        switch (kind) {
        case Intent::Right:
        case Intent::Octave:
        case Intent::Wrong:
            offset = normal();
            break;
        case Intent::EarlyIn:
        case Intent::LateIn:
            offset = (0.5 + 0.5 * unit(random)) * (window - 25.0 * ms) *
                     (kind == Intent::EarlyIn ? -1 : 1);
            break;
        case Intent::EarlyOut:
        case Intent::LateOut:
            offset =
                (outFrom + (outTo - outFrom) * unit(random)) * (kind == Intent::EarlyOut ? -1 : 1);
            break;
        case Intent::Late300:
            offset = 300.0 * ms;
            skipNext = true;
            break;
        case Intent::Missed:
            break;
        }
        b.intent = kind;
        int played = 0;
        switch (kind) {
        case Intent::Missed:
            break;
        case Intent::Octave: {
            const bool down =
                b.expected + 12 > highest || (b.expected - 12 >= lowest && coin(random));
            played = b.expected + (down ? -12 : 12);
            break;
        }
        case Intent::Wrong:
            do {
                played = b.expected + semitones(random) * (coin(random) ? 1 : -1);
            } while (played < lowest || played > highest);
            break;
        default:
            played = b.expected;
        }
        const int64_t onset = onGrid(static_cast<double>(b.at) + offset);
        if (played != 0 && onset - lastOnset < msSamples(150)) {
            played = 0; // too close after the last: left out
            b.intent = Intent::Missed;
        }
        if (played != 0) {
            Note n;
            n.period = b.period;
            n.onset = onset;
            n.midi = played;
            n.velocity = velocity(random);
            if (options.articulations) {
                const double r = unit(random);
                const bool afterNote = !p.notes.empty() && !p.notes.back().ghost &&
                                       p.notes.back().midi != played &&
                                       std::abs(p.notes.back().midi - played) <= 5 &&
                                       onset - p.notes.back().onset < renderRate;
                if (r < 0.10) {
                    n.slideSemitones = coin(random) ? 1 : 2;
                    n.slideMs = 30.0 + 50.0 * unit(random);
                } else if (r < 0.18 && afterNote) {
                    n.hammer = true;
                } else if (r < 0.33 && tempo <= 110) {
                    n.vibratoCents = 10.0 + 10.0 * unit(random);
                }
            }
            b.played = played;
            b.note = static_cast<int>(p.notes.size());
            p.notes.push_back(n);
            lastOnset = onset;
        }
        // A ghost note half way to the next beat, now and then, away from any note.
        if (unit(random) < options.ghostShare) {
            const int64_t ghostAt = onGrid(static_cast<double>(b.at) + period / 2);
            if (ghostAt - lastOnset > msSamples(100) && b.intent != Intent::LateOut &&
                b.intent != Intent::Late300) {
                Note g;
                g.period = b.period;
                g.onset = ghostAt;
                g.off = ghostAt + msSamples(60);
                g.ghost = true;
                g.velocity = velocity(random);
                p.notes.push_back(g);
            }
        }
        p.beats.push_back(b);
        at += b.period;
    }
    std::stable_sort(p.notes.begin(), p.notes.end(),
                     [](const Note& a, const Note& b) { return a.onset < b.onset; });
    for (Beat& b : p.beats) {
        b.note = -1;
    }
    // Offs: each note rings 0 to 300 ms into the next pitched note (at most two beats of the
    // tempo it was played at), the last for most of a beat.
    std::uniform_real_distribution<double> ring(0.0, std::max(0.0, options.ringMs));
    for (std::size_t i = 0; i < p.notes.size(); ++i) {
        Note& n = p.notes[i];
        if (n.ghost) {
            continue;
        }
        std::size_t next = i + 1;
        while (next < p.notes.size() && p.notes[next].ghost) {
            ++next;
        }
        if (next < p.notes.size()) {
            const Note& m = p.notes[next];
            // A note on the same string stops the one before (about half of them); one on
            // another string rings on.  The same pitch again is the same string plucked again:
            // a string sounds one note at a time.
            int64_t ringOn = options.ringMs < 0         ? msSamples(options.ringMs)
                             : m.hammer || coin(random) ? 0
                                                        : msSamples(ring(random));
            if (m.midi == n.midi) {
                ringOn = std::min<int64_t>(ringOn, 0);
            }
            n.off = std::min(m.onset + ringOn, n.onset + 2 * n.period);
        } else {
            n.off = n.onset + onGrid(0.9 * static_cast<double>(n.period));
        }
        n.off = std::max(onGrid(static_cast<double>(n.off)), n.onset + grid);
    }
    for (std::size_t bi = 0; bi < p.beats.size(); ++bi) {
        Beat& b = p.beats[bi];
        if (b.played == 0) {
            continue;
        }
        for (std::size_t i = 0; i < p.notes.size(); ++i) {
            const Note& n = p.notes[i];
            if (!n.ghost && n.midi == b.played && std::llabs(n.onset - b.at) <= b.period &&
                (b.note < 0 ||
                 std::llabs(n.onset - b.at) <
                     std::llabs(p.notes[static_cast<std::size_t>(b.note)].onset - b.at))) {
                b.note = static_cast<int>(i);
            }
        }
    }
    p.end = at + renderRate;
    fairVerdicts(p);
    return p;
}

// ---- Sources ----------------------------------------------------------------------------------

struct Source {
    std::string name;
    std::string soundfont; // "" for the string model
    int program = 33;      // program change value
    strings::Attack attack = strings::Attack::Finger;
    // The string model's: slides, hammer-ons and vibrato, and the instrument off tune by up to
    // 30 cents either way (off: every note plain and in tune).
    bool articulate = true;
};

inline uint32_t midiMessage(int status, int data1, int data2) {
    return static_cast<uint32_t>(status) + static_cast<uint32_t>(data1) * 256u +
           static_cast<uint32_t>(data2) * 65536u;
}

// A soundfont loaded once, rendering event lists offline from silence, mono.
class FontPlayer {
public:
    struct Event {
        int64_t at;
        uint32_t message;
    };
    bool load(const std::string& path, std::string& error) {
        path_ = path;
        return engine_.loadFile(path, error, renderRate);
    }
    const std::string& path() const { return path_; }

    std::vector<float> play(std::vector<Event> events, int64_t frames) {
        std::stable_sort(events.begin(), events.end(),
                         [](const Event& a, const Event& b) { return a.at < b.at; });
        engine_.silence();
        std::vector<float> scratchL(4096), scratchR(4096);
        for (int i = 0; i < 100; ++i) {
            engine_.render(scratchL.data(), scratchR.data(), 4096);
            double peak = 0;
            for (std::size_t k = 0; k < scratchL.size(); ++k) {
                peak = std::max({peak, std::fabs(static_cast<double>(scratchL[k])),
                                 std::fabs(static_cast<double>(scratchR[k]))});
            }
            if (peak < 1e-6) {
                break;
            }
        }
        std::vector<float> left(static_cast<std::size_t>(frames)), right(left.size());
        int64_t done = 0;
        std::size_t next = 0;
        while (done < frames) {
            while (next < events.size() && events[next].at <= done) {
                engine_.send(events[next++].message);
            }
            const int n = static_cast<int>(std::min<int64_t>(grid, frames - done));
            engine_.render(left.data() + done, right.data() + done, n);
            done += n;
        }
        for (std::size_t i = 0; i < left.size(); ++i) {
            left[i] = 0.5f * (left[i] + right[i]);
        }
        return left;
    }

    // The metronome's clicks on the beats that have one.
    std::vector<float> clicks(const Performance& p) {
        std::vector<Event> events;
        for (std::size_t i = 0; i < p.beats.size(); ++i) {
            if (p.beats[i].click) {
                events.push_back(
                    {p.beats[i].at,
                     midiMessage(0x99, i % 4 == 0 ? accentClick : beatClick, clickVelocity)});
            }
        }
        return play(events, p.end);
    }

private:
    platform::FluidEngine engine_;
    std::string path_;
};

// The performance's pitched notes as the string model plays them (with the take's instrument:
// its tuning, inharmonicity, pluck and pickup drawn from the seed).
inline std::vector<strings::StringNote> stringNotes(const Performance& p, strings::Attack attack,
                                                    std::mt19937& random) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double b = 1e-4 + 4e-4 * unit(random);
    const double pickup = 0.10 + 0.12 * unit(random);
    std::vector<strings::StringNote> out;
    for (const Note& n : p.notes) {
        strings::StringNote s;
        s.onset = n.onset;
        s.off = n.off;
        s.midi = n.midi;
        s.velocity = 0.9 * n.velocity / 127.0;
        s.attack = attack;
        s.pluck = 0.12 + 0.16 * unit(random);
        s.pickup = pickup;
        s.inharmonicity = b;
        s.slideSemitones = n.slideSemitones;
        s.slideMs = n.slideMs;
        s.hammer = n.hammer;
        s.vibratoCents = n.vibratoCents;
        s.fretted = n.midi != 28 && n.midi != 33 && n.midi != 38 && n.midi != 43;
        s.ghost = n.ghost;
        out.push_back(s);
    }
    return out;
}

// The performance through a source, at renderRate.  Ghost notes are the string model's thud
// in every source (a soundfont has no muted string).
inline std::vector<float> renderBass(const Performance& p, const Source& source, FontPlayer* font,
                                     unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    strings::StringParams params;
    params.rate = renderRate;
    const double tuning = -30.0 + 60.0 * unit(random);
    params.tuningCents = source.soundfont.empty() && source.articulate ? tuning : 0.0;
    strings::StringModel model(params, seed);
    const std::vector<strings::StringNote> all = stringNotes(p, source.attack, random);
    if (source.soundfont.empty() || font == nullptr) {
        return model.render(all, p.end);
    }
    std::vector<FontPlayer::Event> events{{0, midiMessage(0xC0, source.program, 0)}};
    for (const Note& n : p.notes) {
        if (!n.ghost) {
            events.push_back({n.onset, midiMessage(0x90, n.midi, n.velocity)});
            events.push_back({n.off, midiMessage(0x80, n.midi, 0)});
        }
    }
    std::vector<float> out = font->play(events, p.end);
    std::vector<strings::StringNote> ghosts;
    for (const strings::StringNote& s : all) {
        if (s.ghost) {
            strings::StringNote g = s;
            g.velocity *= 0.5; // the soundfonts peak lower than the model
            ghosts.push_back(g);
        }
    }
    std::vector<float> thuds = model.render(ghosts, p.end);
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] += thuds[i];
    }
    return out;
}

// ---- Chains -----------------------------------------------------------------------------------

inline double peakOf(const std::vector<float>& x) {
    double p = 0;
    for (float s : x) {
        p = std::max(p, std::fabs(static_cast<double>(s)));
    }
    return p;
}

inline double rmsOf(const std::vector<float>& x, std::size_t from = 0,
                    std::size_t to = std::numeric_limits<std::size_t>::max()) {
    to = std::min(to, x.size());
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) {
        sum += static_cast<double>(x[i]) * x[i];
    }
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

inline double dbOf(double amplitude) {
    return 20.0 * std::log10(std::max(amplitude, 1e-12));
}

inline double amplitudeOf(double db) {
    return std::pow(10.0, db / 20.0);
}

// A biquad section (direct form I), coefficients normalised by a0.
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    double step(double x) {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
    static Biquad highPass(double hz, double q, int rate) {
        const double w = 2.0 * M_PI * hz / rate;
        const double alpha = std::sin(w) / (2.0 * q), c = std::cos(w);
        const double a0 = 1.0 + alpha;
        Biquad f;
        f.b0 = (1.0 + c) / 2.0 / a0;
        f.b1 = -(1.0 + c) / a0;
        f.b2 = (1.0 + c) / 2.0 / a0;
        f.a1 = -2.0 * c / a0;
        f.a2 = (1.0 - alpha) / a0;
        return f;
    }
};

// A fourth-order Butterworth high-pass (a small microphone's low end).
inline void highPass(std::vector<float>& x, int rate, double hz) {
    Biquad a = Biquad::highPass(hz, 0.54119610, rate), b = Biquad::highPass(hz, 1.30656296, rate);
    for (float& s : x) {
        s = static_cast<float>(b.step(a.step(s)));
    }
}

// A small room: a few early reflections and a short exponential tail (Schroeder's parallel combs
// and series all-passes, decaying 60 dB in rt60 seconds), the reverberant part `wet` of the dry.
inline void room(std::vector<float>& x, int rate, unsigned seed, double rt60 = 0.35,
                 double wet = 0.3) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const std::vector<float> dry = x;
    // Early reflections: 4 taps at 3 to 25 ms, falling with distance.
    for (int r = 0; r < 4; ++r) {
        const auto delay = static_cast<std::size_t>((3.0 + 22.0 * unit(random)) * rate / 1000.0);
        const double gain = (0.5 - 0.3 * unit(random)) * (r % 2 ? -1.0 : 1.0);
        for (std::size_t i = delay; i < x.size(); ++i) {
            x[i] += static_cast<float>(gain * dry[i - delay]);
        }
    }
    const double combMs[] = {29.7, 37.1, 41.1, 43.7};
    std::vector<double> tail(x.size(), 0.0);
    for (double ms : combMs) {
        const auto d = static_cast<std::size_t>(ms * rate / 1000.0);
        const double g = std::pow(10.0, -3.0 * ms / 1000.0 / rt60);
        std::vector<double> y(x.size(), 0.0);
        for (std::size_t i = 0; i < x.size(); ++i) {
            y[i] = dry[i] + (i >= d ? g * y[i - d] : 0.0);
            tail[i] += y[i] / 4.0;
        }
    }
    for (double ms : {5.0, 1.7}) {
        const auto d = static_cast<std::size_t>(ms * rate / 1000.0);
        const double g = 0.7;
        std::vector<double> y(x.size(), 0.0);
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double xd = i >= d ? tail[i - d] : 0.0;
            const double yd = i >= d ? y[i - d] : 0.0;
            y[i] = -g * tail[i] + xd + g * yd;
        }
        tail = std::move(y);
    }
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] += static_cast<float>(wet * tail[i]);
    }
}

// Mains hum: the fundamental's amplitude at `db` dBFS, harmonics 2 to 5 under it.
inline void hum(std::vector<float>& x, int rate, double hz, double db, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> phase(0.0, 2.0 * M_PI);
    const double harmonics[] = {1.0, 0.5, 0.3, 0.2, 0.1};
    const double a = amplitudeOf(db);
    for (std::size_t h = 0; h < 5; ++h) {
        const double ph = phase(random);
        const double w = 2.0 * M_PI * hz * static_cast<double>(h + 1) / rate;
        for (std::size_t i = 0; i < x.size(); ++i) {
            x[i] +=
                static_cast<float>(a * harmonics[h] * std::sin(w * static_cast<double>(i) + ph));
        }
    }
}

// White or pink (Kellet's filter) noise at an RMS of `db` dBFS.
inline void noise(std::vector<float>& x, double db, bool pink, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::vector<double> n(x.size());
    double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
    for (double& v : n) {
        const double w = gauss(random);
        if (!pink) {
            v = w;
            continue;
        }
        b0 = 0.99886 * b0 + w * 0.0555179;
        b1 = 0.99332 * b1 + w * 0.0750759;
        b2 = 0.96900 * b2 + w * 0.1538520;
        b3 = 0.86650 * b3 + w * 0.3104856;
        b4 = 0.55000 * b4 + w * 0.5329522;
        b5 = -0.7616 * b5 - w * 0.0168980;
        v = b0 + b1 + b2 + b3 + b4 + b5 + b6 + w * 0.5362;
        b6 = w * 0.115926;
    }
    double sum = 0;
    for (double v : n) {
        sum += v * v;
    }
    const double scale =
        amplitudeOf(db) / std::sqrt(sum / static_cast<double>(std::max<std::size_t>(1, n.size())));
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] += static_cast<float>(scale * n[i]);
    }
}

inline void offset(std::vector<float>& x, double dc) {
    for (float& s : x) {
        s += static_cast<float>(dc);
    }
}

inline void gain(std::vector<float>& x, double db) {
    const double g = amplitudeOf(db);
    for (float& s : x) {
        s = static_cast<float>(s * g);
    }
}

// Hard clipping at `fraction` of the signal's own peak.
inline void clip(std::vector<float>& x, double fraction) {
    const auto t = static_cast<float>(fraction * peakOf(x));
    for (float& s : x) {
        s = std::clamp(s, -t, t);
    }
}

// Band-limited resampling: a Blackman-windowed sinc, 32 zero crossings either side of the lower
// rate's Nyquist (at 0.95 of it), read from a table of 1024 phases with linear interpolation.
inline std::vector<float> resample(const std::vector<float>& x, int from, int to) {
    if (from == to) {
        return x;
    }
    constexpr int zeros = 32, phases = 1024;
    const double cutoff = 0.95 * std::min(1.0, static_cast<double>(to) / from); // of from/2
    const int taps = static_cast<int>(std::ceil(zeros / cutoff));
    std::vector<double> table(static_cast<std::size_t>(taps * phases + 2));
    for (std::size_t i = 0; i < table.size(); ++i) {
        const double t = static_cast<double>(i) / phases; // input samples from the centre
        const double arg = M_PI * cutoff * t;
        const double sinc = t == 0 ? 1.0 : std::sin(arg) / arg;
        const double w = t >= taps ? 0.0
                                   : 0.42 + 0.5 * std::cos(M_PI * t / taps) +
                                         0.08 * std::cos(2.0 * M_PI * t / taps);
        table[i] = cutoff * sinc * w;
    }
    auto kernel = [&](double t) {
        const double at = std::fabs(t) * phases;
        const auto i = static_cast<std::size_t>(at);
        if (i + 1 >= table.size()) {
            return 0.0;
        }
        const double f = at - static_cast<double>(i);
        return table[i] * (1.0 - f) + table[i + 1] * f;
    };
    const auto n = static_cast<std::size_t>(
        std::llround(static_cast<double>(x.size()) * to / static_cast<double>(from)));
    std::vector<float> y(n);
    const double step = static_cast<double>(from) / to;
    for (std::size_t j = 0; j < n; ++j) {
        const double centre = static_cast<double>(j) * step;
        const auto c = static_cast<int64_t>(std::floor(centre));
        double sum = 0;
        for (int64_t k = c - taps + 1; k <= c + taps; ++k) {
            if (k >= 0 && k < static_cast<int64_t>(x.size())) {
                sum += x[static_cast<std::size_t>(k)] * kernel(centre - static_cast<double>(k));
            }
        }
        y[j] = static_cast<float>(sum);
    }
    return y;
}

// What lies between the bass and the detector.
enum class Stage {
    Mic,     // high-pass 80 to 150 Hz and a small room
    Hum50,   // mains hum at 50 Hz with harmonics, -40 dBFS
    Hum60,   // at 60 Hz
    White,   // white noise at -50 dBFS
    Pink,    // pink noise at -50 dBFS
    Dc,      // a DC offset of 0.05
    Low,     // the input 30 dB low
    Clip,    // hard clipped at 0.3 of the peak
    Rate441, // resampled to 44.1 kHz
    Rate96,  // to 96 kHz
    Clicks,  // the program's own clicks at -20 dB under the bass (announced to the detector)
};

struct Chain {
    std::string name;
    std::vector<Stage> stages;
    int rate() const {
        for (Stage s : stages) {
            if (s == Stage::Rate441) {
                return 44100;
            }
            if (s == Stage::Rate96) {
                return 96000;
            }
        }
        return renderRate;
    }
    bool has(Stage stage) const {
        return std::find(stages.begin(), stages.end(), stage) != stages.end();
    }
};

constexpr double humDb = -40.0, noiseDb = -50.0, dcOffset = 0.05, lowDb = -30.0, clipFraction = 0.3,
                 clickDb = -20.0;

// The chain applied to `bass` (at renderRate); `clicks` is the metronome rendered alone (only
// read for Stage::Clicks).  Returns the audio at chain.rate().
inline std::vector<float> apply(const Chain& chain, std::vector<float> x,
                                const std::vector<float>& clicks, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int rate = renderRate;
    for (Stage s : chain.stages) {
        switch (s) {
        case Stage::Mic:
            highPass(x, rate, 80.0 + 70.0 * unit(random));
            room(x, rate, seed + 1);
            break;
        case Stage::Hum50:
            hum(x, rate, 50.0, humDb, seed + 2);
            break;
        case Stage::Hum60:
            hum(x, rate, 60.0, humDb, seed + 3);
            break;
        case Stage::White:
            noise(x, noiseDb, false, seed + 4);
            break;
        case Stage::Pink:
            noise(x, noiseDb, true, seed + 5);
            break;
        case Stage::Dc:
            offset(x, dcOffset);
            break;
        case Stage::Low:
            gain(x, lowDb);
            break;
        case Stage::Clip:
            clip(x, clipFraction);
            break;
        case Stage::Rate441:
            x = resample(x, rate, 44100);
            rate = 44100;
            break;
        case Stage::Rate96:
            x = resample(x, rate, 96000);
            rate = 96000;
            break;
        case Stage::Clicks: {
            const double scale = peakOf(x) / std::max(peakOf(clicks), 1e-9) * amplitudeOf(clickDb);
            const std::vector<float> c =
                rate == renderRate ? clicks : resample(clicks, renderRate, rate);
            for (std::size_t i = 0; i < x.size() && i < c.size(); ++i) {
                x[i] += static_cast<float>(scale * c[i]);
            }
            break;
        }
        }
    }
    return x;
}

// ---- Judging ----------------------------------------------------------------------------------

inline double threadCpuSec() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Judged {
    std::vector<int> verdict; // per beat: a Verdict, or -1 never judged
    std::vector<listen::Judgement> judgement;
    std::vector<int64_t> judgedAtNanos; // stream time the verdict came out
    std::vector<listen::DetectedNote> heard;
    double detectCpuSec = 0;
    double audioSec = 0;
};

// A note as the beat matcher is told of it: `atNanos` on the stream's clock.
struct Arrival {
    int64_t atNanos = 0;
    listen::DetectedNote note;
};

// The notes (onsets at `rate`) through the beat matcher on the stream's clock, as bench_judge
// plays its own takes: each beat at its tick, each note at its arrival (in order; after the
// beats and deadlines due by then), advance() at each deadline until `endNanos`.
inline Judged judgeNotes(const Performance& p, const std::vector<Arrival>& arrivals, int rate,
                         int64_t latencyNanos, int64_t endNanos) {
    listen::BeatMatcher matcher;
    matcher.setLatencyNanos(latencyNanos);
    Judged out;
    out.verdict.assign(p.beats.size(), -1);
    out.judgement.resize(p.beats.size());
    out.judgedAtNanos.assign(p.beats.size(), 0);
    int64_t now = 0;
    auto keep = [&](const std::vector<listen::Judgement>& judged) {
        for (const listen::Judgement& j : judged) {
            const auto at = static_cast<std::size_t>(j.beatId);
            if (out.verdict[at] < 0) {
                out.verdict[at] = static_cast<int>(j.verdict);
                out.judgement[at] = j;
                out.judgedAtNanos[at] = now;
            }
        }
    };
    std::size_t nextBeat = 0;
    auto until = [&](int64_t t) {
        for (;;) {
            const int64_t beatAt = nextBeat < p.beats.size()
                                       ? nanosOf(p.beats[nextBeat].at, renderRate)
                                       : std::numeric_limits<int64_t>::max();
            const int64_t deadline = matcher.nextDeadlineNanos() != 0
                                         ? matcher.nextDeadlineNanos()
                                         : std::numeric_limits<int64_t>::max();
            if (std::min(beatAt, deadline) > t) {
                return;
            }
            if (beatAt <= deadline) {
                const Beat& b = p.beats[nextBeat];
                now = beatAt;
                keep(matcher.addBeat({static_cast<int64_t>(nextBeat), beatAt,
                                      nanosOf(b.period, renderRate), b.expected}));
                ++nextBeat;
            } else {
                now = deadline;
                keep(matcher.advance(deadline));
            }
        }
    };
    for (const Arrival& a : arrivals) {
        until(a.atNanos);
        now = a.atNanos;
        out.heard.push_back(a.note);
        keep(matcher.addNote(nanosOf(a.note.onsetSample, rate), a.note.midi));
    }
    until(endNanos);
    return out;
}

// The take (audio at `rate`) through the note detector in 256-sample blocks, each note arriving
// at the end of the block that returned it, then through the beat matcher (judgeNotes); with
// `announce`, each click told to the detector at its beat plus the latency, the scheduling
// look-ahead before its beat.
inline Judged judge(const Performance& p, const std::vector<float>& audio, int rate,
                    int64_t latencyNanos, bool announce) {
    constexpr std::size_t block = 256;
    listen::NoteDetector detector(listen::DetectorParams::forRate(rate));
    std::vector<Arrival> arrivals;
    double cpuSec = 0;
    std::size_t nextBeat = 0;
    std::vector<float> stream = audio;
    stream.resize(stream.size() + static_cast<std::size_t>(rate / 2), 0.0f);
    for (std::size_t at = 0; at < stream.size(); at += block) {
        const std::size_t n = std::min(block, stream.size() - at);
        // The window's tick runs the scheduling look-ahead before its beat and tells the
        // detector of its click then.
        const int64_t from = nanosOf(static_cast<int64_t>(at), rate);
        for (; nextBeat < p.beats.size() &&
               nanosOf(p.beats[nextBeat].at, renderRate) <= from + MIDI_OUT::kScheduleAheadNanos;
             ++nextBeat) {
            if (announce && p.beats[nextBeat].click) {
                detector.ownClick((nanosOf(p.beats[nextBeat].at, renderRate) + latencyNanos) *
                                      rate / 1'000'000'000LL,
                                  nextBeat % 4 == 0, p.beats[nextBeat].expected);
            }
        }
        const double cpu = threadCpuSec();
        const std::vector<listen::DetectedNote> notes = detector.feed(stream.data() + at, n);
        cpuSec += threadCpuSec() - cpu;
        const int64_t t = nanosOf(static_cast<int64_t>(at + n), rate);
        for (const listen::DetectedNote& note : notes) {
            arrivals.push_back({t, note});
        }
    }
    Judged out = judgeNotes(p, arrivals, rate, latencyNanos,
                            nanosOf(static_cast<int64_t>(stream.size()), rate) + 10'000'000'000LL);
    out.detectCpuSec = cpuSec;
    out.audioSec = static_cast<double>(audio.size()) / rate;
    return out;
}

// Notes the detector names in audio that holds none.
inline std::vector<listen::DetectedNote> notesIn(const std::vector<float>& audio, int rate,
                                                 double& cpuSec) {
    listen::NoteDetector detector(listen::DetectorParams::forRate(rate));
    std::vector<listen::DetectedNote> found;
    const double cpu = threadCpuSec();
    for (std::size_t at = 0; at < audio.size(); at += 256) {
        const std::vector<listen::DetectedNote> notes =
            detector.feed(audio.data() + at, std::min<std::size_t>(256, audio.size() - at));
        found.insert(found.end(), notes.begin(), notes.end());
    }
    cpuSec = threadCpuSec() - cpu;
    return found;
}

} // namespace bench::corpus
