#include "sound/midi_out.h"
#include "support/shell_support.h"
#include "support/window_fixture.h"
#include "ui/clientarea.h"
#include "ui/editcombo.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

namespace {

using testing_support::msg;

class Startup : public testing_support::WindowTest {};

TEST_F(Startup, OpensTheFirstDeviceSelectsTheBassAndSendsNothingMore) {
    capture.devices = {{"Port A"}, {"Port B"}};
    stavebass& w = makeWindow();
    ASSERT_EQ(w.List1->count(), 3);
    EXPECT_EQ(w.List1->item(0)->data(Qt::UserRole).toInt(), -1);
    EXPECT_EQ(w.List1->currentRow(), -1) << "start-up selects no entry";
    ASSERT_EQ(capture.events.size(), 3u);
    EXPECT_EQ(capture.events[0].call, platform::MidiCapture::Call::Open);
    EXPECT_EQ(capture.events[0].deviceId, -1);
    const std::vector<uint32_t> expected{msg(0xB0, 0, 0), msg(0xC0, 34, 0)};
    EXPECT_EQ(capture.sent(), expected);
    QApplication::processEvents();
    QTest::qWait(20);
    EXPECT_EQ(capture.sent(), expected);
    EXPECT_TRUE(boxes.isEmpty());
}

// The listener's library (aubio, and the ninety libraries it brings) is opened by the first
// detector: a window that practises without listening never maps it.
TEST_F(Startup, APracticeWithoutListeningLeavesAubioUnloaded) {
    stavebass& w = makeWindow();
    w.Start_Click();
    w.Timer1->stop();
    for (int tick = 0; tick < 8; ++tick) {
        w.onTimer1();
    }
    w.Stop_Click();
    QApplication::processEvents();
    std::ifstream maps("/proc/self/maps");
    const std::string text((std::istreambuf_iterator<char>(maps)),
                           std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("libQt6Widgets"), std::string::npos) << "the map was not read";
    EXPECT_EQ(text.find("libaubio"), std::string::npos);
}

TEST_F(Startup, WithoutADefaultDeviceTheFirstPortOpens) {
    capture.hasMapper = false;
    capture.devices = {{"Broken", true}, {"Port B"}};
    stavebass& w = makeWindow();
    ASSERT_EQ(w.List1->count(), 1);
    EXPECT_EQ(capture.openDevice, 1);
}

TEST_F(Startup, StateAfterLoad) {
    stavebass& w = makeWindow();
    EXPECT_EQ(w.beatNumber, 1);
    EXPECT_EQ(w.tempo, 60);
    EXPECT_EQ(w.timerInterval, 1000) << "a beat at 60";
    EXPECT_EQ(w.Timer1->interval(), 1000);
    EXPECT_FALSE(w.Timer1->isActive());
    for (std::size_t p = 1; p <= 4; ++p) {
        EXPECT_EQ(w.nextBar[p], "E1");
        EXPECT_EQ(w.currentBar[p], "");
        EXPECT_EQ(w.nextBarCopy[p], "");
        EXPECT_EQ(w.currentBarPitches[p], 0);
    }
    EXPECT_EQ(w.nextBarX, (std::array<int32_t, 5>{0, 470, 520, 570, 620}));
    EXPECT_EQ(w.currentBarX, (std::array<int32_t, 5>{0, 240, 290, 340, 390}));
    EXPECT_EQ(w.indexNote, "E0");
    EXPECT_TRUE(w.diatonicOnly);
    EXPECT_FALSE(w.playNotes);
    EXPECT_FALSE(w.alternateFromIndex);
    EXPECT_EQ(w.noteVelocity, 127);
    EXPECT_EQ(w.keyIndex, 0);
    EXPECT_EQ(w.keyName, "C");
    EXPECT_EQ(w.noteNames[1], "E0");
    EXPECT_EQ(w.noteNames[41], "G#3");

    // What the player sees.
    EXPECT_EQ(w.tempolabel->text(), "60");
    EXPECT_EQ(w.beater->text(), "1");
    EXPECT_EQ(w.finger->text(), "E");
    EXPECT_EQ(w.fretposition->text(), "At the Nut");
    EXPECT_EQ(w.fretposition->listIndex(), 1);
    EXPECT_EQ(w.Keysignature->text(), "Keysignature");
    EXPECT_EQ(w.Stringchoice->text(), "String Choice");
    EXPECT_EQ(w.intervaldistance->text(), "String Distance");
    for (EditCombo* c : {w.Keysignature, w.Stringchoice, w.intervaldistance, w.accif, w.aspitch}) {
        EXPECT_EQ(c->listIndex(), -1) << c->prompt().toStdString();
    }
    EXPECT_TRUE(w.accif->isHidden());
    EXPECT_TRUE(w.aspitch->isHidden());
    EXPECT_EQ(w.Check1->checkState(), Qt::Checked);
    EXPECT_EQ(w.Check2->checkState(), Qt::Checked);
    EXPECT_EQ(w.Check3->checkState(), Qt::Unchecked);
    EXPECT_EQ(w.Check4->checkState(), Qt::Checked);
    EXPECT_EQ(w.VScroll1->value(), 127);
    EXPECT_EQ(w.temposcroll->value(), 60);
    for (QLabel* l : {w.Label13, w.Label14, w.Label15, w.Label16}) {
        EXPECT_TRUE(l->text().isEmpty());
    }
}

TEST_F(Startup, ListsHoldTheirEntriesInOrder) {
    stavebass& w = makeWindow();
    struct Case {
        EditCombo* list;
        QStringList entries;
    };
    const Case cases[] = {
        {w.Keysignature,
         {"C", "G", "D", "A", "E", "B", "F#", "C#", "F", "Bb", "Eb", "Ab", "Db", "Gb", "Cb"}},
        {w.fretposition,
         {"All over the Neck", "At the Nut", "1st Fret", "2nd Fret", "3rd Fret", "4th Fret",
          "5th Fret", "6th Fret", "7th Fret", "8th Fret", "9th Fret", "10th Fret"}},
        {w.Stringchoice, {"Low E-String", "A-String", "D-String", "G-String"}},
        {w.intervaldistance,
         {"Same String", "1 String Away", "2 Strings Away", "3 Strings Away", "On All Strings"}},
        {w.accif, {"not often", "Occasionally", "More often", "All the Time"}},
        {w.aspitch,
         {"Bass Guitar Pitch (octave lower than written)", "Concert Pitch Pitch (as written)"}},
    };
    for (const auto& c : cases) {
        QStringList got;
        for (int i = 0; i < c.list->count(); ++i) {
            got << c.list->itemText(i);
        }
        EXPECT_EQ(got, c.entries) << c.list->prompt().toStdString();
    }
    EXPECT_EQ(w.accif->prompt(), "Tricky notes");
    EXPECT_EQ(w.aspitch->prompt(), "Bass Guitar Pitch (octave lower than written)");
}

TEST_F(Startup, ScrollBarsMenusAndTexts) {
    stavebass& w = makeWindow();
    EXPECT_EQ(w.temposcroll->minimum(), 30);
    EXPECT_EQ(w.temposcroll->maximum(), 200);
    EXPECT_EQ(w.temposcroll->singleStep(), 2);
    EXPECT_EQ(w.temposcroll->pageStep(), 8);
    EXPECT_EQ(w.VScroll1->orientation(), Qt::Vertical);
    EXPECT_EQ(w.VScroll1->minimum(), 0);
    EXPECT_EQ(w.VScroll1->maximum(), 127);
    EXPECT_TRUE(w.VScroll1->invertedAppearance()) << "127 at the top";

    QStringList menus;
    for (QAction* a : w.menuBar()->actions()) {
        menus << a->text();
    }
    EXPECT_EQ(menus, (QStringList{"Clefwork", "Skins", "Practice", "Help"}));
    EXPECT_EQ(w.CW->actions().size(), 1);
    EXPECT_EQ(w.exit->text(), "Exit");
    EXPECT_EQ(w.exit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(w.cwhelp->shortcut(), QKeySequence(Qt::Key_F1));
    QStringList skinEntries;
    for (QAction* a : w.skins->actions()) {
        skinEntries << a->text();
    }
    EXPECT_EQ(skinEntries, (QStringList{"Flame Thrower", "Corporate", "Peaceful", "Industrial"}));
    EXPECT_EQ(w.help->actions().size(), 4);
    EXPECT_EQ(w.about->text(), "About Clefwork for Guitar");
    EXPECT_TRUE(w.windowTitle().startsWith("Clefworking for Guitar"));

    struct Tip {
        QWidget* widget;
        const char* text;
    };
    const Tip tips[] = {
        {w.Start, "Starts the counting"},
        {w.Stop, "Aahh....stop."},
        {w.Command1, "Use this to pause at anytime"},
        {w.Command2, "Click here to see the notes of the fretboard"},
        {w.List1, "Choose the best midi sound on your computer"},
        {w.Stringchoice, "Your Main String"},
        {w.Check1, "The notes displayed will be within the key"},
        {w.Label8, "The notes displayed will be within the key"},
    };
    for (const auto& t : tips) {
        EXPECT_EQ(t.widget->toolTip(), t.text);
    }
    EXPECT_EQ(w.Label10->text(), "Metronome On.  If unclicked the Note will play");
    EXPECT_EQ(w.Check4->property("caption").toString(), "Metronome On.  If unclicked Note Played");
    EXPECT_EQ(w.Label9->text(), "Alternate from Index Finger");
}

TEST_F(Startup, IntroHandsOverToTheMainWindowOnce) {
    stavebass& w = makeWindow(false);
    // During the load the intro is up and the main window hidden.
    ASSERT_FALSE(w.introWindow.isNull());
    EXPECT_TRUE(w.introWindow->isVisible());
    EXPECT_FALSE(w.isVisible());
    QTest::qWait(30);
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.introWindow.isNull() || !w.introWindow->isVisible());
    w.hide();
    QTest::qWait(30);
    EXPECT_FALSE(w.isVisible()) << "the intro never comes back";
}

TEST_F(Startup, EveryWindowOpensWithinTheScreen) {
    testing_support::ScriptedShell shell;
    shell.executeResult = 31; // no viewer for the compiled help: the help window
    testing_support::ShellScope scope(&shell);
    stavebass& w = makeWindow();
    ASSERT_TRUE(w.isVisible());
    const QRect screen = w.screen()->availableGeometry();
    QWidget* client = w.Image3->parentWidget();
    EXPECT_EQ(client->size(), QSize(896, 540)) << "the controls keep their places";
    if (screen.width() < 896 || screen.height() < 540) {
        EXPECT_NE(qobject_cast<QScrollArea*>(w.centralWidget()), nullptr)
            << "on a small screen the controls scroll";
    }
    w.Command2_Click();
    w.cwhelp_Click();
    w.about_Click();
    const std::pair<const char*, QWidget*> windows[] = {
        {"main", &w},
        {"fretboard chart", w.fretboardWindow.data()},
        {"help", w.helpWindow.data()},
        {"About", w.splashWindow.data()},
    };
    for (const auto& [what, window] : windows) {
        SCOPED_TRACE(what);
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(screen.contains(window->frameGeometry()))
            << window->frameGeometry().x() << "," << window->frameGeometry().y() << " "
            << window->frameGeometry().width() << "x" << window->frameGeometry().height() << " on "
            << screen.width() << "x" << screen.height();
    }
}

TEST_F(Startup, ClosingTheWindowClosesTheDevice) {
    stavebass& w = makeWindow();
    const platform::HMIDIOUT open = MIDI_OUT::hMidiOut;
    ASSERT_NE(open, 0u);
    w.close();
    EXPECT_EQ(MIDI_OUT::hMidiOut, 0u);
    EXPECT_EQ(capture.closeCount, 1);
    EXPECT_EQ(capture.events.back().handle, open);
}

// The device opens again exactly when the player picks an entry, by mouse or by keyboard, the
// open one included; never when the list only takes the focus or a row is set by code.
TEST_F(Startup, PickingADeviceReopensItAndResendsTheBass) {
    capture.devices = {{"Port A"}, {"Port B"}};
    stavebass& w = makeWindow();
    w.show();
    QApplication::setActiveWindow(&w);
    const auto clickRow = [&](int row) {
        w.List1->scrollToItem(w.List1->item(row));
        const QRect rect = w.List1->visualItemRect(w.List1->item(row));
        QTest::mouseClick(w.List1->viewport(), Qt::LeftButton, {}, rect.center());
    };
    struct Step {
        const char* what;
        std::function<void()> act;
        int opened; // the device identifier opened, or -2 for none
    };
    const Step steps[] = {
        {"tabbing in with nothing selected", [&] { w.List1->setFocus(Qt::TabFocusReason); }, -2},
        {"Down picks the first entry", [&] { QTest::keyClick(w.List1, Qt::Key_Down); }, -1},
        {"Down picks the next", [&] { QTest::keyClick(w.List1, Qt::Key_Down); }, 0},
        {"Space on the open entry", [&] { QTest::keyClick(w.List1, Qt::Key_Space); }, 0},
        {"a click on another entry", [&] { clickRow(2); }, 1},
        {"a click on the open entry", [&] { clickRow(2); }, 1},
        {"focus leaves and comes back",
         [&] {
             w.Start->setFocus(Qt::TabFocusReason);
             w.List1->setFocus(Qt::TabFocusReason);
         },
         -2},
        {"a row set by code", [&] { w.List1->setCurrentRow(0); }, -2},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        capture.clear();
        step.act();
        QCoreApplication::processEvents();
        if (step.opened == -2) {
            EXPECT_TRUE(capture.events.empty());
            continue;
        }
        ASSERT_GE(capture.events.size(), 3u);
        EXPECT_EQ(capture.events[0].call, platform::MidiCapture::Call::Close);
        EXPECT_EQ(capture.events[1].call, platform::MidiCapture::Call::Open);
        EXPECT_EQ(capture.events[1].deviceId, step.opened);
        EXPECT_EQ(capture.sent(), (std::vector<uint32_t>{msg(0xB0, 0, 0), msg(0xC0, 34, 0)}));
    }
    EXPECT_EQ(w.List1->currentRow(), 0);

    // A device that will not open: its error shows, the bass is sent all the same and fails.
    capture.clear();
    capture.openResult = platform::MMSYSERR_ALLOCATED;
    w.List1->setFocus();
    QTest::keyClick(w.List1, Qt::Key_Down);
    EXPECT_EQ(boxes.size(), 3);
    EXPECT_EQ(capture.sent().size(), 2u);
}

TEST_F(Startup, VolumeBarSetsTheVelocity) {
    stavebass& w = makeWindow();
    for (int v : {0, 64, 127}) {
        w.VScroll1->setValue(v);
        EXPECT_EQ(w.noteVelocity, v);
    }
}

TEST_F(Startup, TypingAndChoosingAreDifferentEvents) {
    stavebass& w = makeWindow();
    QSignalSpy edited(w.fretposition, &EditCombo::edited);
    QSignalSpy chosen(w.fretposition, &EditCombo::chosen);
    w.fretposition->lineEdit()->selectAll();
    QTest::keyClicks(w.fretposition, "3rd");
    EXPECT_EQ(edited.count(), 3) << "one edit event per typed character";
    EXPECT_EQ(chosen.count(), 0);
    EXPECT_EQ(w.fretposition->listIndex(), -1) << "after typing no entry is selected";
    EXPECT_EQ(w.fretposition->text(), "3rd");

    w.fretposition->setCurrentIndex(4); // as the drop-down does before it reports the choice
    emit w.fretposition->activated(4);
    EXPECT_EQ(chosen.count(), 1);
    EXPECT_EQ(edited.count(), 3);
    EXPECT_EQ(w.fretposition->text(), "3rd Fret");
    EXPECT_EQ(w.fretposition->count(), 12) << "Return inserts nothing";
    QTest::keyClick(w.fretposition, Qt::Key_Return);
    EXPECT_EQ(w.fretposition->count(), 12);
}

// Typed text leaves no entry selected and runs no choosing handler, even when it is an entry's
// exact text and however the field is left: Tab, Return, or a click on the play button.
TEST_F(Startup, TypedTextNeverSelectsTheEntryItMatches) {
    stavebass& w = makeWindow();
    w.show();
    QApplication::setActiveWindow(&w);
    struct List {
        EditCombo* combo;
        const char* entry;
    };
    const List lists[] = {{w.Keysignature, "G"},
                          {w.fretposition, "3rd Fret"},
                          {w.Stringchoice, "A-String"},
                          {w.intervaldistance, "Same String"}};
    enum class Leave { Tab, Return, ClickStart };
    for (const List& list : lists) {
        const QString entry = QString::fromLatin1(list.entry);
        ASSERT_GE(list.combo->findText(entry), 0) << list.entry;
        for (const QString& typed : {entry, entry.toLower(), " " + entry + " "}) {
            for (Leave leave : {Leave::Tab, Leave::Return, Leave::ClickStart}) {
                SCOPED_TRACE(list.entry + std::string(" typed \"") + typed.toStdString() +
                             "\" left by " + std::to_string(static_cast<int>(leave)));
                list.combo->setListIndex(-1);
                QSignalSpy chosen(list.combo, &EditCombo::chosen);
                list.combo->setFocus();
                ASSERT_TRUE(QTest::qWaitFor([&] { return list.combo->hasFocus(); }, 1000));
                list.combo->lineEdit()->selectAll();
                QTest::keyClicks(list.combo, typed);
                if (leave == Leave::Tab) {
                    QTest::keyClick(list.combo, Qt::Key_Tab);
                } else if (leave == Leave::Return) {
                    QTest::keyClick(list.combo, Qt::Key_Return);
                } else {
                    QTest::mouseClick(w.Start, Qt::LeftButton);
                    w.Stop_Click();
                }
                QCoreApplication::processEvents();
                EXPECT_EQ(chosen.count(), 0);
                EXPECT_EQ(list.combo->listIndex(), -1);
                EXPECT_EQ(list.combo->text(), typed);
                EXPECT_EQ(w.keyIndex, 0);
            }
        }
    }
}

} // namespace
