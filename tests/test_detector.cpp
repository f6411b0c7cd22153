// The note detector on bass notes rendered offline through the real synthesiser and soundfonts:
// pitch across the range, one event per pluck, repeated and ringing notes, silence and noise,
// onset times and independence from the block size.
#include "bench/render_bass.h"
#include "listen/detector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

using listen::DetectedNote;
using listen::NoteDetector;

namespace {

constexpr int rate = 48000;
const char* const fluidR3 = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
const char* const timGM = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// One renderer per soundfont, loaded on first use.
bench::BassRenderer* renderer(const std::string& path) {
    static std::map<std::string, std::unique_ptr<bench::BassRenderer>> loaded;
    auto& slot = loaded[path];
    if (!slot) {
        if (!std::filesystem::exists(path)) {
            return nullptr;
        }
        platform::FluidEngine::silenceLog();
        slot = std::make_unique<bench::BassRenderer>();
        std::string error;
        if (!slot->load(error, rate, path)) {
            slot.reset();
            return nullptr;
        }
    }
    return slot.get();
}

std::vector<DetectedNote> detect(const std::vector<float>& samples, std::size_t block = 256,
                                 const listen::DetectorParams& params = {},
                                 const std::vector<int64_t>& clicks = {}) {
    NoteDetector detector(params);
    for (std::size_t i = 0; i < clicks.size(); ++i) {
        detector.ownClick(clicks[i], i % 4 == 0); // the bar's first click is the bass drum
    }
    std::vector<DetectedNote> out;
    for (std::size_t at = 0; at < samples.size(); at += block) {
        const auto notes = detector.feed(samples.data() + at, std::min(block, samples.size() - at));
        out.insert(out.end(), notes.begin(), notes.end());
    }
    EXPECT_EQ(detector.samplesFed(), static_cast<int64_t>(samples.size()));
    return out;
}

double ms(int64_t samples) {
    return static_cast<double>(samples) * 1000.0 / rate;
}

struct Case {
    const char* soundfont;
    int program;
    int midi;
    int velocity;
    int count; // 1: a single note ringing 1.5 s; 4: repeated at tempo 200
    bench::Mix mix;
    unsigned seed = 1;   // the noise's
    double gainDb = 0.0; // on the whole take: a low input level
};

std::string caseName(const testing::TestParamInfo<Case>& info) {
    const Case& c = info.param;
    std::string name = std::string(c.soundfont == fluidR3 ? "FluidR3" : "TimGM") + "_p" +
                       std::to_string(c.program) + "_m" + std::to_string(c.midi) + "_v" +
                       std::to_string(c.velocity) + "_x" + std::to_string(c.count);
    name += c.mix == bench::Mix::Clean   ? "_clean"
            : c.mix == bench::Mix::Noise ? "_noise"
                                         : "_clicks";
    if (c.gainDb != 0.0) {
        name += "_quiet" + std::to_string(static_cast<int>(-c.gainDb));
    }
    return name;
}

class RenderedNotes : public testing::TestWithParam<Case> {};

// Every pluck is one event at the right pitch, close to its note-on, and a ringing note is one
// event however long it rings.
TEST_P(RenderedNotes, OneEventPerPluckAtTheRightPitch) {
    const Case& c = GetParam();
    bench::BassRenderer* synth = renderer(c.soundfont);
    if (!synth) {
        GTEST_SKIP() << c.soundfont << " is not installed";
    }
    bench::TakeSpec spec;
    spec.program = c.program;
    spec.midi = c.midi;
    spec.velocity = c.velocity;
    spec.count = c.count;
    spec.mix = c.mix;
    spec.seed = c.seed;
    bench::Take take = synth->render(spec);
    for (float& s : take.samples) {
        s *= static_cast<float>(std::pow(10.0, c.gainDb / 20.0));
    }
    const auto notes = detect(take.samples);
    ASSERT_EQ(notes.size(), take.onsets.size());
    for (std::size_t i = 0; i < notes.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(notes[i].midi, c.midi);
        EXPECT_LE(std::fabs(notes[i].cents), 50.0);
        // On the attack (a soundfont's sample may take a while to speak after its note-on);
        // over a note still ringing, a little less closely.
        EXPECT_NEAR(ms(notes[i].onsetSample - take.attacks[i]), 0.0, i == 0 ? 10.0 : 15.0);
        EXPECT_GT(notes[i].confidence, 0.3);
        EXPECT_GT(notes[i].levelDb, -50.0 + c.gainDb);
    }
}

using bench::Mix;
const std::vector<Case> renderedCases = {
    Case{fluidR3, 33, 28, 100, 1, Mix::Clean}, Case{fluidR3, 33, 29, 80, 1, Mix::Clean},
    Case{fluidR3, 33, 40, 100, 1, Mix::Clean}, Case{fluidR3, 34, 55, 120, 1, Mix::Clean},
    Case{fluidR3, 33, 68, 80, 1, Mix::Clean}, Case{timGM, 33, 28, 100, 1, Mix::Clean},
    Case{timGM, 34, 29, 120, 1, Mix::Clean}, Case{timGM, 33, 40, 80, 1, Mix::Clean},
    Case{timGM, 33, 55, 100, 1, Mix::Clean}, Case{timGM, 34, 68, 100, 1, Mix::Clean},
    Case{fluidR3, 33, 28, 100, 4, Mix::Clean}, Case{timGM, 33, 40, 100, 4, Mix::Clean},
    Case{fluidR3, 34, 55, 80, 4, Mix::Clean}, Case{fluidR3, 33, 40, 100, 1, Mix::Noise},
    Case{timGM, 34, 33, 100, 4, Mix::Noise},
    // The same note plucked again nearly in phase with the one ringing was taken for a
    // transient dying away.
    Case{timGM, 33, 45, 80, 4, Mix::Noise, 45084}, Case{timGM, 33, 45, 40, 4, Mix::Noise, 45044},
    // The clicks heard but not announced, and the accent's bass drum on the pluck.  (Not yet:
    // a single note let ring under them, TimGM6mb's 40 and 56, is named again at the accent a
    // second on, where the drum's thump over the quiet note raises what repeats at its period.)
    Case{timGM, 34, 52, 80, 4, Mix::Clicks}, Case{timGM, 34, 30, 80, 4, Mix::Clean},
    // The acoustic bass's samples carry an undertone an octave or a twelfth down at the
    // pluck, and its body speaks again a few tens of milliseconds after the string: one note,
    // placed on the string.  (Not yet: FluidR3's 55 and 58, whose undertone a twelfth down is
    // named as a note of its own before the note.)
    Case{fluidR3, 32, 44, 80, 1, Mix::Clean}, Case{fluidR3, 32, 42, 100, 4, Mix::Clean},
    // A bass at a low input level (a passive bass into a line input turned down, a render
    // at FluidSynth's own gain): soft notes 30 dB down still reach the gate.
    Case{fluidR3, 33, 33, 40, 4, Mix::Clean, 1, -30.0},
    Case{timGM, 34, 62, 40, 1, Mix::Noise, 1, -30.0}};
INSTANTIATE_TEST_SUITE_P(Range, RenderedNotes, testing::ValuesIn(renderedCases), caseName);

// With the program's own clicks announced (a few milliseconds off, as the window knows them):
// every pluck one event at the right pitch near its note-on, and where the input does not hear
// the clicks the same events as without announcements (their onsets within a few ms).  (A click
// over a note ringing on can still be an extra event; bench_detect counts them.)
class AnnouncedClicks : public testing::TestWithParam<Case> {};

// The take of a case, and what the detector hears in it with its clicks announced (a few
// milliseconds off either way); false when the soundfont is not installed.
bool withAnnouncedClicks(const Case& c, bench::Take& take, std::vector<DetectedNote>& notes) {
    bench::BassRenderer* synth = renderer(c.soundfont);
    if (!synth) {
        return false;
    }
    bench::TakeSpec spec;
    spec.program = c.program;
    spec.midi = c.midi;
    spec.velocity = c.velocity;
    spec.count = c.count;
    spec.mix = c.mix;
    take = synth->render(spec);
    std::vector<int64_t> announced;
    for (std::size_t i = 0; i < take.clicks.size(); ++i) {
        announced.push_back(take.clicks[i] + (i % 2 ? 1 : -1) * rate * 3 / 1000);
    }
    notes = detect(take.samples, 256, {}, announced);
    return true;
}

TEST_P(AnnouncedClicks, OneEventPerPluckAtTheRightPitch) {
    const Case& c = GetParam();
    bench::Take take;
    std::vector<DetectedNote> notes;
    if (!withAnnouncedClicks(c, take, notes)) {
        GTEST_SKIP() << c.soundfont << " is not installed";
    }
    ASSERT_FALSE(take.clicks.empty());
    for (int64_t onset : take.onsets) {
        SCOPED_TRACE(ms(onset));
        int near = 0;
        for (const DetectedNote& n : notes) {
            const double at = ms(n.onsetSample - onset);
            if (at >= -30.0 && at <= 80.0) {
                ++near;
                EXPECT_EQ(n.midi, c.midi);
            }
        }
        EXPECT_EQ(near, 1);
    }
    if (c.mix != Mix::Clicks) {
        const auto plain = detect(take.samples);
        ASSERT_EQ(plain.size(), notes.size());
        for (std::size_t i = 0; i < notes.size(); ++i) {
            // A note's start on an announced click is looked at again for an attack rising
            // after it: a few milliseconds at most where there was no click.
            EXPECT_NEAR(ms(notes[i].onsetSample), ms(plain[i].onsetSample), 6.0);
            EXPECT_EQ(notes[i].midi, plain[i].midi);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Range, AnnouncedClicks,
    testing::Values(
        // FluidR3's fingered 47 was named 35 with the accent's bass drum on its pluck.
        Case{fluidR3, 33, 47, 80, 1, Mix::Clicks}, Case{fluidR3, 33, 47, 120, 4, Mix::Clicks},
        // A click over a ringing note is no note; a low picked note after a click.
        Case{timGM, 33, 40, 80, 1, Mix::Clicks}, Case{fluidR3, 34, 29, 80, 4, Mix::Clicks},
        // (Not yet: TimGM6mb's picked 56 under the accent, heard a twelfth and more down.)
        Case{timGM, 33, 40, 100, 4, Mix::Clean},
        // aubio reported the fourth low E twice, and the first report, cut short, was taken for
        // the click.
        Case{fluidR3, 33, 28, 80, 4, Mix::Clean}, Case{fluidR3, 34, 55, 80, 4, Mix::Noise}),
    caseName);

// A slow attack after an announced click heard on its note-on (the side stick, the accent's bass
// drum) is placed on the attack, not on the click, once the clicks have been heard alone.  (Not
// yet: the take's first note, on the first accent, before any click is known, is placed on the
// drum, 13 to 25 ms early; so only the later notes are held to it.)
TEST(NoteDetector, ASlowAttackAfterTheClickIsPlacedOnIt) {
    const Case cases[] = {
        {fluidR3, 33, 36, 80, 4, Mix::Clicks},
        {fluidR3, 34, 45, 80, 4, Mix::Clicks},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(caseName({c, 0}));
        bench::Take take;
        std::vector<DetectedNote> notes;
        if (!withAnnouncedClicks(c, take, notes)) {
            GTEST_SKIP() << c.soundfont << " is not installed";
        }
        ASSERT_EQ(notes.size(), take.onsets.size());
        for (std::size_t k = 0; k < notes.size(); ++k) {
            SCOPED_TRACE(k);
            EXPECT_EQ(notes[k].midi, c.midi);
            if (k > 0) {
                EXPECT_NEAR(ms(notes[k].onsetSample - take.attacks[k]), 0.0, 5.0);
            }
        }
    }
}

// A note near a harmonic of a ringing one, the ringing one let go later: the two together
// repeat at a period near the ringing note's (D4 over E1, its seventh harmonic less a third of
// a semitone, at an E1 30 cents sharp), which was taken for that note plucked again.
TEST(NoteDetector, ANoteNearAHarmonicOfARingingOneIsNoRepluckOfIt) {
    struct Pair {
        const char* soundfont;
        int program, first, velocity, second, soft;
        double gapSeconds, overlapSeconds; // the second's onset, and the first's end after it
    };
    for (const Pair& c : {Pair{timGM, 34, 28, 82, 62, 78, 0.3, 0.125},
                          Pair{fluidR3, 33, 31, 91, 50, 61, 0.435, 0.2}}) {
        SCOPED_TRACE(std::to_string(c.first) + " then " + std::to_string(c.second));
        bench::BassRenderer synth;
        std::string error;
        if (!std::filesystem::exists(c.soundfont) || !synth.load(error, rate, c.soundfont)) {
            GTEST_SKIP() << c.soundfont << " is not installed";
        }
        using bench::packMessage;
        const int64_t on = rate / 4 / 64 * 64;
        const auto next = on + static_cast<int64_t>(c.gapSeconds * rate) / 64 * 64;
        const auto off = next + static_cast<int64_t>(c.overlapSeconds * rate) / 64 * 64;
        const auto samples = synth.play({{0, packMessage(0xC0, c.program, 0)},
                                         {on, packMessage(0x90, c.first, c.velocity)},
                                         {next, packMessage(0x90, c.second, c.soft)},
                                         {off, packMessage(0x80, c.first, 0)},
                                         {next + rate / 2, packMessage(0x80, c.second, 0)}},
                                        next + rate);
        const auto notes = detect(samples);
        ASSERT_EQ(notes.size(), 2u);
        EXPECT_EQ(notes[0].midi, c.first);
        EXPECT_EQ(notes[1].midi, c.second);
        EXPECT_NEAR(ms(notes[1].onsetSample - next), 10.0, 20.0);
    }
}

// The same note played again softer, the first let go as it sounds: a sampled note's loop
// repeats so exactly that what the new waveform adds is only a few per cent of the whole,
// far over what the loop leaves of itself (FluidR3's 60 at velocity 63 after 97).
TEST(NoteDetector, ASofterRepeatOfASampledNoteIsHeard) {
    struct Repeat {
        int program, midi, loud, soft;
    };
    bench::BassRenderer synth;
    std::string error;
    if (!std::filesystem::exists(fluidR3) || !synth.load(error, rate, fluidR3)) {
        GTEST_SKIP() << fluidR3 << " is not installed";
    }
    for (const Repeat& c : {Repeat{33, 60, 97, 63}, Repeat{33, 65, 112, 78}}) {
        SCOPED_TRACE(std::to_string(c.midi) + " at " + std::to_string(c.soft));
        using bench::packMessage;
        const int64_t on = rate / 4 / 64 * 64, next = on + rate * 263 / 1000 / 64 * 64;
        const auto samples = synth.play({{0, packMessage(0xC0, c.program, 0)},
                                         {on, packMessage(0x90, c.midi, c.loud)},
                                         {next, packMessage(0x80, c.midi, 0)},
                                         {next, packMessage(0x90, c.midi, c.soft)},
                                         {next + rate / 2, packMessage(0x80, c.midi, 0)}},
                                        next + rate);
        const auto notes = detect(samples);
        ASSERT_EQ(notes.size(), 2u);
        EXPECT_EQ(notes[1].midi, c.midi);
        EXPECT_NEAR(ms(notes[1].onsetSample - next), 10.0, 20.0);
    }
}

// A softer note played legato over a louder one (the first let go as the second sounds, so the
// level never dips) is its own event: the energy may not rise, but the ringing waveform breaks.
// Each pair from a synthesiser of its own: FluidSynth's chorus runs on between takes, and these
// takes are near the model's limits.  A note an octave or a twelfth over the ringing one
// repeats at the ringing note's period too, and was taken for that note plucked again as well
// (FluidR3's 64 over 52, 65 over 46).  (Not yet, of eight pairs tried: FluidR3's 55 at 50 over
// 28 at 120 is not heard; 62 over 40, 38 over 31 and TimGM6mb's 45 over 33 are placed 10 to 60
// ms off.)
TEST(NoteDetector, ASofterNoteOverALouderOneIsHeard) {
    struct Pair {
        const char* soundfont;
        int program, first, loud, second, soft;
    };
    for (const Pair& c : {Pair{timGM, 33, 38, 110, 46, 60}, Pair{timGM, 33, 53, 90, 60, 80},
                          Pair{fluidR3, 33, 52, 100, 64, 80}, Pair{fluidR3, 33, 46, 100, 65, 80}}) {
        SCOPED_TRACE(std::to_string(c.first) + " then " + std::to_string(c.second));
        bench::BassRenderer own;
        std::string error;
        if (!std::filesystem::exists(c.soundfont) || !own.load(error, rate, c.soundfont)) {
            GTEST_SKIP() << c.soundfont << " is not installed";
        }
        bench::BassRenderer* synth = &own;
        using bench::packMessage;
        const int64_t on = rate / 4 / 64 * 64, next = on + rate * 3 / 5 / 64 * 64;
        const auto samples = synth->play({{0, packMessage(0xC0, c.program, 0)},
                                          {on, packMessage(0x90, c.first, c.loud)},
                                          {next, packMessage(0x80, c.first, 0)},
                                          {next, packMessage(0x90, c.second, c.soft)},
                                          {next + rate, packMessage(0x80, c.second, 0)}},
                                         next + rate * 3 / 2);
        const auto notes = detect(samples);
        ASSERT_EQ(notes.size(), 2u);
        EXPECT_EQ(notes[0].midi, c.first);
        EXPECT_EQ(notes[1].midi, c.second);
        // Soundfonts take up to 20 ms to speak; a note played into a ringing one is placed by
        // its rise, a block or two early at worst.
        EXPECT_NEAR(ms(notes[1].onsetSample - next), 10.0, 20.0);
    }
}

// A high note plucked just after a loud low one was let go (20 ms between them, as a player
// moves across the neck): the tracker still votes for the low note when aubio's onset on the low
// note's last swell comes first, and the samples repeat at its period's divisors, the high
// note's multiples.  It was named E2, the low note's octave.
TEST(NoteDetector, AHighNoteAfterALowOneLetGoIsItself) {
    bench::BassRenderer* synth = renderer(timGM);
    if (!synth) {
        GTEST_SKIP() << "TimGM6mb is not installed";
    }
    using bench::packMessage;
    for (const int high : {64, 68}) {
        for (const int64_t shift : {0, 128}) {
            SCOPED_TRACE(std::to_string(high) + " shifted " + std::to_string(shift));
            const int64_t on = rate / 4 / 64 * 64, next = on + (rate * 3 / 5 + shift) / 64 * 64;
            const auto samples =
                synth->play({{0, packMessage(0xC0, 34, 0)},
                             {on, packMessage(0x90, 28, 110)},
                             {next - rate / 50 / 64 * 64, packMessage(0x80, 28, 0)},
                             {next, packMessage(0x90, high, 90)},
                             {next + rate / 2, packMessage(0x80, high, 0)}},
                            next + rate);
            const auto notes = detect(samples);
            ASSERT_EQ(notes.size(), 2u);
            EXPECT_EQ(notes[0].midi, 28);
            EXPECT_EQ(notes[1].midi, high);
            EXPECT_NEAR(ms(notes[1].onsetSample - next), 0.0, 40.0);
        }
    }
}

// The program's click, announced and heard 10 dB under the bass, on a note played after another:
// under the accent's bass drum a picked note keeps its octave (the thump once made it repeat
// better an octave or a twelfth lower) and a real low note its own; under the other beats' click
// a low fingered note is not read a semitone sharp (the click pulled the tracker's estimate).
TEST(NoteDetector, TheClickOnAPluckDoesNotMoveItsPitch) {
    struct Pair {
        int program, drum, before, note, velocity;
        double offsetMs; // of the note from the click
    };
    bench::BassRenderer* synth = renderer(fluidR3);
    if (!synth) {
        GTEST_SKIP() << "FluidR3 GM is not installed";
    }
    using bench::packMessage;
    for (const Pair& c : {Pair{34, 36, 56, 43, 90, 15.0}, Pair{34, 36, 51, 43, 80, 21.0},
                          Pair{34, 36, 65, 41, 90, -15.0}, Pair{34, 36, 49, 42, 100, -9.0},
                          Pair{34, 36, 45, 48, 90, 5.0}, Pair{34, 36, 47, 31, 90, 5.0},
                          Pair{34, 36, 52, 28, 100, 0.0}, Pair{33, 37, 59, 30, 90, 7.0},
                          Pair{33, 37, 60, 28, 90, 3.0}, Pair{33, 37, 59, 30, 70, 7.0},
                          Pair{33, 37, 60, 28, 70, 3.0}}) {
        SCOPED_TRACE(std::to_string(c.before) + " then " + std::to_string(c.note));
        const int64_t first = rate / 4 / 64 * 64, click = first + rate * 3 / 5 / 64 * 64;
        const int64_t on = click + static_cast<int64_t>(c.offsetMs * rate / 1000.0) / 64 * 64;
        const int64_t end = click + rate;
        auto samples = synth->play({{0, packMessage(0xC0, c.program, 0)},
                                    {first, packMessage(0x90, c.before, 90)},
                                    {on - rate / 50 / 64 * 64, packMessage(0x80, c.before, 0)},
                                    {on, packMessage(0x90, c.note, c.velocity)},
                                    {end - rate / 4, packMessage(0x80, c.note, 0)}},
                                   end);
        const auto drum = synth->play({{click, packMessage(0x99, c.drum, 100)}}, end);
        float bassPeak = 0.0f, drumPeak = 1e-9f;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            bassPeak = std::max(bassPeak, std::fabs(samples[i]));
            drumPeak = std::max(drumPeak, std::fabs(drum[i]));
        }
        const float scale = bassPeak / drumPeak * std::pow(10.0f, -0.5f);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i] += drum[i] * scale;
        }
        NoteDetector detector;
        detector.ownClick(click + rate / 1000, c.drum == 36);
        std::vector<DetectedNote> notes;
        for (std::size_t at = 0; at < samples.size(); at += 256) {
            const auto found =
                detector.feed(samples.data() + at, std::min<std::size_t>(256, samples.size() - at));
            notes.insert(notes.end(), found.begin(), found.end());
        }
        ASSERT_EQ(notes.size(), 2u);
        EXPECT_EQ(notes[0].midi, c.before);
        EXPECT_EQ(notes[1].midi, c.note);
    }
}

// Nothing is heard in silence, in white noise, or in a low hum below the gate.
TEST(NoteDetector, SilenceAndNoiseGiveNothing) {
    std::mt19937 random(7);
    std::normal_distribution<float> gauss(0.0f, 1.0f);
    struct Input {
        const char* name;
        float noise;
        float hum; // a 41.2 Hz sine's amplitude
    };
    for (const Input& in : {Input{"silence", 0.0f, 0.0f}, Input{"noise -20 dBFS", 0.1f, 0.0f},
                            Input{"loud noise", 0.5f, 0.0f}, Input{"quiet hum", 0.0f, 0.0001f}}) {
        SCOPED_TRACE(in.name);
        std::vector<float> samples(static_cast<std::size_t>(rate * 2));
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i] = in.noise * gauss(random) +
                         in.hum * static_cast<float>(std::sin(2.0 * M_PI * 41.2 * i / rate));
        }
        EXPECT_TRUE(detect(samples).empty());
    }
}

// The same events, at the same sample positions, whatever the block size.
TEST(NoteDetector, BlockSizeDoesNotMatter) {
    bench::BassRenderer* synth = renderer(fluidR3);
    if (!synth) {
        GTEST_SKIP() << "FluidR3 GM is not installed";
    }
    bench::TakeSpec spec;
    spec.midi = 33;
    spec.count = 4;
    const bench::Take take = synth->render(spec);
    const auto reference = detect(take.samples, 256);
    ASSERT_EQ(reference.size(), 4u);
    for (std::size_t block : {1u, 64u, 1000u, 4097u}) {
        SCOPED_TRACE(block);
        const auto notes = detect(take.samples, block);
        ASSERT_EQ(notes.size(), reference.size());
        for (std::size_t i = 0; i < notes.size(); ++i) {
            EXPECT_EQ(notes[i].onsetSample, reference[i].onsetSample);
            EXPECT_EQ(notes[i].midi, reference[i].midi);
            EXPECT_DOUBLE_EQ(notes[i].cents, reference[i].cents);
        }
    }
}

// 44.1 kHz works with the window scaled to it; bad rates and methods leave an inert detector.
TEST(NoteDetector, SampleRates) {
    const listen::DetectorParams at44 = listen::DetectorParams::forRate(44100);
    NoteDetector detector(at44);
    EXPECT_TRUE(detector.ok());
    EXPECT_EQ(detector.params().sampleRate, 44100);
    EXPECT_TRUE(NoteDetector(listen::DetectorParams::forRate(96000)).ok());

    bench::BassRenderer synth;
    std::string error;
    if (!std::filesystem::exists(fluidR3) || !synth.load(error, 44100, fluidR3)) {
        GTEST_SKIP() << "FluidR3 GM is not installed";
    }
    bench::TakeSpec spec;
    spec.midi = 28;
    const bench::Take take = synth.render(spec);
    std::vector<DetectedNote> notes;
    for (std::size_t at = 0; at < take.samples.size(); at += 441) {
        const auto got = detector.feed(take.samples.data() + at,
                                       std::min<std::size_t>(441, take.samples.size() - at));
        notes.insert(notes.end(), got.begin(), got.end());
    }
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].midi, 28);

    for (int bad : {0, -48000, 100}) {
        listen::DetectorParams params;
        params.sampleRate = bad;
        NoteDetector inert(params);
        EXPECT_FALSE(inert.ok());
        EXPECT_TRUE(inert.feed(take.samples.data(), 4096).empty());
        EXPECT_EQ(inert.samplesFed(), 4096);
    }
    listen::DetectorParams upsideDown;
    upsideDown.lowestMidi = 68;
    upsideDown.highestMidi = 28;
    EXPECT_FALSE(NoteDetector(upsideDown).ok());
}

// aubio is not linked but opened by the first detector: the process has it mapped from then on.
TEST(NoteDetector, TheFirstDetectorOpensAubio) {
    NoteDetector detector;
    ASSERT_TRUE(detector.ok());
    std::ifstream maps("/proc/self/maps");
    const std::string text((std::istreambuf_iterator<char>(maps)),
                           std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("libaubio.so"), std::string::npos);
}

// Samples that are not numbers, or far out of range, are taken as silence or clipped.
TEST(NoteDetector, BadSamplesDoNotCrash) {
    std::vector<float> samples(static_cast<std::size_t>(rate), 0.0f);
    for (std::size_t i = 0; i < samples.size(); i += 3) {
        samples[i] = i % 2 ? std::nanf("") : (i % 5 ? 1e30f : -INFINITY);
    }
    NoteDetector detector;
    EXPECT_NO_THROW(detector.feed(samples.data(), samples.size()));
    EXPECT_TRUE(detector.feed(nullptr, 100).empty());
    EXPECT_TRUE(std::isfinite(detector.levelDb()));
}

// The tuner follows a ringing note.
TEST(NoteDetector, TunerShowsTheRingingNote) {
    bench::BassRenderer* synth = renderer(timGM);
    if (!synth) {
        GTEST_SKIP() << "TimGM6mb is not installed";
    }
    bench::TakeSpec spec;
    spec.midi = 45;
    const bench::Take take = synth->render(spec);
    NoteDetector detector;
    const std::size_t half = static_cast<std::size_t>(take.onsets[0] + rate / 2);
    detector.feed(take.samples.data(), half);
    EXPECT_EQ(detector.currentMidi(), 45);
    EXPECT_LE(std::fabs(detector.currentCents()), 50.0);
    EXPECT_GT(detector.levelDb(), -40.0);
    std::vector<float> silence(static_cast<std::size_t>(rate / 2), 0.0f);
    detector.feed(silence.data(), silence.size());
    EXPECT_EQ(detector.currentMidi(), 0);
}

} // namespace
