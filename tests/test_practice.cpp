// The Practice menu's listening: off and invisible by default, the tuner in the status bar while
// on, failures that switch it off with a message, and the chosen input remembered.
#include "engine/notes.h"
#include "history/store.h"
#include "platform/clock.h"
#include "sound/midi_out.h"
#include "support/window_fixture.h"
#include "ui/inputdialog.h"
#include "ui/tunertext.h"

#include "ui/calibrationdialog.h"
#include "ui/clientarea.h"
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlQuery>

namespace {

using testing_support::WindowTest;

TEST(TunerText, NamesTheWrittenNoteWithItsCents) {
    struct Case {
        int midi;
        double cents;
        const char* text;
    };
    const Case cases[] = {{28, 0.2, "E0 in tune"},
                          {27, 4.0, "D#-1 +4 cents"},
                          {40, -12.4,
                           "E1 \u2212"
                           "12 cents"},
                          {46, 49.0, "A#1 +49 cents"},
                          {68, 0.0, "G#3 in tune"},
                          {36, -3.0,
                           "C0 \u2212"
                           "3 cents"}};
    for (const Case& c : cases) {
        EXPECT_EQ(tunerNoteText(c.midi, c.cents), QString::fromUtf8(c.text)) << c.midi;
    }
}

class Practice : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        // QSettings works its folders out once per process: name this test's.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
        qunsetenv("CLEFWORK_LISTEN_FILE");
        stavebass::historyPath() = [this] { return config.path() + "/history.sqlite"; };
        stavebass::inputsFactory() = [this] {
            auto inputs = std::make_unique<platform::ScriptedInputs>();
            inputs->setDevices(
                {{{"midi:Bass", "Bass (MIDI)", platform::InputKind::Midi}, {}, {}},
                 {{"loopback", "Clefwork's own sound", platform::InputKind::Loopback}, {}, {}}});
            scripted = inputs.get();
            return inputs;
        };
    }
    void TearDown() override {
        WindowTest::TearDown();
        stavebass::inputsFactory() = nullptr;
        stavebass::historyPath() = [] { return history::defaultPath(); };
    }
    QTemporaryDir config;
    platform::ScriptedInputs* scripted = nullptr;
};

TEST_F(Practice, OffByDefaultThenTheTunerShowsWhatIsHeard) {
    stavebass& w = makeWindow();
    QStringList menus;
    for (QAction* a : w.menuBar()->actions()) {
        menus << a->text();
    }
    EXPECT_EQ(menus, (QStringList{"Clefwork", "Skins", "Practice", "Help"}));
    EXPECT_FALSE(w.listenbass->isChecked());
    EXPECT_EQ(w.listener, nullptr) << "nothing of listening exists until it is turned on";
    EXPECT_TRUE(w.findChildren<QStatusBar*>().isEmpty());

    w.listenbass->trigger();
    ASSERT_TRUE(w.listenbass->isChecked());
    ASSERT_TRUE(QTest::qWaitFor([&] { return scripted->running(); }, 2000));
    EXPECT_EQ(scripted->runningId(), "midi:Bass") << "the first input when none was chosen";
    EXPECT_TRUE(w.statusBar()->isVisible());
    scripted->pushNote({platform::monotonicNanos(), 33, 100}); // the open A string, written A0
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.tuner->text().contains("A0 in tune"); }, 2000))
        << w.tuner->text().toStdString();

    // The input goes away: one message, listening off, the status bar gone, the beat untouched.
    w.Start_Click();
    scripted->fail({platform::InputFailure::Gone, "The input \"Bass\" has gone away."});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.listenbass->isChecked(); }, 2000));
    EXPECT_EQ(boxes, QStringList{"The input \"Bass\" has gone away."})
        << boxes.join("|").toStdString();
    EXPECT_FALSE(w.statusBar()->isVisible());
    EXPECT_TRUE(w.Timer1->isActive());
    w.Stop_Click();
}

TEST_F(Practice, TheInputChosenIsRememberedAndUsed) {
    stavebass& w = makeWindow();
    w.ensurelistener();
    {
        InputDialog dialog(*w.listener, w.chosenInput(), 0, &w);
        ASSERT_EQ(dialog.inputs->count(), 2);
        EXPECT_EQ(dialog.chosen(), "midi:Bass");
        dialog.inputs->setCurrentRow(1);
        EXPECT_EQ(dialog.chosen(), "loopback");
        EXPECT_TRUE(QTest::qWaitFor([&] { return scripted->runningId() == "loopback"; }, 2000))
            << "the dialog listens to the input selected, as a tuner";
    }
    window.reset();
    // OK listens to the input chosen, judged from the next Start; Cancel leaves listening as it
    // was, on the input it had.
    struct Case {
        bool listening;
        bool ok;
        const char* heard; // "": listening off
    } cases[] = {{false, true, "loopback"},
                 {false, false, ""},
                 {true, false, "midi:Bass"},
                 {true, true, "loopback"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.listening) + " " + std::to_string(c.ok));
        QSettings(config.path() + "/clefwork/clefwork.conf", QSettings::IniFormat).clear();
        stavebass& v = makeWindow();
        if (c.listening) {
            v.listenbass->trigger();
        }
        QTimer::singleShot(0, [&] {
            auto* dialog = v.findChild<InputDialog*>();
            ASSERT_NE(dialog, nullptr);
            dialog->inputs->setCurrentRow(1);
            c.ok ? dialog->accept() : dialog->reject();
        });
        v.inputchoice->trigger();
        EXPECT_EQ(QSettings(config.path() + "/clefwork/clefwork.conf", QSettings::IniFormat)
                      .value("listen/input")
                      .toString(),
                  c.ok ? "loopback" : "");
        const bool on = *c.heard != '\0';
        EXPECT_EQ(v.listenbass->isChecked(), on);
        EXPECT_EQ(scripted->runningId(), c.heard);
        EXPECT_EQ(v.statusBar()->isVisible(), on);
        v.Start->click();
        EXPECT_EQ(v.historyOpen, on) << "the practice is judged";
        v.Stop_Click();
        window.reset();
    }
}

// A sound card's input channel: offered as it has them, remembered, clamped to a device with
// fewer, and the one the input is opened on.
TEST_F(Practice, TheInputChannelIsChosenRememberedAndClamped) {
    const auto conf = [&] {
        return QSettings(config.path() + "/clefwork/clefwork.conf", QSettings::IniFormat);
    };
    stavebass::inputsFactory() = [this] {
        auto inputs = std::make_unique<platform::ScriptedInputs>();
        inputs->setDevices(
            {{{"audio:ALSA:Interface", "Interface (ALSA)", platform::InputKind::Audio, 2}, {}, {}},
             {{"audio:ALSA:Mic", "Mic (ALSA)", platform::InputKind::Audio, 1}, {}, {}},
             {{"midi:Bass", "Bass (MIDI)", platform::InputKind::Midi}, {}, {}}});
        scripted = inputs.get();
        return inputs;
    };
    {
        stavebass& w = makeWindow();
        QTimer::singleShot(0, [&] {
            auto* dialog = w.findChild<InputDialog*>();
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->chosen(), "audio:ALSA:Interface");
            EXPECT_EQ(dialog->channels->count(), 2);
            EXPECT_TRUE(dialog->channels->isEnabled());
            EXPECT_EQ(dialog->channels->currentText(), "1");
            dialog->channels->setCurrentIndex(1);
            emit dialog->channels->activated(1);
            EXPECT_EQ(scripted->runningChannel(), 1) << "the dialog listens on the channel chosen";
            dialog->inputs->setCurrentRow(1);
            EXPECT_EQ(dialog->channels->count(), 1) << "a microphone has one";
            EXPECT_FALSE(dialog->channels->isEnabled());
            dialog->inputs->setCurrentRow(2);
            EXPECT_FALSE(dialog->channels->isEnabled()) << "MIDI has none";
            dialog->inputs->setCurrentRow(0);
            EXPECT_EQ(dialog->channels->currentText(), "2") << "the choice outlives the others";
            dialog->accept();
        });
        w.inputchoice->trigger();
        EXPECT_EQ(conf().value("listen/channel").toInt(), 2);
        EXPECT_EQ(scripted->runningId(), "audio:ALSA:Interface");
        EXPECT_EQ(scripted->runningChannel(), 1);
        w.Stop_Click();
        window.reset();
    }
    // What the settings hold, as the input is opened on it and the dialog shows it.
    struct Case {
        const char* stored;
        int opened;        // the channel asked of the input
        const char* shown; // in the dialog, for the two-channel interface
    } cases[] = {{"2", 1, "2"}, {"1", 0, "1"}, {"9", 8, "2"}, {"0", 0, "1"}, {"two", 0, "1"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        conf().setValue("listen/input", "audio:ALSA:Interface");
        conf().setValue("listen/channel", c.stored);
        stavebass& v = makeWindow();
        v.listenbass->trigger();
        ASSERT_TRUE(QTest::qWaitFor([&] { return scripted->running(); }, 2000));
        EXPECT_EQ(scripted->runningChannel(), c.opened)
            << "as kept; the capture clamps it to the device";
        QTimer::singleShot(0, [&] {
            auto* dialog = v.findChild<InputDialog*>();
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->channels->currentText(), c.shown);
            EXPECT_EQ(dialog->chosenChannel() + 1, std::stoi(c.shown)) << "what is shown";
            dialog->reject();
        });
        v.inputchoice->trigger();
        EXPECT_EQ(conf().value("listen/channel").toString(), c.stored) << "Cancel keeps it";
        v.Stop_Click();
        window.reset();
    }
}

// An input that loses sound says so after the tuner, through the listener's queued signal.
TEST_F(Practice, SoundTheInputLostIsShownAfterTheTuner) {
    stavebass& w = makeWindow();
    w.listenbass->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return scripted->running(); }, 2000));
    EXPECT_FALSE(w.tuner->text().contains("overflow"));
    ASSERT_TRUE(scripted->overflow(480, 48000));
    ASSERT_TRUE(scripted->overflow(0, 48000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return w.tuner->text().contains("Input overflow: sound lost 2 times, about 10 ms"); },
        2000))
        << w.tuner->text().toStdString();
    w.listenbass->trigger();
    w.listenbass->trigger();
    EXPECT_FALSE(w.tuner->text().contains("overflow")) << "a new start, a clean count";
    w.listenbass->trigger();
}

// A history message comes as listening starts: it shows in the status bar, never in a box that
// would take the Space meant to start the beat.
TEST_F(Practice, AHistoryMessageLeavesTheKeysToTheWindow) {
    const QString foreign = config.path() + "/other.sqlite";
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "other-program");
        db.setDatabaseName(foreign);
        ASSERT_TRUE(db.open());
        ASSERT_TRUE(QSqlQuery(db).exec("CREATE TABLE photos (x)"));
        db.close();
    }
    QSqlDatabase::removeDatabase("other-program");
    stavebass::historyPath() = [&] { return foreign; };
    stavebass& w = makeWindow();
    QApplication::setActiveWindow(&w);
    w.listenbass->trigger();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return w.historyNotice != nullptr && !w.historyNotice->text().isEmpty(); }, 5000));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join("|").toStdString();
    EXPECT_TRUE(w.historyNotice->isVisible());
    EXPECT_TRUE(w.historyNotice->text().contains("not a Clefwork"))
        << w.historyNotice->text().toStdString();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    w.Start->setFocus();
    QTest::keyClick(w.Start, Qt::Key_Space);
    EXPECT_TRUE(w.Timer1->isActive()) << "Space starts the beat";
    w.Stop_Click();
    w.listenbass->trigger();
    EXPECT_FALSE(w.historyNotice->isVisible());
}

// A bar played against scripted MIDI notes: right, wrong, an octave off and nothing.  The heads
// take the verdicts' colours on the stave, the wrong note is named, and the score counts.
TEST_F(Practice, VerdictsMarkTheHeadsAndTheScoreCounts) {
    stavebass& w = makeWindow();
    w.listenbass->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return scripted->running(); }, 2000));
    w.Start->click();
    w.Timer1->stop();
    tick(8); // the first bars show nothing; the next tick draws a bar
    ASSERT_EQ(w.beatNumber, 1);
    const QColor green(0, 170, 0), red(220, 0, 0), blue(0, 90, 255);
    struct Beat {
        int shift; // played against the expected pitch; 99: nothing
        listen::Verdict verdict;
        QColor colour;
    };
    const Beat bar[] = {{0, listen::Verdict::Right, green},
                        {1, listen::Verdict::Wrong, red},
                        {-12, listen::Verdict::Octave, blue},
                        {99, listen::Verdict::Missed, red}};
    // The bar drawn at its first beat; the hand-over at beat 4 moves the record on.
    const PracticeState::Layout drawn = w.currentBarLayout;
    for (std::size_t p = 1; p <= 4; ++p) {
        const int expected = *notes::writtenNumber(w.currentBar[p]) - 12; // bass pitch
        tick();
        const Beat& b = bar[p - 1];
        if (b.shift != 99) {
            scripted->pushNote({MIDI_OUT::firstSendNanos + 10'000'000, expected + b.shift, 90});
            ASSERT_TRUE(QTest::qWaitFor([&] { return w.marks[p].has_value(); }, 2000)) << p;
        }
    }
    w.applyjudgements(w.matcher.advance(platform::monotonicNanos() + 10'000'000'000LL));
    const QImage stave = w.Image3->grab().toImage();
    for (std::size_t p = 1; p <= 4; ++p) {
        SCOPED_TRACE(p);
        ASSERT_TRUE(w.marks[p].has_value());
        EXPECT_EQ(w.marks[p]->verdict, bar[p - 1].verdict);
        // The middle of the head, where the sprite is black, now shows the verdict's colour.
        const int type = drawn[PracticeState::kType][p];
        const int headTop = type <= 2 ? 0 : type == 3 ? 97 : 110;
        const QPoint middle(w.currentBarX[p] + 22 - stavebass::kStaveLeft,
                            drawn[PracticeState::kHeight][p] + headTop + 10 - stavebass::kStaveTop);
        EXPECT_EQ(QColor(stave.pixel(middle)), bar[p - 1].colour);
    }
    EXPECT_FALSE(w.marks[2]->played.isEmpty()) << "the wrong note is named";
    EXPECT_EQ(w.scoreLabel->text().toStdString(),
              "This bar 1/4   Session 1/4 (25 %)   Streak 0, best 1   You play 10 ms late");

    // The marks leave with the bar, and the bar goes into the history; Stop ends the session
    // there, Start begins a new one.
    tick();
    for (std::size_t p = 1; p <= 4; ++p) {
        EXPECT_FALSE(w.marks[p].has_value());
    }
    w.Stop->click();
    ASSERT_TRUE(w.historyWriter->flush());
    const QString csv = config.path() + "/history.csv";
    QString error;
    ASSERT_TRUE(history::exportCsv(config.path() + "/history.sqlite", csv, error))
        << error.toStdString();
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    for (const char* verdict : {",right,", ",wrong,", ",octave,", ",missed,"}) {
        EXPECT_TRUE(text.contains(QString::fromLatin1(verdict))) << verdict;
    }
    EXPECT_EQ(text.count(QLatin1Char('\n')), 1 + 4) << "the header and the bar's four beats";
    w.Start->click();
    EXPECT_EQ(w.score.judged, 0);
    w.Stop_Click();
}

// Whatever clefwork.conf holds, each setting comes back inside its range: a value the program
// could not have written is the setting's default.
TEST_F(Practice, SettingsOutsideTheirRangeAreTheirDefaults) {
    struct Case {
        const char* key;
        const char* stored;
        const char* expected; // what the window takes
    };
    const Case cases[] = {
        {"listen/latencyMs", "1e300", "0"},       {"listen/latencyMs", "-1e300", "0"},
        {"listen/latencyMs", "nan", "0"},         {"listen/latencyMs", "inf", "0"},
        {"listen/latencyMs", "-inf", "0"},        {"listen/latencyMs", "301", "0"},
        {"listen/latencyMs", "many", "0"},        {"listen/latencyMs", "-42.5", "-42.5"},
        {"practice/countIn", "banana", "false"},  {"practice/countIn", "true", "true"},
        {"practice/countIn", "1", "true"},        {"listen/input", "nonsense", "midi:Bass"},
        {"listen/input", "audio:", "midi:Bass"},  {"listen/input", "midi:", "midi:Bass"},
        {"listen/input", "loopback", "loopback"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " = " + c.stored);
        {
            QSettings conf(config.path() + "/clefwork/clefwork.conf", QSettings::IniFormat);
            conf.clear();
            conf.setValue(c.key, QString::fromLatin1(c.stored));
        }
        stavebass& w = makeWindow();
        QString taken;
        if (QString(c.key) == "listen/latencyMs") {
            w.listenbass->trigger();
            ASSERT_TRUE(w.listenbass->isChecked());
            taken = QString::number(static_cast<double>(w.matcher.latencyNanos()) / 1e6);
            w.listenbass->trigger();
        } else if (QString(c.key) == "practice/countIn") {
            taken = w.countin->isChecked() ? "true" : "false";
        } else {
            taken = w.chosenInput();
        }
        EXPECT_EQ(taken.toStdString(), c.expected);
        window.reset();
    }
}

// The history keeps each beat's written name as the stave showed it when the beat sounded; the
// fourth beat's tick hands the waiting bar over, which must not leak into the record.
TEST_F(Practice, TheHistoryKeepsTheNameEachBeatShowed) {
    stavebass& w = makeWindow();
    w.listenbass->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return scripted->running(); }, 2000));
    w.Start->click();
    w.Timer1->stop();
    tick(8); // the first bars show nothing
    ASSERT_EQ(w.beatNumber, 1);
    QStringList shown;
    bool fourthDiffers = false; // the case is only shown when some next bar's fourth differs
    for (int bar = 0; bar < 6; ++bar) {
        for (std::size_t p = 1; p <= 4; ++p) {
            shown << QString::fromStdString(w.currentBar[p]);
            tick();
        }
        fourthDiffers = fourthDiffers || shown.back() != QString::fromStdString(w.currentBar[4]);
        // Nothing played: the bar's beats are missed once their time is past.
        w.applyjudgements(w.matcher.advance(platform::monotonicNanos() + 10'000'000'000LL));
    }
    ASSERT_TRUE(fourthDiffers) << "the bars drawn all ended on one note";
    w.Stop->click();
    ASSERT_TRUE(w.historyWriter->flush());
    const history::ReadConnection reader(config.path() + "/history.sqlite");
    QSqlQuery q(reader.db());
    ASSERT_TRUE(q.exec("SELECT written FROM beats ORDER BY id"));
    QStringList kept;
    while (q.next()) {
        kept << q.value(0).toString();
    }
    EXPECT_EQ(kept, shown);
    w.Stop_Click();
}

// Calibration against scripted plucks: answers 25 ms after each click become the latency; a
// silent run keeps it as it was.
TEST_F(Practice, CalibrationKeepsTheMedianOnlyWhenItCanBeTrusted) {
    stavebass& w = makeWindow();
    w.calibrationPeriodMs = 80;
    for (const bool answer : {true, false}) {
        SCOPED_TRACE(answer);
        QTimer::singleShot(0, [&] {
            auto* dialog = w.findChild<CalibrationDialog*>();
            ASSERT_NE(dialog, nullptr);
            QObject::connect(dialog, &CalibrationDialog::clicked, [&](int i, qint64 nanos) {
                if (answer) {
                    scripted->pushNote({nanos + (25 + (i % 3) - 1) * 1'000'000, 40, 90});
                }
            });
            dialog->startButton->click();
            ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->finished; }, 5000));
            dialog->reject();
        });
        w.calibrate_Click();
        const double kept =
            QSettings(config.path() + "/clefwork/clefwork.conf", QSettings::IniFormat)
                .value("listen/latencyMs", -1.0)
                .toDouble();
        EXPECT_NEAR(kept, 25.0, 1.5);
        EXPECT_NEAR(static_cast<double>(w.matcher.latencyNanos()) / 1e6, 25.0, 1.5);
        EXPECT_FALSE(w.listenbass->isChecked()) << "listening goes back off afterwards";
    }
}

} // namespace
