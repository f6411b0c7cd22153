// The built-in synthesiser's soundfont: which file loads, a load off the caller's thread, a swap
// in the running synthesiser, and the Sound dialog of the window with the choice kept in
// clefwork.conf.
#include "platform/fluid_engine.h"
#include "platform/msgbox.h"
#include "support/soundfonts.h"
#include "support/window_fixture.h"
#include "ui/sounddialog.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>

using namespace platform;
using testing_support::namedSoundfont;
using testing_support::otherSoundfont;

namespace {

constexpr double rate = FluidEngine::fileSampleRate;

uint32_t pack(int status, int data1, int data2) {
    return static_cast<uint32_t>(status) | static_cast<uint32_t>(data1) << 8 |
           static_cast<uint32_t>(data2) << 16;
}

// The loudest sample of seconds rendered offline.
double renderPeak(FluidEngine& engine, double seconds) {
    const int frames = static_cast<int>(seconds * rate);
    std::vector<float> left(FluidEngine::periodSize), right(FluidEngine::periodSize);
    double peak = 0.0;
    for (int done = 0; done < frames; done += FluidEngine::periodSize) {
        engine.render(left.data(), right.data(), FluidEngine::periodSize);
        for (std::size_t i = 0; i < left.size(); ++i) {
            peak = std::max({peak, static_cast<double>(std::fabs(left[i])),
                             static_cast<double>(std::fabs(right[i]))});
        }
    }
    return peak;
}

// A picked bass note, rendered: the soundfont in use plays.
double bassNotePeak(FluidEngine& engine) {
    renderPeak(engine, 0.3); // whatever rang before dies away
    engine.send(pack(0xB0, 0, 0));
    engine.send(pack(0xC0, 34, 0));
    engine.send(pack(0x90, 40, 110));
    const double peak = renderPeak(engine, 0.3);
    engine.send(pack(0x80, 40, 0));
    return peak;
}

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        if (value.empty()) {
            unsetenv(name);
        } else {
            setenv(name, value.c_str(), 1);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Soundfont files of every kind in a folder of the test's own.
class Files {
public:
    Files() {
        own = path("own.sf2"); // a real soundfont under another name
        QFile::copy(QString::fromStdString(testing_support::timGMSoundfont),
                    QString::fromStdString(own));
        junk = path("junk.sf2");
        std::ofstream(junk) << "this is no soundfont";
        // The header of a soundfont and a part of its samples: the rest of the file is gone.
        truncated = path("truncated.sf2");
        std::ifstream in(testing_support::timGMSoundfont, std::ios::binary);
        std::vector<char> head(200000);
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        std::ofstream(truncated, std::ios::binary)
            .write(head.data(), static_cast<std::streamsize>(in.gcount()));
        missing = path("gone.sf2");
        folder = dir.path().toStdString();
    }
    std::string path(const char* name) const { return dir.filePath(name).toStdString(); }

    QTemporaryDir dir;
    std::string own, junk, truncated, missing, folder;
};

bool bothInstalled() {
    return std::filesystem::exists(testing_support::timGMSoundfont) && !namedSoundfont().empty();
}

class SoundfontTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bothInstalled()) {
            GTEST_SKIP() << "TimGM6mb (timgm6mb-soundfont) is not installed.";
        }
        FluidEngine::silenceLog();
    }
    void TearDown() override { setChosenSoundfont(""); }
    Files files;
};

// ---------------------------------------------------------------------------------------------
// Which file loads

TEST_F(SoundfontTest, CandidateOrder) {
    struct Case {
        const char* what;
        std::string chosen, env;
        std::string loads;   // "" when the load fails
        std::string refused; // the chosen file passed over
    };
    const std::string fallback = namedSoundfont();
    const Case cases[] = {
        {"nothing set: the first named package", "", "", fallback, ""},
        {"the environment's file", "", files.own, files.own, ""},
        {"the environment's file missing: passed over", "", files.missing, fallback, ""},
        {"the environment's file no soundfont: a failure, said", "", files.junk, "", ""},
        {"the chosen file", files.own, "", files.own, ""},
        {"the chosen file before the environment's", files.own, fallback, files.own, ""},
        {"the chosen file vanished", files.missing, "", fallback, files.missing},
        {"the chosen file no soundfont", files.junk, "", fallback, files.junk},
        {"the chosen file truncated", files.truncated, "", fallback, files.truncated},
        {"the chosen file truncated, the environment's next", files.truncated, files.own, files.own,
         files.truncated},
        {"the chosen file a folder", files.folder, "", fallback, files.folder},
    };
    for (const bool background : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (background ? ", in the background" : ""));
            const ScopedEnv env("CLEFWORK_SOUNDFONT", c.env);
            setChosenSoundfont(c.chosen);
            FluidEngine engine;
            std::string error;
            bool ok = background ? engine.loadInBackground(error, rate) : engine.load(error, rate);
            if (ok && background) {
                ASSERT_TRUE(engine.waitForSoundfont(30000));
                ok = engine.lastReport().ok;
                error = engine.lastReport().error;
            }
            EXPECT_EQ(ok, !c.loads.empty()) << error;
            if (c.loads.empty()) {
                EXPECT_NE(error.find(c.env), std::string::npos) << error;
                continue;
            }
            EXPECT_TRUE(engine.soundfontReady());
            EXPECT_EQ(engine.soundfontPath(), c.loads);
            EXPECT_EQ(engine.lastReport().refused, c.refused);
            if (!c.refused.empty()) {
                EXPECT_FALSE(engine.lastReport().error.empty()) << "no reason for the refusal";
            }
            EXPECT_GT(bassNotePeak(engine), 0.05) << "silent";
        }
    }
    for (const std::string& file : FluidEngine::soundfontCandidates()) {
        EXPECT_EQ(file.find("default-GM"), std::string::npos) << file;
    }
}

// ---------------------------------------------------------------------------------------------
// Messages before the soundfont is there, and swaps in the running synthesiser

TEST_F(SoundfontTest, MessagesBeforeTheSoundfontHoldAndItsNotesStaySilent) {
    // The parse is held until the messages are sent: a slow disk, a large soundfont.
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    setSoundfontHook({});
    FluidEngine::setBeforeParseHook([gate] { gate.wait(); });
    const ScopedEnv env("CLEFWORK_SOUNDFONT", files.own);
    FluidEngine engine;
    std::string error;
    ASSERT_TRUE(engine.loadInBackground(error, rate)) << error;
    EXPECT_FALSE(engine.soundfontReady());
    for (const uint32_t m : {pack(0xB0, 7, 90), pack(0xB0, 0, 0), pack(0xC0, 34, 0),
                             pack(0x99, 36, 127), pack(0x90, 40, 127)}) {
        EXPECT_TRUE(engine.send(m)) << std::hex << m;
    }
    EXPECT_LT(renderPeak(engine, 0.1), 1e-6) << "a note sounded without a soundfont";
    release.set_value();
    ASSERT_TRUE(engine.waitForSoundfont(30000));
    FluidEngine::setBeforeParseHook({});
    ASSERT_TRUE(engine.soundfontReady());
    int sfont = 0, bank = -1, program = -1, volume = -1;
    fluid_synth_get_program(engine.synth(), 0, &sfont, &bank, &program);
    fluid_synth_get_cc(engine.synth(), 0, 7, &volume);
    EXPECT_EQ(program, 34);
    EXPECT_EQ(volume, 90);
    EXPECT_LT(renderPeak(engine, 0.1), 1e-6) << "the early notes sounded late";
    // The drum kit is ready without a note through send(): scheduled clicks do not pass there.
    EXPECT_NE(fluid_synth_get_channel_preset(engine.synth(), 9), nullptr);
    engine.send(pack(0x99, 36, 127));
    EXPECT_GT(renderPeak(engine, 0.2), 0.05);
}

TEST_F(SoundfontTest, ABrokenSoundfontIsRefusedAndTheOldOneKeepsPlaying) {
    FluidEngine engine;
    std::string error;
    ASSERT_TRUE(engine.loadFile(namedSoundfont(), error, rate)) << error;
    ASSERT_GT(bassNotePeak(engine), 0.05);
    struct Case {
        const char* what;
        std::string file;
        bool loads;
    };
    const Case cases[] = {
        {"no soundfont", files.junk, false}, {"truncated", files.truncated, false},
        {"vanished", files.missing, false},  {"a folder", files.folder, false},
        {"a good one", files.own, true},     {"back to the first", namedSoundfont(), true},
    };
    std::string inUse = namedSoundfont();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        engine.send(pack(0xB0, 7, 80)); // the channels keep what they were told
        EXPECT_EQ(engine.swapSoundfont(c.file, error), c.loads) << error;
        if (c.loads) {
            inUse = c.file;
        } else {
            EXPECT_FALSE(error.empty());
        }
        EXPECT_EQ(engine.soundfontPath(), inUse);
        int volume = -1;
        fluid_synth_get_cc(engine.synth(), 0, 7, &volume);
        EXPECT_EQ(volume, 80);
        EXPECT_GT(bassNotePeak(engine), 0.05) << "silent after the swap";
    }
}

// ---------------------------------------------------------------------------------------------
// The Sound dialog of the window

TEST(SoundDialogList, InstalledSoundfontsOncePerFile) {
    QTemporaryDir a, b;
    for (const char* name : {"one.sf2", "two.SF3", "three.sf3", "notes.txt"}) {
        QFile f(a.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QFile::link(a.filePath("one.sf2"), b.filePath("default-GM.sf2")); // as Debian's alternatives
    QFile::link(a.filePath("gone.sf2"), b.filePath("dangling.sf2"));
    QFile lone(b.filePath("four.sf2"));
    ASSERT_TRUE(lone.open(QIODevice::WriteOnly));
    const QStringList found =
        SoundDialog::installedSoundfonts({a.path(), b.path(), a.filePath("missing-folder")});
    EXPECT_EQ(found.join("\n").toStdString(),
              QStringList({b.filePath("four.sf2"), a.filePath("one.sf2"), a.filePath("three.sf3"),
                           a.filePath("two.SF3")})
                  .join("\n")
                  .toStdString());
}

class SoundWindowTest : public testing_support::WindowTest {
protected:
    void SetUp() override {
        if (!bothInstalled()) {
            GTEST_SKIP() << "TimGM6mb (timgm6mb-soundfont) is not installed.";
        }
        WindowTest::SetUp();
        // QSettings works its folders out once per process: name this test's.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
        std::string error;
        ASSERT_TRUE(synth.loadFile(namedSoundfont(), error, rate)) << error;
        setBuiltInSynth(&synth);
    }
    void TearDown() override {
        window.reset();
        setBuiltInSynth(nullptr);
        setChosenSoundfont("");
        SoundDialog::filePicker() = {};
        WindowTest::TearDown();
    }
    QString remembered() const {
        return QSettings("clefwork", "clefwork").value("sound/soundfont").toString();
    }
    // Opens Practice, Sound…, picks file through "Other File…" and presses OK.
    void choose(const std::string& file) {
        SoundDialog::filePicker() = [file](QWidget*) { return QString::fromStdString(file); };
        bool seen = false;
        QTimer::singleShot(0, [&seen] {
            auto* dialog = qobject_cast<SoundDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                return;
            }
            seen = true;
            dialog->otherFile->click();
            dialog->accept();
        });
        window->soundchoice->trigger();
        EXPECT_TRUE(seen) << "no Sound dialog";
    }
    QTemporaryDir config;
    FluidEngine synth; // the built-in synthesiser, rendered offline
    Files files;
};

TEST_F(SoundWindowTest, TheChoiceLoadsSelectsTheBassAgainAndIsKeptAcrossARestart) {
    makeWindow();
    capture.clear();
    choose(files.own);
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join("\n").toStdString();
    EXPECT_EQ(synth.soundfontPath(), files.own);
    EXPECT_EQ(remembered().toStdString(), files.own);
    using testing_support::msg;
    EXPECT_EQ(sent(), (std::vector<uint32_t>{msg(0xB0, 0, 0), msg(0xC0, 34, 0)}));
    EXPECT_GT(bassNotePeak(synth), 0.05);

    // The window made again, as at the next start, passes the choice to the synthesiser.
    window.reset();
    setChosenSoundfont("");
    makeWindow();
    EXPECT_EQ(chosenSoundfont(), files.own);
    FluidEngine next;
    std::string error;
    ASSERT_TRUE(next.load(error, rate)) << error;
    EXPECT_EQ(next.soundfontPath(), files.own);
}

TEST_F(SoundWindowTest, ABrokenChoiceIsRefusedWithAMessageAndTheSoundPlaysOn) {
    makeWindow();
    for (const std::string& file : {files.junk, files.truncated, files.missing}) {
        SCOPED_TRACE(file);
        boxes.clear();
        capture.clear();
        choose(file);
        ASSERT_EQ(boxes.size(), 1);
        EXPECT_TRUE(boxes[0].contains(QString::fromStdString(file))) << boxes[0].toStdString();
        EXPECT_TRUE(boxes[0].contains("could not be loaded")) << boxes[0].toStdString();
        EXPECT_EQ(synth.soundfontPath(), namedSoundfont());
        EXPECT_TRUE(remembered().isEmpty()) << "a refused file was remembered";
        EXPECT_TRUE(sent().empty());
        EXPECT_GT(bassNotePeak(synth), 0.05) << "the synthesiser fell silent";
    }
}

TEST_F(SoundWindowTest, ARememberedSoundfontThatIsGoneFallsBackWithAMessage) {
    QSettings("clefwork", "clefwork")
        .setValue("sound/soundfont", QString::fromStdString(files.junk));
    makeWindow(false);
    // The synthesiser opens as the window loads and parses on its own thread.
    FluidEngine starting;
    std::string error;
    ASSERT_TRUE(starting.loadInBackground(error, rate)) << error;
    ASSERT_TRUE(starting.waitForSoundfont(30000));
    EXPECT_EQ(starting.soundfontPath(), namedSoundfont());
    handOver();
    EXPECT_TRUE(QTest::qWaitFor([this] { return !boxes.isEmpty(); }, 2000));
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].contains("junk.sf2")) << boxes[0].toStdString();
    EXPECT_TRUE(boxes[0].contains(
        QString::fromStdString(std::filesystem::path(namedSoundfont()).filename().string())))
        << boxes[0].toStdString();
    EXPECT_GT(bassNotePeak(starting), 0.05);
}

} // namespace
