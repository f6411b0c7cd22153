// The count-in bar and the keyboard on the main window.
#include "support/window_fixture.h"
#include "ui/clientarea.h"
#include "ui/editcombo.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

using testing_support::msg;
using testing_support::WindowTest;

class CountIn : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    }
    QTemporaryDir config;
};

TEST_F(CountIn, ABarOfClicksThenTheSameBarsAsWithout) {
    // Without the count-in: the messages of the first three bars.
    stavebass& plain = makeWindow();
    ASSERT_FALSE(plain.countin->isChecked()) << "off by default";
    plain.Start->click();
    plain.Timer1->stop();
    capture.clear();
    tick(12);
    const std::vector<uint32_t> without = sent();
    window.reset();

    stavebass& w = makeWindow();
    w.countin->setChecked(true);
    capture.clear();
    w.Start->click();
    EXPECT_FALSE(w.Timer1->isActive()) << "the bar waits for the count-in";
    std::vector<uint32_t> clicks;
    for (int n = 1; n <= 4; ++n) {
        ASSERT_TRUE(w.countInTimer->isActive() || n == 1);
        w.countintick();
        EXPECT_EQ(w.beater->text(), QString::number(n));
    }
    EXPECT_EQ(sent(),
              (std::vector<uint32_t>{msg(0x99, 37, 0), msg(0x99, 36, 127), msg(0x99, 37, 0),
                                     msg(0x99, 37, 127), msg(0x99, 37, 0), msg(0x99, 37, 127),
                                     msg(0x99, 37, 0), msg(0x99, 37, 127)}));
    ASSERT_TRUE(w.Timer1->isActive());
    EXPECT_EQ(w.beatNumber, 1);
    w.Timer1->stop();
    capture.clear();
    tick(12);
    EXPECT_EQ(sent(), without);
    // Remembered for the next start.
    EXPECT_TRUE(QSettings("clefwork", "clefwork").value("practice/countIn").toBool());
}

TEST_F(CountIn, StopEndsItAndStartBeginsItAgain) {
    stavebass& w = makeWindow();
    w.countin->setChecked(true);
    w.Start->click();
    w.countintick();
    w.countintick();
    w.Start->click();
    EXPECT_EQ(w.countInBeat, 0) << "Start during the count-in starts it again";
    EXPECT_TRUE(w.countInTimer->isActive());
    w.countintick();
    w.Stop->click();
    EXPECT_FALSE(w.countInTimer->isActive());
    EXPECT_FALSE(w.Timer1->isActive());
}

TEST_F(CountIn, KeysWorkWhateverHasTheFocusButAListsText) {
    stavebass& w = makeWindow();
    QApplication::setActiveWindow(&w);
    struct Press {
        QWidget* focus;
        Qt::Key key;
        bool running;
        int tempo;
    };
    const Press presses[] = {
        {w.Start, Qt::Key_Space, true, 60},       {w.Check1, Qt::Key_Space, false, 60},
        {w.VScroll1, Qt::Key_Up, false, 62},      {w.Stop, Qt::Key_PageUp, false, 70},
        {w.Check3, Qt::Key_Down, false, 68},      {w.Start, Qt::Key_PageDown, false, 60},
        {w.temposcroll, Qt::Key_Space, true, 60}, {w.Stop, Qt::Key_Escape, false, 60},
    };
    for (const Press& p : presses) {
        SCOPED_TRACE(p.focus->metaObject()->className() + std::string(" key ") +
                     std::to_string(p.key));
        p.focus->setFocus();
        QTest::keyClick(p.focus, p.key);
        EXPECT_EQ(w.Timer1->isActive(), p.running);
        EXPECT_EQ(w.tempo, p.tempo);
    }
    // In a list's text the keys are text.
    w.Keysignature->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.typingInList(); }, 1000));
    QTest::keyClick(w.Keysignature, Qt::Key_Space);
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_TRUE(w.Keysignature->text().contains(' '));
    // Ctrl+L toggles listening, and the menu shows it.
    EXPECT_EQ(w.listenbass->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
    w.Stop_Click();
}

TEST_F(CountIn, AfterAChoiceFromAListTheKeysWorkAgain) {
    stavebass& w = makeWindow();
    QApplication::setActiveWindow(&w);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    struct Choice {
        EditCombo* list;
        bool byMouse;
        int entry;
    };
    const Choice choices[] = {
        {w.intervaldistance, true, 0}, {w.intervaldistance, false, 1}, {w.Stringchoice, true, 2},
        {w.fretposition, false, 3},    {w.Keysignature, true, 1},
    };
    for (const Choice& c : choices) {
        SCOPED_TRACE(c.list->prompt().toStdString() + (c.byMouse ? " by mouse" : " by keys"));
        c.list->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.typingInList(); }, 1000));
        c.list->showPopup();
        QAbstractItemView* view = c.list->view();
        ASSERT_TRUE(QTest::qWaitFor([&] { return view->isVisible(); }, 1000));
        const QModelIndex item = view->model()->index(c.entry, 0);
        if (c.byMouse) {
            QTest::qWait(QApplication::doubleClickInterval() + 50); // a release any sooner is
                                                                    // the click that opened it
            view->scrollTo(item);
            const QPoint centre = view->visualRect(item).center();
            QTest::mousePress(view->viewport(), Qt::LeftButton, {}, centre);
            QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, centre);
        } else {
            view->setCurrentIndex(item);
            QTest::keyClick(view, Qt::Key_Return);
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return !view->isVisible(); }, 1000));
        EXPECT_EQ(c.list->listIndex(), c.entry);
        EXPECT_EQ(c.list->text(), c.list->itemText(c.entry));
        EXPECT_FALSE(w.typingInList());

        // Space starts and stops, Up and Page Up move the tempo; the list's text stays.
        const int tempo = w.temposcroll->value();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        EXPECT_TRUE(w.Timer1->isActive());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        EXPECT_FALSE(w.Timer1->isActive());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageUp);
        EXPECT_EQ(w.temposcroll->value(), tempo + 10);
        EXPECT_EQ(c.list->text(), c.list->itemText(c.entry));
        w.temposcroll->setValue(tempo);
    }
    // The arrows on a closed list step through its entries and leave the keys with it.
    w.Stringchoice->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.typingInList(); }, 1000));
    QTest::keyClick(w.Stringchoice, Qt::Key_Down);
    EXPECT_EQ(w.Stringchoice->listIndex(), 3);
    EXPECT_TRUE(w.typingInList());
    // A click into a list's text takes the keys there again: they are text.
    QTest::mouseClick(w.intervaldistance->lineEdit(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.typingInList(); }, 1000));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_TRUE(w.intervaldistance->text().contains(' '));
    // A click on the stave takes them off the list.
    QTest::mouseClick(w.Image3, Qt::LeftButton);
    EXPECT_FALSE(w.typingInList());
}

} // namespace
