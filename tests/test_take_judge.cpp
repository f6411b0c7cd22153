// A recorded take judged from the command line: the beats file, the verdicts of a take of
// synthesised bass notes, a stereo take's channel and the program's exit status on bad input.
#include "listen/take_judge.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using listen::TakeBeat;
using listen::Verdict;

namespace {

// ---------------------------------------------------------------------------------------------
// Takes

// A plucked string, roughly: eight harmonics falling off with their number, a 5 ms attack and an
// exponential decay, stopped (with a short release) after `seconds`.
void addNote(std::vector<float>& samples, int rate, double at, int midi, double seconds) {
    const double f = 440.0 * std::pow(2.0, (midi - 69) / 12.0);
    const auto first = static_cast<std::size_t>(at * rate);
    const auto length = static_cast<std::size_t>((seconds + 0.05) * rate);
    for (std::size_t i = 0; i < length && first + i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        double v = 0.0;
        for (int h = 1; h <= 8; ++h) {
            v += std::sin(2.0 * M_PI * f * h * t) / h;
        }
        double envelope = std::min(1.0, t / 0.005) * std::exp(-t / 0.9);
        if (t > seconds) {
            envelope *= std::max(0.0, 1.0 - (t - seconds) / 0.05);
        }
        samples[first + i] += static_cast<float>(0.25 * v * envelope);
    }
}

void putLe(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

// 16-bit PCM with one channel per vector (all of one length).
void writeWav(const std::string& path, const std::vector<std::vector<float>>& channels, int rate) {
    std::string data;
    for (std::size_t i = 0; i < channels.front().size(); ++i) {
        for (const std::vector<float>& c : channels) {
            const auto s = static_cast<int16_t>(std::lround(std::clamp(c[i], -1.0f, 1.0f) * 32767));
            putLe(data, static_cast<uint16_t>(s), 2);
        }
    }
    const auto n = static_cast<uint32_t>(channels.size());
    std::string wav = "RIFF";
    putLe(wav, 36 + static_cast<uint32_t>(data.size()), 4);
    wav += "WAVEfmt ";
    putLe(wav, 16, 4);
    putLe(wav, 1, 2);
    putLe(wav, n, 2);
    putLe(wav, static_cast<uint32_t>(rate), 4);
    putLe(wav, static_cast<uint32_t>(rate) * n * 2, 4);
    putLe(wav, n * 2, 2);
    putLe(wav, 16, 2);
    wav += "data";
    putLe(wav, static_cast<uint32_t>(data.size()), 4);
    wav += data;
    std::ofstream(path, std::ios::binary) << wav;
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Five beats at tempo 100 from 0.5 s: E2 played right, G#2 for G2, nothing for A2, D3 for D2 (an
// octave up) and F2 200 ms late.
constexpr int takeRate = 48000;
const char* const beatsText = "beat,time_s,expected_midi,hand\n"
                              "1,0.5,40,left\n"
                              "2,1.1,43,left\n"
                              "3,1.7,45,left\n"
                              "4,2.3,38,left\n"
                              "5,2.9,41,left\n";

std::vector<float> fiveBeatTake(int rate) {
    std::vector<float> samples(static_cast<std::size_t>(3.8 * rate), 0.0f);
    addNote(samples, rate, 0.5, 40, 0.5);
    addNote(samples, rate, 1.1, 44, 0.5);
    addNote(samples, rate, 2.3, 50, 0.5);
    addNote(samples, rate, 3.1, 41, 0.4);
    return samples;
}

std::vector<TakeBeat> parsed(const std::string& text) {
    std::vector<TakeBeat> beats;
    std::string error;
    EXPECT_TRUE(listen::parseBeatsCsv(text, beats, error)) << error;
    return beats;
}

std::vector<Verdict> verdictsOf(const std::vector<listen::TakeVerdict>& judged) {
    std::vector<Verdict> out;
    for (const listen::TakeVerdict& v : judged) {
        out.push_back(v.verdict);
    }
    return out;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The beats file

TEST(BeatsCsv, ReadsTheColumnsByNameAndSaysWhatIsWrong) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<TakeBeat> want; // empty: an error containing `problem`
        std::string problem;
    };
    const std::vector<Case> cases = {
        {"good",
         "beat,time_s,expected_midi\n1,0.5,40\n2,1.1,43\n",
         {{"1", 0.5, 40}, {"2", 1.1, 43}},
         ""},
        {"columns in another order, one more, no newline at the end",
         "time_s,hand,expected_midi,beat\n0.25,left,28,a\n1e0,right,68,b",
         {{"a", 0.25, 28}, {"b", 1.0, 68}},
         ""},
        {"CRLF line ends and spaces",
         "beat, time_s ,expected_midi\r\n1 , 0.5 , 40\r\n",
         {{"1", 0.5, 40}},
         ""},
        {"blank lines",
         "\nbeat,time_s,expected_midi\n\n1,0.5,40\n   \n\r\n2,1,41\n\n",
         {{"1", 0.5, 40}, {"2", 1.0, 41}},
         ""},
        {"a byte-order mark",
         "\xEF\xBB\xBF"
         "beat,time_s,expected_midi\n1,0,40\n",
         {{"1", 0.0, 40}},
         ""},
        {"missing column", "beat,time_s\n1,0.5\n", {}, "expected_midi"},
        {"two missing columns", "beat\n1\n", {}, "time_s, expected_midi"},
        {"a column twice", "beat,time_s,expected_midi,time_s\n1,0.5,40,1\n", {}, "named twice"},
        {"non-numeric time",
         "beat,time_s,expected_midi\n1,0.5,40\n2,soon,41\n",
         {},
         "line 3: time_s \"soon\""},
        {"a time with more after it", "beat,time_s,expected_midi\n1,0.5s,40\n", {}, "line 2"},
        {"a negative time", "beat,time_s,expected_midi\n1,-0.5,40\n", {}, "time_s \"-0.5\""},
        {"not a number at all", "beat,time_s,expected_midi\n1,nan,40\n", {}, "time_s \"nan\""},
        {"a note name", "beat,time_s,expected_midi\n1,0.5,E2\n", {}, "expected_midi \"E2\""},
        {"a note out of range", "beat,time_s,expected_midi\n1,0.5,128\n", {}, "1 to 127"},
        {"two beats at one time",
         "beat,time_s,expected_midi\n1,0.5,40\n2,1.1,41\n3,0.5004,43\n",
         {},
         "line 4: beat \"3\" is at the time of beat \"1\""},
        {"a short line", "beat,time_s,expected_midi\n1,0.5,40\n2,1.1\n", {}, "line 3: has 2"},
        {"empty", "", {}, "empty"},
        {"only blank lines", "\n\r\n  \n", {}, "empty"},
        {"a header alone", "beat,time_s,expected_midi\r\n", {}, "no beats"},
    };
    for (const Case& c : cases) {
        std::vector<TakeBeat> beats;
        std::string error;
        const bool ok = listen::parseBeatsCsv(c.text, beats, error);
        if (c.want.empty()) {
            EXPECT_FALSE(ok) << c.name;
            EXPECT_NE(error.find(c.problem), std::string::npos) << c.name << ": " << error;
            continue;
        }
        ASSERT_TRUE(ok) << c.name << ": " << error;
        ASSERT_EQ(beats.size(), c.want.size()) << c.name;
        for (std::size_t i = 0; i < beats.size(); ++i) {
            EXPECT_EQ(beats[i].beat, c.want[i].beat) << c.name << " " << i;
            EXPECT_DOUBLE_EQ(beats[i].timeSeconds, c.want[i].timeSeconds) << c.name << " " << i;
            EXPECT_EQ(beats[i].expectedMidi, c.want[i].expectedMidi) << c.name << " " << i;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Takes judged

TEST(TakeJudge, HearsTheNotesAndJudgesEveryBeat) {
    listen::TakeAudio take{takeRate, fiveBeatTake(takeRate)};
    const std::vector<listen::HeardNote> heard = listen::hearTake(take);
    ASSERT_EQ(heard.size(), 4u);
    const double onsets[] = {0.5, 1.1, 2.3, 3.1};
    const int midis[] = {40, 44, 50, 41};
    for (std::size_t i = 0; i < heard.size(); ++i) {
        EXPECT_EQ(heard[i].midi, midis[i]) << i;
        EXPECT_NEAR(heard[i].onsetSeconds, onsets[i], 0.03) << i;
        EXPECT_LT(std::fabs(heard[i].cents), 15.0) << i;
    }

    const std::vector<listen::TakeVerdict> judged = listen::judgeTake(take, parsed(beatsText), 0);
    EXPECT_EQ(verdictsOf(judged),
              (std::vector<Verdict>{Verdict::Right, Verdict::Wrong, Verdict::Missed,
                                    Verdict::Octave, Verdict::Late}));
    ASSERT_EQ(judged.size(), 5u);
    EXPECT_EQ(judged[1].playedMidi, 44);
    EXPECT_EQ(judged[2].playedMidi, 0);
    EXPECT_EQ(judged[3].playedMidi, 50);
    EXPECT_NEAR(judged[0].offsetMs, 0.0, 30.0);
    EXPECT_NEAR(judged[4].offsetMs, 200.0, 30.0);

    // The latency comes off the notes: 200 ms of it puts the late note on its beat and the one
    // played on time early.
    const std::vector<listen::TakeVerdict> withLatency =
        listen::judgeTake(take, parsed(beatsText), 200.0);
    ASSERT_EQ(withLatency.size(), 5u);
    EXPECT_EQ(withLatency[0].verdict, Verdict::Early);
    EXPECT_EQ(withLatency[4].verdict, Verdict::Right);
    EXPECT_NEAR(withLatency[4].offsetMs, 0.0, 30.0);
}

TEST(TakeJudge, BeatsOutOfOrderAreJudgedInTimeOrderUnderTheirNames) {
    listen::TakeAudio take{takeRate, fiveBeatTake(takeRate)};
    const std::vector<listen::TakeVerdict> judged = listen::judgeTake(
        take, parsed("beat,time_s,expected_midi\nlast,2.9,41\nfirst,0.5,40\nfourth,2.3,38\n"), 0);
    ASSERT_EQ(judged.size(), 3u);
    EXPECT_EQ(judged[0].beat, "first");
    EXPECT_EQ(judged[0].verdict, Verdict::Right);
    EXPECT_EQ(judged[1].beat, "fourth");
    EXPECT_EQ(judged[1].verdict, Verdict::Octave);
    EXPECT_EQ(judged[2].beat, "last");
    EXPECT_EQ(judged[2].verdict, Verdict::Late);
}

TEST(TakeJudge, TheCommandLinePrintsCsvAndTakesAStereoTakesChannel) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string wav = dir.filePath("take.wav").toStdString();
    const std::string beats = dir.filePath("beats.csv").toStdString();
    // The bass on the second input, the first silent.
    const std::vector<float> bass = fiveBeatTake(takeRate);
    writeWav(wav, {std::vector<float>(bass.size(), 0.0f), bass}, takeRate);
    writeText(beats, beatsText);

    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out; // the whole of it; "" with status 2
        std::string err; // part of it
    };
    const std::vector<Case> cases = {
        {{wav, "--channel", "2", "--beats", beats},
         0,
         "beat,verdict,played_midi,offset_ms\n1,right,40,",
         ""},
        {{wav, "--beats=" + beats, "--channel=2"},
         0,
         "beat,verdict,played_midi,offset_ms\n1,right,40,",
         ""},
        // The first channel is silence: every beat is missed.
        {{wav, "--beats", beats},
         0,
         "beat,verdict,played_midi,offset_ms\n1,missed,,\n2,missed,,\n3,missed,,\n4,missed,,\n5,"
         "missed,,\n",
         ""},
        {{wav}, 0, "onset_s,midi,cents\n", ""},
        {{wav, "--channel", "3"}, 2, "", "has no channel 3 (it has 2)"},
        {{wav, "--channel", "0"}, 2, "", "--channel \"0\""},
        {{wav, "--latency", "fast"}, 2, "", "--latency \"fast\""},
        {{wav, "--latency", "5000"}, 2, "", "--latency \"5000\""},
        {{wav, "--beats"}, 2, "", "--beats needs a value"},
        {{wav, "--beats", dir.filePath("none.csv").toStdString()}, 2, "", "was not found"},
        {{wav, "--beats", dir.path().toStdString()}, 2, "", "is not a file"},
        {{wav, "--beats", wav}, 2, "", "line 1: the header lacks"},
        {{wav, "--tempo", "100"}, 2, "", "unknown option \"--tempo\""},
        {{wav, wav}, 2, "", "one take at a time"},
        {{}, 2, "", "no take to judge"},
        {{beats}, 2, "", "is not a WAV file"},
        {{dir.filePath("none.wav").toStdString()}, 2, "", "was not found"},
    };
    for (const Case& c : cases) {
        std::ostringstream out, err;
        std::string line;
        for (const std::string& a : c.args) {
            line += a + " ";
        }
        EXPECT_EQ(listen::runTakeJudge(c.args, out, err), c.status) << line << err.str();
        if (c.status == 0) {
            EXPECT_EQ(out.str().substr(0, c.out.size()), c.out) << line;
            EXPECT_EQ(err.str(), "") << line;
        } else {
            EXPECT_EQ(out.str(), "") << line;
            EXPECT_NE(err.str().find(c.err), std::string::npos) << line << ": " << err.str();
            EXPECT_EQ(err.str().rfind("clefwork-judge: ", 0), 0u) << line;
        }
    }
}

TEST(TakeJudge, TheProgramExitsWithTwoOnAFileThatIsNoWav) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString notWav = dir.filePath("take.wav");
    writeText(notWav.toStdString(), "onset_s,midi,cents\n");
    QProcess judge;
    judge.start(QStringLiteral(CLEFWORK_JUDGE_EXE), {notWav});
    ASSERT_TRUE(judge.waitForFinished(30000));
    EXPECT_EQ(judge.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(judge.exitCode(), 2);
    EXPECT_TRUE(judge.readAllStandardOutput().isEmpty());
    const QString err = QString::fromUtf8(judge.readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("\"%1\" is not a WAV file.").arg(notWav)))
        << err.toStdString();
}
