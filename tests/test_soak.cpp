// Soaks of the real window: every combination of the settings the lists offer through the real
// bar generators, and a long run of the beat loop with settings, keys and skins changed on the way.
#include "engine/createbar.h"
#include "engine/keys.h"
#include "engine/notes.h"
#include "stave/stave_table.h"
#include "support/window_fixture.h"
#include "ui/editcombo.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <array>
#include <chrono>
#include <fstream>
#include <malloc.h>
#include <map>
#include <random>
#include <sstream>
#include <string>

namespace {

using testing_support::WindowTest;

// ---- the sign rule, stated afresh from what a reader of the stave needs ----
//
// Each letter starts the bar with the accidental the key signature gives it.  A note shows a sign
// exactly when its own accidental differs from the one in force for its letter, and then shows its
// own accidental (a natural for a plain letter); from then on that accidental is in force for the
// letter until the bar ends.  Octaves play no part.

// The accidental the key signature gives each letter: '#', 'b' or 0.  Keys in list order: C, then
// one to seven sharps (in the order F C G D A E B), then one to seven flats (B E A D G C F).
char keyAccidental(int keyIndex, char letter) {
    static constexpr std::string_view kSharpOrder = "FCGDAEB";
    static constexpr std::string_view kFlatOrder = "BEADGCF";
    if (keyIndex >= 1 && keyIndex <= 7) {
        const auto place = kSharpOrder.find(letter);
        return place != std::string_view::npos && static_cast<int>(place) < keyIndex ? '#' : 0;
    }
    if (keyIndex >= 8 && keyIndex <= 14) {
        const auto place = kFlatOrder.find(letter);
        return place != std::string_view::npos && static_cast<int>(place) < keyIndex - 7 ? 'b' : 0;
    }
    return 0;
}

// The accidental of a name with its octave digit ("F#1" '#', "Bb0" 'b', "E2" 0).
char accidentalOf(const std::string& name) {
    return name.size() == 3 ? name[1] : 0;
}

createbar::Signs expectedSigns(const PracticeState::Bar& bar, int keyIndex) {
    std::map<char, char> inForce;
    for (const char letter : std::string_view("ABCDEFG")) {
        inForce[letter] = keyAccidental(keyIndex, letter);
    }
    createbar::Signs sign{};
    for (std::size_t p = 1; p <= 4; ++p) {
        const char letter = bar[p][0];
        const char own = accidentalOf(bar[p]);
        if (inForce[letter] != own) {
            sign[p] = own == '#' ? 1 : own == 'b' ? 2 : 3;
            inForce[letter] = own;
        }
    }
    return sign;
}

// The one kind of bar where the generator's signs differ from the rule above: the fourth note
// repeats the second note's name after the third note changed the first note's letter ("Fb", "D#",
// "F", "D#" in C): it carries its sign again, which is more than needed but reads right.
bool isRepeatAfterOtherChange(const PracticeState::Bar& bar) {
    const auto name = [&](std::size_t p) { return notes::withoutOctave(bar[p]); };
    return name(4) == name(2) && bar[3][0] == bar[1][0] && name(3) != name(1) &&
           bar[3][0] != bar[2][0];
}

std::string barText(const PracticeState::Bar& bar) {
    return bar[1] + " " + bar[2] + " " + bar[3] + " " + bar[4];
}

// The notes of the key's scale, and whether a name is one of them.
bool inScale(const std::string& name, int keyIndex) {
    return accidentalOf(name) == keyAccidental(keyIndex, name[0]);
}

// A note's own accidental as a sign: 1 sharp, 2 flat, 3 natural.
int16_t signOf(const std::string& name) {
    const char own = accidentalOf(name);
    return own == '#' ? 1 : own == 'b' ? 2 : 3;
}

const keys::KeyRows& keyRows(const stavebass& w, int keyIndex) {
    return keys::rowsOf(w.diatonics, keyIndex);
}

// Reads the laid-out waiting bar as a musician does: a shown sign sets the accidental, which then
// holds for the rest of the bar either on every line and space of that letter (byLine false) or
// only on the line or space where it stands (byLine true; a place is its sprite and row, and an
// 8va note is read where it is written).  A bare note takes the accidental in force there, or the
// key signature's.  Returns the first note that reads as another pitch than it sounds, or "".
std::string misreadNote(const stavebass& w, int keyIndex, bool byLine) {
    std::map<std::string, char> inForce;
    for (std::size_t p = 1; p <= 4; ++p) {
        const std::string& name = w.nextBar[p];
        const char letter = name[0];
        const std::string place =
            byLine ? std::to_string(w.nextBarLayout[PracticeState::kType][p]) + "/" +
                         std::to_string(w.nextBarLayout[PracticeState::kHeight][p])
                   : std::string(1, letter);
        const int16_t shown = w.nextBarLayout[PracticeState::kSign][p];
        if (shown != 0) {
            inForce[place] = shown == 1 ? '#' : shown == 2 ? 'b' : 0;
        }
        const auto held = inForce.find(place);
        const char read = held != inForce.end() ? held->second : keyAccidental(keyIndex, letter);
        if (read != accidentalOf(name)) {
            return "\"" + name + "\" reads with " +
                   (read == 0 ? std::string("no accidental") : std::string(1, read));
        }
    }
    return "";
}

class SettingsSoak : public WindowTest {};

// Every key (and none chosen), fret position, main string and string distance (each also with
// nothing chosen), odds of accidentals, and both states of "Diatonic to Key" and "Alternate from
// Index finger", through the window's own createbar2 and createbar1.  Each combination makes a few
// bars; the bars of a combination run on from those of the one before, so that over the run the
// random picks fall on every edge of every reach window.
TEST_F(SettingsSoak, EveryCombinationWritesPlayableNotesWithTheRightSigns) {
    stavebass& w = makeWindow();
    constexpr int kBarsPerCombination = 4;
    long bars = 0;
    long repeatsSigned = 0;
    long lineSigned = 0;
    int failures = 0;
    const auto report = [&](const std::string& what, const std::string& where) {
        if (++failures <= 10) {
            ADD_FAILURE() << what << " at " << where;
        }
    };
    const auto start = std::chrono::steady_clock::now();
    for (int key = -1; key <= 14; ++key) {
        w.Keysignature->setListIndex(key);
        w.Keysignature_Click();
        const int keyIndex = key < 0 ? 0 : key;
        ASSERT_EQ(w.keyIndex, keyIndex);
        for (int f = -1; f <= 11; ++f) {
            w.fretposition->setListIndex(f);
            for (int s = -1; s <= 3; ++s) {
                w.Stringchoice->setListIndex(s);
                for (int t = -1; t <= 4; ++t) {
                    w.intervaldistance->setListIndex(t);
                    for (int diatonic = 0; diatonic <= 1; ++diatonic) {
                        w.Check1->setCheckState(diatonic ? Qt::Checked : Qt::Unchecked);
                        ASSERT_EQ(w.diatonicOnly, diatonic == 1);
                        for (int a = -1; a <= 3; ++a) {
                            w.accif->setListIndex(a);
                            for (int alternate = 0; alternate <= 1; ++alternate) {
                                w.Check3->setCheckState(alternate ? Qt::Checked : Qt::Unchecked);
                                for (int b = 0; b < kBarsPerCombination; ++b) {
                                    const PracticeState::Bar waiting = w.nextBar;
                                    const PracticeState::Layout layout = w.nextBarLayout;
                                    w.createbar2();
                                    w.createbar1();
                                    ++bars;
                                    std::ostringstream where;
                                    where << "key " << key << " fret " << f << " string " << s
                                          << " distance " << t << " diatonic " << diatonic
                                          << " odds " << a << " alternate " << alternate << ": "
                                          << barText(w.nextBar);
                                    if (w.currentBar != waiting) {
                                        report("the waiting bar was not handed over", where.str());
                                    }
                                    for (std::size_t p = 1; p <= 4 && bars > 1; ++p) {
                                        for (std::size_t row = 1; row <= 3; ++row) {
                                            if (w.currentBarLayout[row][p] != layout[row][p]) {
                                                report("the layout was not handed over",
                                                       where.str());
                                            }
                                        }
                                    }
                                    const createbar::Signs want =
                                        expectedSigns(w.nextBar, keyIndex);
                                    for (std::size_t p = 1; p <= 4; ++p) {
                                        const std::string& n = w.nextBar[p];
                                        const auto number = notes::writtenNumber(n);
                                        const auto place = staveLookup(n);
                                        if (n == "Eb0" || !number || *number < 40 || *number > 80) {
                                            report("\"" + n + "\" cannot be played", where.str());
                                            continue;
                                        }
                                        if (!place) {
                                            report("\"" + n + "\" has no place", where.str());
                                            continue;
                                        }
                                        const int16_t type =
                                            w.nextBarLayout[PracticeState::kType][p];
                                        if (type < 1 || type > 4 || type != place->type ||
                                            w.nextBarLayout[PracticeState::kHeight][p] !=
                                                place->height ||
                                            w.nextBarOttava[p] != place->ottava) {
                                            report("\"" + n + "\" is laid out wrongly",
                                                   where.str());
                                        }
                                        if (diatonic && !inScale(n, keyIndex) && n != w.indexNote) {
                                            report("\"" + n + "\" is not in the key", where.str());
                                        }
                                    }
                                    if (alternate && (w.nextBar[1] != w.indexNote ||
                                                      w.nextBar[3] != w.indexNote)) {
                                        report("beats 1 and 3 are not the index note " +
                                                   w.indexNote,
                                               where.str());
                                    }
                                    // Every sign the letter rule gives stays, and each sign
                                    // shown is the note's own.
                                    const createbar::Signs table =
                                        createbar::signs(w.nextBar, keyRows(w, keyIndex));
                                    for (std::size_t p = 1; p <= 4; ++p) {
                                        const int16_t shown =
                                            w.nextBarLayout[PracticeState::kSign][p];
                                        if ((table[p] != 0 && shown != table[p]) ||
                                            (shown != 0 && shown != signOf(w.nextBar[p]))) {
                                            report("sign " + std::to_string(shown) + " at " +
                                                       std::to_string(p),
                                                   where.str());
                                        }
                                    }
                                    if (want != table && !isRepeatAfterOtherChange(w.nextBar)) {
                                        report("the letter rule's signs differ", where.str());
                                    }
                                    repeatsSigned += isRepeatAfterOtherChange(w.nextBar) ? 1 : 0;
                                    bool lineSign = false;
                                    for (std::size_t p = 1; p <= 4; ++p) {
                                        lineSign =
                                            lineSign ||
                                            w.nextBarLayout[PracticeState::kSign][p] != table[p];
                                    }
                                    lineSigned += lineSign ? 1 : 0;
                                    for (const bool byLine : {false, true}) {
                                        const std::string misread =
                                            misreadNote(w, keyIndex, byLine);
                                        if (!misread.empty()) {
                                            report(misread + (byLine ? " by its line or space"
                                                                     : " by its letter"),
                                                   where.str());
                                        }
                                    }
                                }
                            }
                        }
                    }
                }
            }
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(bars, 16L * 13 * 5 * 6 * 2 * 5 * 2 * kBarsPerCombination);
    EXPECT_EQ(failures, 0);
    std::cout << bars << " bars in " << seconds << " s; " << repeatsSigned
              << " signed a repeat of the second name again; " << lineSigned
              << " needed a sign for another octave of a letter already signed\n";
}

// The edges of the reach windows: with a generator whose every draw is the lowest or the highest
// value, each pick lands on an end of its window.  Every note there must still be playable and
// have a place on the stave.
class EdgeRandom : public RandomSource {
public:
    explicit EdgeRandom(uint32_t pattern) : pattern_(pattern) {}
    double next() override {
        const bool high = (pattern_ >> (count_++ % 32)) & 1U;
        return high ? 0.9999999 : 0.0;
    }
    void randomize(float) override {}

private:
    uint32_t pattern_;
    uint32_t count_ = 0;
};

TEST_F(SettingsSoak, EveryWindowEdgeGivesPlayableNotes) {
    stavebass& w = makeWindow();
    int failures = 0;
    for (int key = 0; key <= 14; ++key) {
        w.Keysignature->setListIndex(key);
        w.Keysignature_Click();
        for (int f = 0; f <= 11; ++f) {
            w.fretposition->setListIndex(f);
            for (int s = 0; s <= 3; ++s) {
                w.Stringchoice->setListIndex(s);
                for (int t = 0; t <= 4; ++t) {
                    w.intervaldistance->setListIndex(t);
                    for (int diatonic = 0; diatonic <= 1; ++diatonic) {
                        w.Check1->setCheckState(diatonic ? Qt::Checked : Qt::Unchecked);
                        w.accif->setListIndex(3);
                        // Low, high and mixed draws: every pick at either end of its window.
                        for (const uint32_t pattern : {0x00000000U, 0xFFFFFFFFU, 0x55555555U,
                                                       0xAAAAAAAAU, 0x33333333U, 0xCCCCCCCCU}) {
                            w.random = std::make_unique<EdgeRandom>(pattern);
                            w.createbar1();
                            for (std::size_t p = 1; p <= 4; ++p) {
                                const std::string& n = w.nextBar[p];
                                const auto number = notes::writtenNumber(n);
                                if (n == "Eb0" || !number || !staveLookup(n)) {
                                    if (++failures <= 10) {
                                        ADD_FAILURE()
                                            << '"' << n << "\" key " << key << " fret " << f
                                            << " string " << s << " distance " << t << " diatonic "
                                            << diatonic << " pattern " << std::hex << pattern;
                                    }
                                }
                            }
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(failures, 0);
}

// ---- the long run ----

long residentKiB() {
    malloc_trim(0); // what is free goes back first, so that only what is held counts
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

class LongRun : public WindowTest {};

// 10,000 beats at tempo 200 with skins, keys, hand positions and options changed at chosen
// random moments.  The beat count must run 1, 2, 3, 4 and the bars move on exactly at every fourth
// beat; the memory the process holds must stay flat.
TEST_F(LongRun, TenThousandBeatsWithSettingsChangedOnTheWay) {
    stavebass& w = makeWindow();
    w.temposcroll->setValue(200);
    ASSERT_EQ(w.tempo, 200);
    w.Start_Click();
    w.Timer1->stop(); // the test delivers the ticks itself
    std::mt19937 rng(20240601);
    const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };

    // Every picture, key and option once, so that what is loaded or cached once is in place
    // before memory is measured.
    for (int key = -1; key <= 14; ++key) {
        w.Keysignature->setListIndex(key);
        w.Keysignature_Click();
        w.onTimer1();
    }
    w.flamethrower_Click();
    w.scifi_Click();
    w.corporate_Click();
    w.industry_Click();
    for (QCheckBox* box : {w.Check1, w.Check2, w.Check3, w.Check4}) {
        box->setCheckState(Qt::Unchecked);
        for (int beat = 0; beat < 8; ++beat) {
            w.onTimer1();
        }
        box->setCheckState(Qt::Checked);
    }
    w.Stop_Click();
    w.Start_Click();
    w.Timer1->stop();
    capture.clear();
    // CLEFWORK_SOAK_BEATS runs longer, to look for slow growth by hand.
    const int totalBeats = std::max(10000, qEnvironmentVariableIntValue("CLEFWORK_SOAK_BEATS"));
    long at2000 = 0;
    int expectedBeat = w.beatNumber;
    ASSERT_EQ(expectedBeat, 1);
    for (int beat = 1; beat <= totalBeats; ++beat) {
        if (pick(25) == 0) {
            switch (pick(10)) {
            case 0:
                switch (pick(4)) {
                case 0:
                    w.flamethrower_Click();
                    break;
                case 1:
                    w.scifi_Click();
                    break;
                case 2:
                    w.corporate_Click();
                    break;
                default:
                    w.industry_Click();
                    break;
                }
                break;
            case 1:
                w.Keysignature->setListIndex(pick(16) - 1);
                w.Keysignature_Click();
                break;
            case 2:
                w.fretposition->setListIndex(pick(13) - 1);
                break;
            case 3:
                w.Stringchoice->setListIndex(pick(5) - 1);
                w.Stringchoice_Change();
                break;
            case 4:
                w.intervaldistance->setListIndex(pick(6) - 1);
                break;
            case 5:
                w.Check1->setCheckState(pick(2) ? Qt::Checked : Qt::Unchecked);
                w.accif->setListIndex(pick(5) - 1);
                break;
            case 6:
                w.Check3->setCheckState(pick(2) ? Qt::Checked : Qt::Unchecked);
                break;
            case 7:
                w.Check4->setCheckState(pick(2) ? Qt::Checked : Qt::Unchecked);
                w.aspitch->setListIndex(pick(3) - 1);
                break;
            case 8:
                w.Check2->setCheckState(pick(2) ? Qt::Checked : Qt::Unchecked);
                break;
            default:
                w.Stop_Click();
                w.Start_Click();
                w.Timer1->stop();
                expectedBeat = 1;
                break;
            }
        }
        const PracticeState::Bar waiting = w.nextBar;
        const PracticeState::Bar playing = w.currentBar;
        ASSERT_EQ(w.beatNumber, expectedBeat) << "before beat " << beat;
        w.onTimer1();
        ASSERT_EQ(w.beater->text(), QString::number(expectedBeat)) << "beat " << beat;
        if (expectedBeat == 4) {
            ASSERT_EQ(w.currentBar, waiting) << "beat " << beat;
            ASSERT_NE(w.nextBar[1], std::string()) << "beat " << beat;
        } else {
            ASSERT_EQ(w.currentBar, playing) << "beat " << beat;
            ASSERT_EQ(w.nextBar, waiting) << "beat " << beat;
        }
        expectedBeat = expectedBeat == 4 ? 1 : expectedBeat + 1;
        capture.clear(); // the captured messages are not what is measured
        if (beat == 2000) {
            at2000 = residentKiB();
        }
        if (beat % 10000 == 0 && beat > 10000) {
            std::cout << "resident memory " << residentKiB() << " KiB after " << beat << " beats\n";
        }
    }
    const long at10000 = residentKiB(); // at the end of the run
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join(QStringLiteral("; ")).toStdString();
    std::cout << "resident memory " << at2000 << " KiB after 2,000 beats, " << at10000
              << " KiB after 10,000\n";
    if (kAddressSanitizer) {
        // The sanitizer keeps freed memory in quarantine, so the resident size grows by design;
        // its leak check at exit stands in for this one.
        return;
    }
    ASSERT_GT(at2000, 0);
    EXPECT_LE(at10000 - at2000, 3 * 1024) << "memory grew over the run";
}

} // namespace
