// The tempo trainer: its rules over scripted bars, and on the window, where it moves the tempo
// bar at the end of a bar exactly as the player would.
#include "engine/rounding.h"
#include "listen/trainer.h"
#include "platform/audio_input.h"
#include "support/window_fixture.h"
#include "ui/trainerdialog.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>

namespace {

using listen::BarVerdicts;
using listen::TrainerMode;
using listen::TrainerSettings;
using testing_support::WindowTest;

TEST(TrainerRules, BothModesOverScriptedBars) {
    const std::optional<BarVerdicts> allRight = BarVerdicts{4, 0}, oneOff = BarVerdicts{3, 1},
                                     twoOff = BarVerdicts{2, 2}, allOff = BarVerdicts{0, 4},
                                     none = std::nullopt;
    struct Case {
        const char* what;
        TrainerSettings settings;
        int start;
        int tempo;
        listen::TempoRange range;
        std::vector<std::optional<BarVerdicts>> bars;
        std::vector<int> tempos; // after each bar
    };
    const TrainerSettings every2{120, 4, TrainerMode::EveryBars, 2};
    const TrainerSettings every1to120{120, 8, TrainerMode::EveryBars, 1};
    const TrainerSettings every1to200{200, 10, TrainerMode::EveryBars, 1};
    const TrainerSettings follow{72, 4, TrainerMode::FollowMe, 2};
    const Case cases[] = {
        {"every 2 bars", every2, 96, 96, {}, std::vector(6, none), {96, 100, 100, 104, 104, 108}},
        {"the target is reached, not passed",
         every1to120,
         110,
         110,
         {},
         std::vector(3, none),
         {118, 120, 120}},
        {"the tempo bar's maximum", every1to200, 190, 196, {}, std::vector(2, none), {200, 200}},
        {"a narrower tempo bar",
         every1to200,
         170,
         176,
         {30, 180},
         std::vector(2, none),
         {180, 180}},
        {"a tempo above the target stays",
         every1to120,
         60,
         130,
         {},
         std::vector(2, none),
         {130, 130}},
        {"follow me",
         follow,
         60,
         60,
         {},
         {allRight, none, oneOff, twoOff, allOff, allRight, allRight, allRight, allRight,
          BarVerdicts{0, 0}},
         {64, 64, 64, 60, 60, 64, 68, 72, 72, 72}},
        {"follow me never below its start",
         TrainerSettings{72, 10, TrainerMode::FollowMe, 1},
         66,
         74,
         {},
         {allOff, allOff, allRight},
         {66, 66, 72}},
        {"nor below the tempo bar's minimum",
         TrainerSettings{72, 10, TrainerMode::FollowMe, 1},
         20,
         34,
         {},
         {allOff, allOff},
         {30, 30}},
        {"a tempo the player put below the start stays", follow, 96, 90, {}, {allOff}, {90}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        listen::TrainerRun run{c.start, 0};
        int tempo = c.tempo;
        std::vector<int> tempos;
        for (const auto& bar : c.bars) {
            const std::optional<int> next = listen::nextTempo(c.settings, run, tempo, bar, c.range);
            EXPECT_NE(next, tempo) << "a move that changes nothing is no move";
            tempo = next.value_or(tempo);
            tempos.push_back(tempo);
        }
        EXPECT_EQ(tempos, c.tempos);
    }
}

TEST(TrainerRules, SettingsFromAnywhereAreBroughtIntoRangeAndShown) {
    struct Case {
        TrainerSettings in;
        TrainerSettings out;
    };
    const Case cases[] = {
        {{500, 1, TrainerMode::EveryBars, 0}, {200, 2, TrainerMode::EveryBars, 1}},
        {{10, 99, static_cast<TrainerMode>(7), 99}, {30, 10, TrainerMode::EveryBars, 16}},
        {{96, 6, TrainerMode::FollowMe, 3}, {96, 6, TrainerMode::FollowMe, 3}},
    };
    for (const Case& c : cases) {
        const TrainerSettings s = c.in.sanitized({30, 200});
        EXPECT_EQ(std::tie(s.target, s.step, s.mode, s.bars),
                  std::tie(c.out.target, c.out.step, c.out.mode, c.out.bars));
    }
    struct Text {
        TrainerSettings settings;
        int tempo;
        bool listening;
        const char* text;
    };
    const Text texts[] = {
        {{120, 4, TrainerMode::EveryBars, 2},
         96,
         false,
         "Tempo trainer: 96 \u2192 120, +4 every 2 bars"},
        {{120, 4, TrainerMode::EveryBars, 1},
         96,
         false,
         "Tempo trainer: 96 \u2192 120, +4 every bar"},
        {{120, 4, TrainerMode::FollowMe, 2},
         96,
         true,
         "Tempo trainer: 96 \u2192 120, +4 follow me"},
        {{120, 4, TrainerMode::FollowMe, 2},
         96,
         false,
         "Tempo trainer: 96 \u2192 120, +4 follow me (waits for listening)"},
        {{120, 10, TrainerMode::EveryBars, 2},
         120,
         false,
         "Tempo trainer: 120 \u2192 120, +10 every 2 bars (target reached)"},
    };
    for (const Text& t : texts) {
        EXPECT_EQ(listen::trainerText(t.settings, t.tempo, t.listening), t.text);
    }
}

class Trainer : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
        qunsetenv("CLEFWORK_LISTEN_FILE");
        stavebass::historyPath() = [this] { return config.path() + "/history.sqlite"; };
        stavebass::inputsFactory() = [this] {
            auto inputs = std::make_unique<platform::ScriptedInputs>();
            inputs->setDevices({{{"midi:Bass", "Bass (MIDI)", platform::InputKind::Midi}, {}, {}}});
            scripted = inputs.get();
            return inputs;
        };
    }
    void TearDown() override {
        WindowTest::TearDown();
        stavebass::inputsFactory() = nullptr;
    }
    // After the tick that ends a bar: the tempo bar, the tempo box and the interval are those
    // of a player's move to `tempo`, and the beats follow it.
    void expectTempo(const stavebass& w, int tempo) {
        EXPECT_EQ(w.temposcroll->value(), tempo);
        EXPECT_EQ(w.tempo, tempo);
        EXPECT_EQ(w.tempolabel->text(), QString::number(tempo));
        EXPECT_EQ(w.timerInterval, divRoundHalfEven(kMillisPerMinute, tempo));
        EXPECT_EQ(w.beatClock.tempo(), tempo) << "the beats follow from the next one";
    }
    QTemporaryDir config;
    platform::ScriptedInputs* scripted = nullptr;
};

TEST_F(Trainer, EveryBarsMovesTheTempoBarAtTheBarsEndAndIsOffAtEveryStart) {
    stavebass& w = makeWindow();
    ASSERT_TRUE(w.practice->actions().contains(w.tempotrainer));
    EXPECT_EQ(w.tempotrainer->text(), QString::fromUtf8("Tempo Trainer\u2026"));
    EXPECT_FALSE(w.trainerOn);
    w.Start_Click();
    w.Timer1->stop();
    tick(8);
    EXPECT_EQ(w.tempo, 60) << "off, the trainer moves nothing";
    EXPECT_TRUE(w.findChildren<QStatusBar*>().isEmpty());

    QTimer::singleShot(0, [&] {
        auto* dialog = w.findChild<TrainerDialog*>();
        ASSERT_NE(dialog, nullptr);
        EXPECT_FALSE(dialog->followMe->isEnabled()) << "follow me needs listening";
        dialog->onBox->setChecked(true);
        dialog->target->setValue(70);
        dialog->step->setValue(4);
        dialog->bars->setValue(1);
        dialog->accept();
    });
    w.tempotrainer->trigger();
    ASSERT_TRUE(w.trainerOn);
    ASSERT_TRUE(w.statusBar()->isVisible());
    EXPECT_EQ(w.trainerLabel->text(),
              QString::fromUtf8("Tempo trainer: 60 \u2192 70, +4 every bar"));
    const int after[] = {64, 68, 70, 70};
    for (int tempo : after) {
        tick(3);
        EXPECT_EQ(w.beatNumber, 4);
        const int before = w.tempo;
        tick();
        SCOPED_TRACE(tempo);
        if (tempo != before) {
            expectTempo(w, tempo);
        }
        EXPECT_EQ(w.tempo, tempo);
    }
    EXPECT_TRUE(w.trainerLabel->text().endsWith("(target reached)"));
    // The player's own move shows in the status bar too.
    w.temposcroll->setValue(50);
    EXPECT_TRUE(w.trainerLabel->text().startsWith(QString::fromUtf8("Tempo trainer: 50 \u2192")));

    // Kept for the next start, where the trainer is off again.
    window.reset();
    stavebass& again = makeWindow();
    EXPECT_FALSE(again.trainerOn);
    QTimer::singleShot(0, [&] {
        auto* dialog = again.findChild<TrainerDialog*>();
        ASSERT_NE(dialog, nullptr);
        EXPECT_FALSE(dialog->onBox->isChecked());
        EXPECT_EQ(dialog->target->value(), 70);
        EXPECT_EQ(dialog->bars->value(), 1);
        dialog->reject();
    });
    again.tempotrainer->trigger();
    EXPECT_FALSE(again.trainerOn);
}

TEST_F(Trainer, FollowMeDecidesOnEachBarOnceItsVerdictsAreIn) {
    stavebass& w = makeWindow();
    w.listenbass->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return scripted->running(); }, 2000));
    w.Start->click();
    w.Timer1->stop();
    tick(8); // from here on the bars are drawn and judged
    TrainerDialog dialog(w.trainerSettings, false, true, {30, 200}, &w);
    EXPECT_TRUE(dialog.followMe->isEnabled());
    w.settrainer(true, {72, 4, TrainerMode::FollowMe, 2});
    EXPECT_EQ(w.trainerLabel->text(),
              QString::fromUtf8("Tempo trainer: 60 \u2192 72, +4 follow me"));

    using V = listen::Verdict;
    struct Bar {
        std::array<V, 4> verdicts;
        int tempo; // at the end of the bar after it
    };
    const Bar bars[] = {
        {{V::Right, V::Right, V::Right, V::Right}, 64},
        {{V::Right, V::Late, V::Right, V::Right}, 64},
        {{V::Wrong, V::Right, V::Missed, V::Right}, 60},
        {{V::Missed, V::Missed, V::Early, V::Octave}, 60},
        {{V::Right, V::Right, V::Right, V::Right}, 64},
        {{V::Right, V::Right, V::Right, V::Right}, 68},
        {{V::Right, V::Right, V::Right, V::Right}, 72},
        {{V::Right, V::Right, V::Right, V::Right}, 72},
    };
    std::vector<int64_t> pending; // the beats of the bar before, their verdicts still to come
    const Bar* previous = nullptr;
    for (const Bar& bar : bars) {
        std::vector<int64_t> beats;
        for (int b = 1; b <= 4; ++b) {
            const int64_t before = w.beatSerial;
            const int tempoBefore = w.tempo;
            tick();
            if (w.tempo != tempoBefore) {
                EXPECT_EQ(b, 4) << "the tempo moves only at the end of a bar";
                expectTempo(w, w.tempo);
            }
            // The matcher's own verdicts would come from the clock; these bars are scripted.
            w.matcher.reset();
            ASSERT_EQ(w.beatSerial, before + 1) << "every beat of a drawn bar is judged";
            beats.push_back(before);
            if (b == 1 && previous != nullptr) {
                // The bar before is judged during this one, its last beat after this first beat.
                for (std::size_t k = 0; k < 4; ++k) {
                    w.applyjudgements({{pending[k], previous->verdicts[k], 0, 0.0}});
                }
            }
        }
        if (previous != nullptr) {
            SCOPED_TRACE(previous - bars);
            EXPECT_EQ(w.tempo, previous->tempo);
            EXPECT_EQ(w.tempolabel->text(), QString::number(previous->tempo));
        }
        previous = &bar;
        pending = beats;
    }
    w.listenbass->trigger();
    EXPECT_TRUE(w.statusBar()->isVisible()) << "the trainer keeps the status bar";
    EXPECT_TRUE(w.trainerLabel->text().contains("(waits for listening)"));
    w.Stop_Click();
}

TEST_F(Trainer, TheStatusBarShowsEveryTextWhole) {
    stavebass& w = makeWindow();
    w.show();
    const int width = w.width();
    struct Shown {
        const char* what;
        bool listening;
        bool trainer;
    };
    const Shown cases[] = {
        {"listening", true, false},
        {"the trainer", false, true},
        {"both", true, true},
    };
    for (const Shown& c : cases) {
        SCOPED_TRACE(c.what);
        if (w.listenbass->isChecked() != c.listening) {
            w.listenbass->trigger();
        }
        w.settrainer(c.trainer, {200, 10, TrainerMode::FollowMe, 2});
        if (c.listening) {
            // The longest the score and the tuner say.
            w.score.barJudged = w.score.barRight = 4;
            w.score.judged = 12345;
            w.score.right = 12000;
            w.score.streak = 1234;
            w.score.bestStreak = 5678;
            w.score.rightOffsetsMs = {-149.0};
            w.showscore();
            w.levelheard(-88.0, 53, -49.0);
        }
        w.temposcroll->setValue(188);
        for (int i = 0; i < 4; ++i) { // the layouts settle, row by row
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(w.width(), width) << "the window keeps its width";
        std::vector<QLabel*> labels;
        if (c.listening) {
            labels = {w.tuner, w.scoreLabel};
        }
        if (c.trainer) {
            labels.push_back(w.trainerLabel);
        }
        for (QLabel* label : labels) {
            SCOPED_TRACE(label->text().toStdString());
            EXPECT_TRUE(label->isVisibleTo(&w));
            EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()))
                << "cut off";
            EXPECT_GE(label->height(), label->fontMetrics().height()) << "cut off";
            const QRect onWindow(label->mapTo(&w, QPoint()), label->size());
            EXPECT_TRUE(w.rect().contains(onWindow));
            for (QLabel* other : labels) {
                const QRect otherOnWindow(other->mapTo(&w, QPoint()), other->size());
                EXPECT_TRUE(other == label || !onWindow.intersects(otherOnWindow))
                    << "over " << other->text().toStdString();
            }
        }
    }
}

} // namespace
