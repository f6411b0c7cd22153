// The note layer on short frame sequences: what a bassist hears from the frames' evidence.
#include "listen/note_layer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int kLow = 28;
constexpr int kHigh = 68;
constexpr int64_t kHop = 256;

// A stretch of frames: these pitches at these saliences (periodic power rising or falling by
// `gain` a frame), a pluck in its first frame when pluck > 0.  A string plucked again fills the
// analysis window with its louder sound over a dozen frames: 1.1 a frame is about 6 dB.
struct Stretch {
    int frames;
    std::vector<std::pair<int, double>> pitches;
    double pluck = 0.0;
    double gain = 1.0;
    double power = 1.0; // the frames' power
};

struct Heard {
    int midi;
    int64_t onsetFrame; // the frame of the pluck (or, without one, where the note first showed)
};

struct LayerCase {
    std::string name;
    std::vector<Stretch> stretches;
    std::vector<Heard> heard;
};

std::vector<listen::LayerNote> run(const std::vector<Stretch>& stretches) {
    listen::NoteLayerParams params;
    listen::NoteLayer layer(params);
    std::vector<listen::LayerNote> notes;
    int64_t frame = 0;
    std::vector<double> periodic(kHigh - kLow + 1, 0.0);
    const auto push = [&](listen::LayerFrame f) {
        for (const auto& n : layer.push(f)) {
            notes.push_back(n);
        }
    };
    for (const Stretch& s : stretches) {
        for (int i = 0; i < s.frames; ++i, ++frame) {
            listen::LayerFrame f;
            f.endSample = (frame + 1) * kHop;
            f.salience.assign(periodic.size(), 0.0);
            f.pitch.assign(periodic.size(), 0.0);
            for (auto& v : periodic) {
                v *= s.gain;
            }
            for (const auto& [midi, salience] : s.pitches) {
                const auto k = static_cast<std::size_t>(midi - kLow);
                f.salience[k] = salience;
                f.pitch[k] = midi + 0.1;
                if (i == 0) {
                    periodic[k] = std::max(periodic[k], 0.01);
                }
            }
            f.periodic = periodic;
            f.power = s.power;
            if (i == 0 && s.pluck > 0.0) {
                f.pluck = s.pluck;
                f.pluckSample = frame * kHop + 10;
            }
            push(f);
        }
    }
    for (int i = 0; i < 20; ++i, ++frame) { // silence to flush the lag
        listen::LayerFrame f;
        f.endSample = (frame + 1) * kHop;
        f.salience.assign(periodic.size(), 0.0);
        f.pitch.assign(periodic.size(), 0.0);
        f.periodic.assign(periodic.size(), 0.0);
        push(f);
    }
    return notes;
}

TEST(NoteLayer, FramesBecomeTheNotesABassistHears) {
    const std::vector<LayerCase> cases = {
        {"a plucked note", {{5, {}}, {20, {{40, 0.9}}, 1.0}}, {{40, 5}}},
        {"mains hum alone, never plucked", {{200, {{31, 0.95}}}}, {}},
        {"a ghost note: a pluck with no pitch", {{5, {}}, {20, {}, 1.0}}, {}},
        {"a click: a pluck and two frames of pitch",
         {{5, {}}, {2, {{50, 0.8}}, 1.0}, {20, {}}},
         {}},
        {"a slide from two frets below settles on its note",
         {{5, {}}, {2, {{38, 0.8}}, 1.0}, {2, {{39, 0.8}}}, {20, {{40, 0.9}}}},
         {{40, 5}}},
        {"a note let ring into the next, plucked",
         {{5, {}}, {30, {{40, 0.9}}, 1.0}, {4, {{40, 0.5}, {45, 0.6}}, 0.4}, {30, {{45, 0.9}}}},
         {{40, 5}, {45, 35}}},
        {"a hammer-on: the new pitch without a pluck",
         {{5, {}}, {30, {{40, 0.9}}, 1.0}, {40, {{42, 0.9}}}},
         {{40, 5}, {42, 35}}},
        {"the same note plucked again, louder than it rang",
         {{5, {}}, {30, {{40, 0.9}}, 1.0}, {30, {{40, 0.9}}, 1.0, 1.1}},
         {{40, 5}, {40, 35}}},
        {"a release's thump on the ringing note is no new note",
         {{5, {}}, {30, {{40, 0.9}}, 1.0}, {30, {{40, 0.9}}, 1.0, 0.9}},
         {{40, 5}}},
        {"a note left for silence, back as the next is let go, without a pluck",
         {{5, {}}, {30, {{40, 0.9}}, 1.0}, {5, {}}, {20, {{40, 0.8}}}},
         {{40, 5}}},
        {"a pluck on a note ringing under the held one, which does not rise",
         {{5, {}},
          {30, {{33, 0.9}}, 1.0},
          {30, {{45, 0.9}, {33, 0.3}}, 1.0},
          {30, {{33, 0.9}}, 0.5, 0.95}},
         {{33, 5}, {45, 35}}},
        {"a pluck on a note ringing under the held one, which rises",
         {{5, {}},
          {30, {{33, 0.9}}, 1.0},
          {30, {{45, 0.9}, {33, 0.3}}, 1.0},
          {30, {{33, 0.9}}, 0.5, 1.1}},
         {{33, 5}, {45, 35}, {33, 65}}},
        {"an attack that sounds on for 30 frames before its pitch shows",
         {{5, {}}, {30, {}, 1.0}, {20, {{40, 0.9}}}},
         {{40, 5}}},
        {"a thump gone before a pitch shows starts no note",
         {{5, {}}, {4, {}, 1.0}, {26, {}, 0.0, 1.0, 0.01}, {20, {{40, 0.9}}, 0.0, 1.0, 0.01}},
         {}},
        {"a ghost note's thump over a ringing note, lost for a few frames under it",
         {{5, {}}, {30, {{40, 0.9}}, 1.0}, {4, {}, 1.0}, {20, {{40, 0.9}}}},
         {{40, 5}}},
        {"a note let go and plucked again after a few frames of silence",
         {{5, {}}, {30, {{40, 0.9}}, 1.0}, {4, {}, 0.0, 0.5}, {20, {{40, 0.9}}, 1.0, 2.0}},
         {{40, 5}, {40, 39}}},
        {"a note and its decay into silence, then another",
         {{5, {}}, {30, {{33, 0.9}}, 1.0}, {10, {{33, 0.2}}}, {20, {}}, {20, {{52, 0.7}}, 0.8}},
         {{33, 5}, {52, 65}}},
    };
    for (const LayerCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto notes = run(c.stretches);
        ASSERT_EQ(notes.size(), c.heard.size());
        for (std::size_t i = 0; i < notes.size(); ++i) {
            EXPECT_EQ(notes[i].midi, c.heard[i].midi) << "note " << i;
            // A pluck places the note on it; without one, within the frames it took to show.
            EXPECT_NEAR(static_cast<double>(notes[i].onsetSample), c.heard[i].onsetFrame * kHop,
                        8.0 * kHop)
                << "note " << i;
            EXPECT_NEAR(notes[i].cents, 10.0, 1e-6) << "note " << i;
        }
    }
}

} // namespace
