#include "listen/take_judge.h"

#include "listen/calibration.h"
#include "listen/detector.h"
#include "platform/audio_input.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <ostream>
#include <sstream>

namespace listen {

namespace {

// The matcher's clock: the take's first sample a second after 0, so that no time it keeps is 0
// (which it reads as nothing open).
constexpr int64_t kBaseNanos = 1'000'000'000;
// The file input's silence after the end, so that the last note is decided.
constexpr double kTailSeconds = 0.5;
// A beat alone in the file lasts this long.
constexpr int64_t kLoneBeatNanos = 1'000'000'000;

int64_t nanosAt(int64_t sample, int rate) {
    return kBaseNanos + sample / rate * 1'000'000'000LL + sample % rate * 1'000'000'000LL / rate;
}

std::string trimmed(std::string text) {
    const auto space = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && space(static_cast<unsigned char>(text.back()))) {
        text.pop_back();
    }
    std::size_t first = 0;
    while (first < text.size() && space(static_cast<unsigned char>(text[first]))) {
        ++first;
    }
    return text.substr(first);
}

std::string lowered(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = line.find(',', start);
        out.push_back(trimmed(line.substr(start, comma - start)));
        if (comma == std::string::npos) {
            return out;
        }
        start = comma + 1;
    }
}

std::optional<double> number(const std::string& text) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> integer(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::string formatted(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

constexpr const char* usage =
    "usage: clefwork-judge TAKE.wav [--beats BEATS.csv] [--latency MS] [--channel N]\n"
    "  without --beats: the notes heard, as onset_s,midi,cents\n"
    "  with --beats: each beat's verdict, as beat,verdict,played_midi,offset_ms\n";

} // namespace

bool readTake(const std::string& path, int channel, TakeAudio& take, std::string& error) {
    take = {};
    platform::WavData wav;
    platform::InputError why;
    if (!platform::readWavChannel(path, channel, wav, why)) {
        error = why.text;
        return false;
    }
    take.sampleRate = wav.sampleRate;
    take.samples = std::move(wav.mono);
    return true;
}

namespace {

// The take through the detector as the listener runs it: the input's blocks, then the file
// input's silence.  `block` sees each block's notes and where the block ends (in samples).
template <typename Each> void runDetector(const TakeAudio& take, Each&& each) {
    NoteDetector detector(DetectorParams::forRate(take.sampleRate));
    std::vector<float> stream = take.samples;
    stream.resize(stream.size() + static_cast<std::size_t>(kTailSeconds * take.sampleRate), 0.0f);
    const std::size_t block = platform::kInputBlockFrames;
    for (std::size_t at = 0; at < stream.size(); at += block) {
        const std::size_t n = std::min(block, stream.size() - at);
        each(detector.feed(stream.data() + at, n), static_cast<int64_t>(at + n));
    }
}

} // namespace

std::vector<HeardNote> hearTake(const TakeAudio& take) {
    std::vector<HeardNote> heard;
    if (take.sampleRate <= 0) {
        return heard;
    }
    runDetector(take, [&](const std::vector<DetectedNote>& notes, int64_t) {
        for (const DetectedNote& d : notes) {
            heard.push_back(
                {static_cast<double>(d.onsetSample) / take.sampleRate, d.midi, d.cents});
        }
    });
    return heard;
}

bool parseBeatsCsv(const std::string& text, std::vector<TakeBeat>& beats, std::string& error) {
    beats.clear();
    std::istringstream in(text);
    std::string line;
    int lineNumber = 0;
    int beatColumn = -1, timeColumn = -1, midiColumn = -1;
    std::size_t columns = 0;
    bool header = false;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (lineNumber == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) {
            line.erase(0, 3); // a byte-order mark
        }
        if (trimmed(line).empty()) {
            continue;
        }
        const std::vector<std::string> row = fields(line);
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (!header) {
            header = true;
            columns = row.size();
            for (std::size_t i = 0; i < row.size(); ++i) {
                const std::string name = lowered(row[i]);
                int* column = name == "beat"            ? &beatColumn
                              : name == "time_s"        ? &timeColumn
                              : name == "expected_midi" ? &midiColumn
                                                        : nullptr;
                if (column == nullptr) {
                    continue; // a column of the file's own
                }
                if (*column >= 0) {
                    error = where + "the column \"" + name + "\" is named twice.";
                    return false;
                }
                *column = static_cast<int>(i);
            }
            std::string missing;
            for (const auto& [column, name] : {std::pair{beatColumn, "beat"},
                                               {timeColumn, "time_s"},
                                               {midiColumn, "expected_midi"}}) {
                if (column < 0) {
                    missing += missing.empty() ? "" : ", ";
                    missing += name;
                }
            }
            if (!missing.empty()) {
                error = where + "the header lacks the column(s) " + missing +
                        " (it needs beat,time_s,expected_midi).";
                return false;
            }
            continue;
        }
        const auto need = static_cast<std::size_t>(std::max({beatColumn, timeColumn, midiColumn}));
        if (row.size() <= need) {
            error = where + "has " + std::to_string(row.size()) + " field(s), the header " +
                    std::to_string(columns) + ".";
            return false;
        }
        TakeBeat beat;
        beat.beat = row[static_cast<std::size_t>(beatColumn)];
        const std::optional<double> time = number(row[static_cast<std::size_t>(timeColumn)]);
        if (!time || *time < 0.0 || *time > 1e6) {
            error = where + "time_s \"" + row[static_cast<std::size_t>(timeColumn)] +
                    "\" is not a time in seconds from the take's start.";
            return false;
        }
        const std::optional<int> midi = integer(row[static_cast<std::size_t>(midiColumn)]);
        if (!midi || *midi < 1 || *midi > 127) {
            error = where + "expected_midi \"" + row[static_cast<std::size_t>(midiColumn)] +
                    "\" is not a MIDI note number (1 to 127).";
            return false;
        }
        beat.timeSeconds = *time;
        beat.expectedMidi = *midi;
        // Two beats at one time would leave each no length to be on time in.
        for (std::size_t i = 0; i < beats.size(); ++i) {
            if (std::fabs(beats[i].timeSeconds - beat.timeSeconds) < 1e-3) {
                error = where + "beat \"" + beat.beat + "\" is at the time of beat \"" +
                        beats[i].beat + "\" (" + row[static_cast<std::size_t>(timeColumn)] + " s).";
                return false;
            }
        }
        beats.push_back(std::move(beat));
    }
    if (!header) {
        error = "the file is empty (it needs a header beat,time_s,expected_midi).";
        return false;
    }
    if (beats.empty()) {
        error = "the file has a header but no beats.";
        return false;
    }
    return true;
}

std::vector<TakeVerdict> judgeTake(const TakeAudio& take, std::vector<TakeBeat> beats,
                                   double latencyMs) {
    std::stable_sort(beats.begin(), beats.end(), [](const TakeBeat& a, const TakeBeat& b) {
        return a.timeSeconds < b.timeSeconds;
    });
    std::vector<TakeVerdict> out(beats.size());
    for (std::size_t i = 0; i < beats.size(); ++i) {
        out[i].beat = beats[i].beat;
    }
    if (beats.empty() || take.sampleRate <= 0) {
        return out;
    }
    std::vector<int64_t> times(beats.size());
    for (std::size_t i = 0; i < beats.size(); ++i) {
        times[i] = kBaseNanos + std::llround(beats[i].timeSeconds * 1e9);
    }
    const auto period = [&](std::size_t i) {
        if (beats.size() == 1) {
            return kLoneBeatNanos;
        }
        const int64_t gap =
            i + 1 < times.size() ? times[i + 1] - times[i] : times[i] - times[i - 1];
        return std::max<int64_t>(gap, 1);
    };

    BeatMatcher matcher;
    matcher.setLatencyNanos(std::llround(latencyMs * 1e6));
    std::vector<bool> judged(beats.size(), false);
    const auto keep = [&](const std::vector<Judgement>& judgements) {
        for (const Judgement& j : judgements) {
            const auto at = static_cast<std::size_t>(j.beatId);
            if (at < out.size() && !judged[at]) {
                judged[at] = true;
                out[at].verdict = j.verdict;
                out[at].playedMidi = j.playedMidi;
                out[at].offsetMs = j.offsetMs;
            }
        }
    };
    // Beats at their ticks and the matcher's deadlines, in time order, up to `now`, as the
    // window's beat and its judging timer meet them.
    std::size_t next = 0;
    const auto until = [&](int64_t now) {
        for (;;) {
            const int64_t beatAt =
                next < beats.size() ? times[next] : std::numeric_limits<int64_t>::max();
            const int64_t deadline = matcher.nextDeadlineNanos() != 0
                                         ? matcher.nextDeadlineNanos()
                                         : std::numeric_limits<int64_t>::max();
            if (std::min(beatAt, deadline) > now) {
                return;
            }
            if (beatAt <= deadline) {
                keep(matcher.addBeat(
                    {static_cast<int64_t>(next), beatAt, period(next), beats[next].expectedMidi}));
                ++next;
            } else {
                keep(matcher.advance(deadline));
            }
        }
    };
    int64_t end = 0;
    runDetector(take, [&](const std::vector<DetectedNote>& notes, int64_t blockEnd) {
        // The notes of a block reach the matcher after the block, as the listener posts them.
        until(nanosAt(blockEnd, take.sampleRate));
        for (const DetectedNote& d : notes) {
            keep(matcher.addNote(nanosAt(d.onsetSample, take.sampleRate), d.midi));
        }
        end = blockEnd;
    });
    // Beats after the take, and every last chance.
    until(std::max(nanosAt(end, take.sampleRate), times.back()) + 60'000'000'000LL);
    keep(matcher.advance(std::numeric_limits<int64_t>::max() / 2));
    return out;
}

const char* verdictName(Verdict verdict) {
    switch (verdict) {
    case Verdict::Right:
        return "right";
    case Verdict::Early:
        return "early";
    case Verdict::Late:
        return "late";
    case Verdict::Octave:
        return "octave";
    case Verdict::Wrong:
        return "wrong";
    case Verdict::Missed:
        return "missed";
    }
    return "missed";
}

std::string notesCsv(const std::vector<HeardNote>& notes) {
    std::string out = "onset_s,midi,cents\n";
    for (const HeardNote& n : notes) {
        out += formatted("%.4f", n.onsetSeconds) + "," + std::to_string(n.midi) + "," +
               formatted("%.1f", n.cents) + "\n";
    }
    return out;
}

std::string verdictsCsv(const std::vector<TakeVerdict>& verdicts) {
    std::string out = "beat,verdict,played_midi,offset_ms\n";
    for (const TakeVerdict& v : verdicts) {
        out += v.beat + "," + verdictName(v.verdict) + ",";
        if (v.verdict != Verdict::Missed) {
            out += std::to_string(v.playedMidi) + "," + formatted("%.1f", v.offsetMs);
        } else {
            out += ",";
        }
        out += "\n";
    }
    return out;
}

int runTakeJudge(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const auto fail = [&](const std::string& message) {
        err << "clefwork-judge: " << message << "\n";
        return 2;
    };
    std::string takePath, beatsPath;
    double latencyMs = 0.0;
    int channel = 1;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> value;
        if (const std::size_t eq = arg.find('=');
            arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
        }
        const auto take = [&]() -> std::optional<std::string> {
            if (value) {
                return value;
            }
            if (i + 1 < args.size()) {
                return args[++i];
            }
            return std::nullopt;
        };
        if (arg == "-h" || arg == "--help") {
            out << usage;
            return 0;
        }
        if (arg == "--beats" || arg == "--latency" || arg == "--channel") {
            const std::optional<std::string> v = take();
            if (!v) {
                return fail(arg + " needs a value.\n" + usage);
            }
            if (arg == "--beats") {
                beatsPath = *v;
            } else if (arg == "--latency") {
                const std::optional<double> ms = number(*v);
                if (!ms || std::fabs(*ms) > kCalibrationMaxLatencyMs) {
                    return fail("--latency \"" + *v + "\" is not a latency in milliseconds (-" +
                                formatted("%.0f", kCalibrationMaxLatencyMs) + " to " +
                                formatted("%.0f", kCalibrationMaxLatencyMs) + ").");
                }
                latencyMs = *ms;
            } else {
                const std::optional<int> n = integer(*v);
                if (!n || *n < 1 || *n > 32) {
                    return fail("--channel \"" + *v + "\" is not a channel number (1, 2, ...).");
                }
                channel = *n;
            }
            continue;
        }
        if (arg.rfind("-", 0) == 0 && arg.size() > 1) {
            return fail("unknown option \"" + args[i] + "\".\n" + usage);
        }
        if (!takePath.empty()) {
            return fail("one take at a time (\"" + takePath + "\" and \"" + arg + "\").\n" + usage);
        }
        takePath = arg;
    }
    if (takePath.empty()) {
        return fail(std::string("no take to judge.\n") + usage);
    }
    std::vector<TakeBeat> beats;
    if (!beatsPath.empty()) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(beatsPath, ec)) {
            return fail("the beats file \"" + beatsPath + "\" was not found or is not a file.");
        }
        std::ifstream in(beatsPath, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        if (!in && !in.eof()) {
            return fail("the beats file \"" + beatsPath + "\" cannot be read.");
        }
        std::string why;
        if (!parseBeatsCsv(text.str(), beats, why)) {
            return fail("\"" + beatsPath + "\", " + why);
        }
    }
    TakeAudio take;
    std::string why;
    if (!readTake(takePath, channel - 1, take, why)) {
        return fail(why);
    }
    if (beatsPath.empty()) {
        out << notesCsv(hearTake(take));
    } else {
        out << verdictsCsv(judgeTake(take, std::move(beats), latencyMs));
    }
    return out ? 0 : 1;
}

} // namespace listen
