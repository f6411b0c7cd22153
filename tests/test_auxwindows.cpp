// The auxiliary windows: About, the two web links and their link click, the help and the
// fretboard chart.
#include "platform/appdir.h"
#include "support/shell_support.h"
#include "support/window_fixture.h"
#include "ui/fretboard.h"
#include "ui/helpwindow.h"
#include "ui/splash.h"
#include "ui/weblink.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <unistd.h>

namespace {

using testing_support::ScriptedShell;
using testing_support::ShellScope;
using testing_support::WindowTest;

// Lets closed windows go (they delete themselves once closed).
void settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class AuxWindows : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        makeWindow();
    }
    void TearDown() override {
        platform::setShell(nullptr);
        WindowTest::TearDown();
    }
    stavebass& w() { return *window; }
    frmSplash* splash() { return qobject_cast<frmSplash*>(w().splashWindow.data()); }
    WebLink* maker() { return qobject_cast<WebLink*>(w().form2Window.data()); }
    QString tempFile() const { return folder->file(WebLink::kTempName); }

    ScriptedShell shell;
};

// ---- About ----

TEST_F(AuxWindows, AboutShowsNameAndVersionWithoutCaption) {
    w().about_Click();
    frmSplash* about = splash();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    EXPECT_FALSE(about->isModal());
    EXPECT_TRUE(about->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(about->lblProductName->text(), "Clefwork");
    EXPECT_EQ(about->lblCompanyProduct->text(), "for the bass guitar");
    EXPECT_EQ(about->lblPlatform->text(), "Win 98 and above.");
    EXPECT_EQ(about->lblVersion->text(), "Version 1.0.0");
    EXPECT_EQ(about->Command1->text(), "OK");
    ASSERT_NE(about->imgLogo->pixmap().isNull(), true);
    EXPECT_EQ(about->imgLogo->pixmap().size(), QSize(179, 253));
    // Every label sits inside the one frame.
    for (QLabel* l : about->findChildren<QLabel*>()) {
        EXPECT_EQ(l->parentWidget(), about->Frame1);
    }
    EXPECT_TRUE(w().isEnabled());
}

TEST_F(AuxWindows, OnlyOneAboutWindow) {
    w().about_Click();
    QPointer<QWidget> first = w().splashWindow;
    w().about_Click();
    EXPECT_EQ(w().splashWindow, first);
    EXPECT_EQ(w().findChildren<frmSplash*>().size(), 1);
}

TEST_F(AuxWindows, AboutClosesOnOkFrameAndCharacterKeys) {
    struct Case {
        const char* name;
        std::function<void(frmSplash*)> act;
        bool closes;
    };
    const std::vector<Case> cases{
        {"OK", [](frmSplash* s) { QTest::mouseClick(s->Command1, Qt::LeftButton); }, true},
        {"frame",
         [](frmSplash* s) {
             QTest::mouseClick(s->Frame1, Qt::LeftButton, {}, {4, 280});
         },
         true},
        {"letter", [](frmSplash* s) { QTest::keyClick(s->Command1, Qt::Key_A); }, true},
        {"digit", [](frmSplash* s) { QTest::keyClick(s, Qt::Key_7); }, true},
        {"Escape", [](frmSplash* s) { QTest::keyClick(s->Command1, Qt::Key_Escape); }, true},
        {"Return", [](frmSplash* s) { QTest::keyClick(s->Command1, Qt::Key_Return); }, true},
        // The window hears the key before the focused button would take it.
        {"Space, at its press", [](frmSplash* s) { QTest::keyPress(s->Command1, Qt::Key_Space); },
         true},
        {"Shift", [](frmSplash* s) { QTest::keyClick(s->Command1, Qt::Key_Shift); }, false},
        {"arrow", [](frmSplash* s) { QTest::keyClick(s->Command1, Qt::Key_Left); }, false},
        {"F5", [](frmSplash* s) { QTest::keyClick(s->Command1, Qt::Key_F5); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        w().about_Click();
        ASSERT_NE(splash(), nullptr);
        c.act(splash());
        settle();
        EXPECT_EQ(w().splashWindow == nullptr, c.closes);
        if (w().splashWindow != nullptr) {
            EXPECT_TRUE(w().splashWindow->isVisible());
            w().splashWindow->close();
            settle();
        }
    }
    // A new one loads afresh.
    w().about_Click();
    EXPECT_EQ(splash()->lblVersion->text(), "Version 1.0.0");
}

// ---- web links ----

TEST_F(AuxWindows, WebLinkWindowsAreMadeOnceWithTheirCaptionsAndPages) {
    struct Case {
        void (stavebass::*open)();
        QPointer<QWidget> stavebass::*slot;
        const char* caption;
        const char* page;
    };
    const Case cases[] = {
        {&stavebass::makersite_Click, &stavebass::form2Window, "Hyperspace Jump Portal",
         "https://clefwork.example.org/"},
        {&stavebass::authorsite_Click, &stavebass::webberWindow, "HyperSpace Jump Portal",
         "https://author.example.org/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        (w().*c.open)();
        auto* link = qobject_cast<WebLink*>((w().*c.slot).data());
        ASSERT_NE(link, nullptr);
        EXPECT_TRUE(link->isVisible());
        EXPECT_EQ(link->windowTitle(), c.caption);
        EXPECT_EQ(link->page, c.page);
        EXPECT_EQ(link->Label2->text(), c.page);
        EXPECT_EQ(link->Label1->text(), "Click the Hyperlink to launch the default web browser.");
        (w().*c.open)();
        EXPECT_EQ((w().*c.slot).data(), link) << "the same window is shown again";
    }
    EXPECT_NE(w().form2Window, w().webberWindow);
}

TEST_F(AuxWindows, TheLinkIsAHandWithItsHotSpotOnTheFingerTip) {
    w().makersite_Click();
    const QCursor cursor = maker()->Label2->cursor();
    EXPECT_EQ(cursor.shape(), Qt::BitmapCursor);
    EXPECT_EQ(cursor.hotSpot(), QPoint(9, 3));
    EXPECT_EQ(cursor.bitmap().size(), QSize(32, 32));
    maker()->close();
    settle();

    folder->remove(QStringLiteral("handmask.bmp"));
    w().makersite_Click();
    EXPECT_EQ(maker()->Label2->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(AuxWindows, LinkColoursFollowTheMouseAndStayRed) {
    ShellScope scope(&shell);
    shell.findResult = 31; // the window stays open after the click
    w().makersite_Click();
    QLabel* link = maker()->Label2;
    auto colour = [&] { return link->palette().color(QPalette::WindowText); };
    EXPECT_EQ(colour(), QColor(0, 0, 255));
    EXPECT_TRUE(link->font().underline());

    QTest::mousePress(link, Qt::LeftButton);
    EXPECT_EQ(colour(), QColor(255, 255, 0));
    EXPECT_EQ(shell.count("find"), 0) << "the click comes with the release";
    QTest::mouseRelease(link, Qt::LeftButton);
    EXPECT_EQ(colour(), QColor(255, 0, 0));
    EXPECT_EQ(shell.count("find"), 1);
    QTest::mouseMove(link, {2, 2});
    EXPECT_EQ(colour(), QColor(255, 0, 0)) << "red it stays";

    // Loaded again, blue again.
    maker()->close();
    settle();
    w().makersite_Click();
    EXPECT_EQ(maker()->Label2->palette().color(QPalette::WindowText), QColor(0, 0, 255));
}

struct LinkCase {
    const char* name;
    int found;
    QString browserPath;
    int launched;
    QStringList boxes;
    QString label1After; // empty: unchanged
    bool stays;
    bool launches;
};

TEST_F(AuxWindows, TheLinkClickByShellAnswer) {
    const QString instruction =
        QStringLiteral("Click the Hyperlink to launch the default web browser.");
    const std::vector<LinkCase> cases{
        {"no browser", 31, {}, 42, {"Unable to find Web Browser."}, {}, true, false},
        {"out of memory",
         0,
         {},
         42,
         {"Sorry out of memory, please close some programs and try again."},
         {},
         true,
         false},
        {"file not found", 2, {}, 42, {"Error Number: 2"}, {}, true, false},
        {"result 5", 5, {}, 42, {"Error Number: 5"}, {}, true, false},
        {"result 30", 30, {}, 42, {"Error Number: 30"}, {}, true, false},
        {"found under a folder",
         42,
         "/usr/lib/firefox/firefox",
         42,
         {},
         "Launching firefox",
         false,
         true},
        {"32 counts as found", 32, "/usr/bin/browse", 33, {}, "Launching browse", false, true},
        {"a backslash path",
         42,
         "C:\\Program Files\\Web\\surf.exe",
         42,
         {},
         "Launching surf.exe",
         false,
         true},
        {"a bare name", 42, "surfer", 42, {}, "Launching surfer", false, true},
        {"launch fails",
         42,
         "/usr/bin/firefox",
         31,
         {"Unable to launch Web Browser."},
         "Error",
         false,
         true},
        {"launch fails with 0",
         42,
         "/usr/bin/firefox",
         0,
         {"Unable to launch Web Browser."},
         "Error",
         false,
         true},
    };
    ShellScope scope(&shell);
    for (const LinkCase& c : cases) {
        SCOPED_TRACE(c.name);
        shell = ScriptedShell{};
        shell.findResult = c.found;
        shell.browserPath = c.browserPath;
        shell.executeResult = c.launched;
        boxes.clear();
        w().makersite_Click();
        QPointer<WebLink> link = maker();
        ASSERT_NE(link, nullptr);
        QString labelAtLaunch;
        shell.during = [&](const ScriptedShell::Call& call) {
            if (call.what == "execute") {
                labelAtLaunch = link->Label1->text();
            }
        };

        link->Label2_Click();

        ASSERT_GE(shell.calls.size(), 1);
        EXPECT_EQ(shell.calls[0].what, "find");
        EXPECT_EQ(shell.calls[0].first, WebLink::kTempName);
        EXPECT_EQ(shell.calls[0].second, folder->path());
        EXPECT_TRUE(shell.fileExistedDuringFind);
        EXPECT_FALSE(QFile::exists(tempFile())) << "the query's file is deleted after it";
        EXPECT_EQ(boxes, c.boxes);
        EXPECT_EQ(link->Label1->text(), c.label1After.isEmpty() ? instruction : c.label1After);
        if (c.launches) {
            ASSERT_EQ(shell.calls.size(), 2);
            EXPECT_EQ(shell.calls[1].what, "execute");
            EXPECT_EQ(shell.calls[1].first, "Open");
            EXPECT_EQ(shell.calls[1].second, Form2::kPage);
            EXPECT_EQ(labelAtLaunch,
                      "Launching " + c.browserPath.section(QRegularExpression("[/\\\\]"), -1));
        } else {
            EXPECT_EQ(shell.calls.size(), 1);
        }
        settle();
        EXPECT_EQ(link != nullptr, c.stays);
        if (link != nullptr) {
            EXPECT_TRUE(link->isVisible());
            link->close();
            settle();
        }
    }
}

TEST_F(AuxWindows, AnExistingTempFileIsUsedAsItIsThenDeleted) {
    ShellScope scope(&shell);
    {
        QFile f(tempFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<html>left over</html>");
    }
    w().authorsite_Click();
    auto* link = qobject_cast<WebLink*>(w().webberWindow.data());
    link->Label2_Click();
    EXPECT_EQ(shell.fileContentDuringFind, QByteArray("<html>left over</html>"));
    EXPECT_FALSE(QFile::exists(tempFile()));
    EXPECT_EQ(boxes, QStringList{"Unable to find Web Browser."});
}

TEST_F(AuxWindows, AFolderThatCannotBeWrittenReportsTheFailureAndLeavesNoFile) {
    ShellScope scope(&shell);
    w().makersite_Click();
    QPointer<WebLink> link = maker();
    const QString missing = folder->file(QStringLiteral("gone"));
    platform::setAppDir(missing);
    link->Label2_Click();
    platform::setAppDir(folder->path());

    EXPECT_EQ(boxes, QStringList{"An error has occured, please report this to you lowly "
                                 "programmer\r\nError Number: 75\r\nError description: "
                                 "Path/File access error"});
    EXPECT_EQ(shell.calls.size(), 0);
    EXPECT_FALSE(QFile::exists(missing + "/" + WebLink::kTempName));
    settle();
    ASSERT_NE(link, nullptr) << "the window stays open";
    EXPECT_EQ(link->Label1->text(), "Click the Hyperlink to launch the default web browser.");
}

TEST_F(AuxWindows, AReadOnlyFolderReportsTheFailure) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "running as root: folder permissions do not stop writes";
    }
    ShellScope scope(&shell);
    w().makersite_Click();
    ASSERT_TRUE(
        QFile::setPermissions(folder->path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    maker()->Label2_Click();
    QFile::setPermissions(folder->path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].contains("Error Number: 75"));
    EXPECT_FALSE(QFile::exists(tempFile()));
}

// ---- help ----

TEST_F(AuxWindows, HelpOpensTheHelpFileOrElseShowsItsPages) {
    struct Case {
        const char* what;
        int shellAnswer;
        bool pagesShip;
        bool window;  // the program's own help window shows
        int messages; // message boxes said, for two presses
    };
    const Case cases[] = {
        {"the desktop opens the help file", 42, true, false, 0},
        {"no viewer for the help file", 31, true, true, 0},
        {"the help file is missing", 2, true, true, 0},
        {"no viewer and no pages", 31, false, false, 2},
    };
    ShellScope scope(&shell);
    EXPECT_EQ(w().cwhelp->shortcut(), QKeySequence(Qt::Key_F1));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        delete w().helpWindow.data();
        shell.calls.clear();
        boxes.clear();
        shell.executeResult = c.shellAnswer;
        if (!c.pagesShip) {
            folder->remove(QStringLiteral("help"));
        }
        w().cwhelp_Click();
        w().cwhelp->trigger(); // F1 again: the same window
        ASSERT_EQ(shell.calls.size(), 2);
        for (const auto& call : shell.calls) {
            EXPECT_EQ(call.what, "execute");
            EXPECT_EQ(call.first, "open");
            EXPECT_EQ(call.second, folder->path() + "/Fretlore Help.chm");
        }
        EXPECT_EQ(boxes.size(), c.messages);
        auto* help = qobject_cast<HelpWindow*>(w().helpWindow.data());
        ASSERT_EQ(help != nullptr, c.window);
        EXPECT_EQ(w().findChildren<HelpWindow*>().size(), c.window ? 1 : 0);
        if (help != nullptr) {
            EXPECT_TRUE(help->isVisible());
            EXPECT_EQ(help->pages->source().fileName(), "index.html");
            EXPECT_EQ(help->pages->documentTitle(), "Clefwork Help");
            // The pages link to one another.
            help->pages->setSource(QUrl(QStringLiteral("stave.html")));
            EXPECT_TRUE(help->pages->toPlainText().contains("stave"));
        }
    }
}

TEST(HelpFile, TheCompiledHelpAndItsPagesShip) {
    const QDir shipped(
        qEnvironmentVariable("CLEFWORK_TEST_DATA", QStringLiteral(CLEFWORK_TEST_DATA)));
    for (const char* page : {"index.html", "setup.html", "stave.html", "skins.html",
                             "fretboard.html", "listening.html", "aids.html"}) {
        SCOPED_TRACE(page);
        QFile f(shipped.filePath(QStringLiteral("help/") + page));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << "build the help_file target";
        const QString html = QString::fromUtf8(f.readAll());
        EXPECT_TRUE(html.contains("</html>"));
        // Every picture a page shows ships beside it.
        const QRegularExpression image(QStringLiteral("<img src=\"([^\"]+)\""));
        for (auto it = image.globalMatch(html); it.hasNext();) {
            const QString picture = it.next().captured(1);
            EXPECT_TRUE(QImage(shipped.filePath(QStringLiteral("help/") + picture)).width() > 0)
                << picture.toStdString();
        }
    }
    QFile chm(shipped.filePath(QStringLiteral("Fretlore Help.chm")));
    if (!chm.exists()) {
        GTEST_SKIP() << "no chmcmd at build time: the compiled help was skipped";
    }
    ASSERT_TRUE(chm.open(QIODevice::ReadOnly));
    EXPECT_EQ(chm.read(4), QByteArray("ITSF")) << "a compiled HTML help file";
    EXPECT_GT(chm.size(), 4096);
}

// ---- fretboard chart ----

TEST_F(AuxWindows, TheChartWindow) {
    w().Command2_Click();
    auto* chart = qobject_cast<Fretboard*>(w().fretboardWindow.data());
    ASSERT_NE(chart, nullptr);
    EXPECT_TRUE(chart->isVisible());
    EXPECT_FALSE(chart->isModal());
    EXPECT_EQ(chart->windowTitle(), "Form1");
    EXPECT_EQ(chart->palette().color(QPalette::Window), QColor(192, 255, 255));
    EXPECT_NE(chart->minimumSize(), chart->maximumSize()) << "an ordinary sizeable window";
    EXPECT_EQ(chart->Picture1->pixmap().size(), QSize(682, 144));
    EXPECT_EQ(chart->Command2->text(), "Return to Clefwork");
    const QImage face = chart->Command2->grab().toImage();
    EXPECT_EQ(QColor(face.pixel(4, face.height() / 2)), QColor(224, 224, 224));
    EXPECT_FALSE(chart->Timer1->isActive());
    EXPECT_FALSE(chart->Timer2->isActive());

    w().Command2_Click();
    EXPECT_EQ(w().fretboardWindow.data(), chart) << "only ever one chart";
    EXPECT_EQ(w().findChildren<Fretboard*>().size(), 1);

    QTest::mouseClick(chart->Command2, Qt::LeftButton);
    settle();
    EXPECT_EQ(w().fretboardWindow, nullptr);
}

TEST_F(AuxWindows, OpeningTheChartOnlyStopsTheBeats) {
    w().Start_Click();
    tick(6);
    ASSERT_TRUE(w().Timer1->isActive());
    const int16_t beat = w().beatNumber;
    const QString beater = w().beater->text();
    const QString finger = w().finger->text();
    const auto bar = w().currentBar;
    const auto next = w().nextBar;
    capture.clear();

    QTest::mouseClick(w().Command2, Qt::LeftButton);
    EXPECT_FALSE(w().Timer1->isActive());
    EXPECT_EQ(w().beatNumber, beat);
    EXPECT_EQ(w().beater->text(), beater);
    EXPECT_EQ(w().finger->text(), finger);
    EXPECT_EQ(w().currentBar, bar);
    EXPECT_EQ(w().nextBar, next);
    EXPECT_TRUE(sent().empty());
    ASSERT_NE(w().fretboardWindow, nullptr);

    // Closing the chart leaves the beats stopped; Start begins them again.
    qobject_cast<Fretboard*>(w().fretboardWindow.data())->Command2_Click();
    settle();
    EXPECT_FALSE(w().Timer1->isActive());
    w().Start_Click();
    EXPECT_TRUE(w().Timer1->isActive());
}

} // namespace
