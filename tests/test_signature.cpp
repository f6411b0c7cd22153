// The key picture left of the stave: which file, where it stands, that its lines continue the
// stave's lines, and what happens when a picture is missing.
#include "platform/appdir.h"
#include "platform/msgbox.h"
#include "support/window_fixture.h"
#include "ui/editcombo.h"
#include "ui/pictures.h"

#include <QFile>
#include <QLabel>
#include <QPixmap>
#include <gtest/gtest.h>
#include <set>

namespace {

using testing_support::WindowTest;

const char* const kKeys[15] = {"C", "G",  "D",  "A",  "E",  "B",  "F#", "C#",
                               "F", "Bb", "Eb", "Ab", "Db", "Gb", "Cb"};

class Signature : public WindowTest {
protected:
    void choose(stavebass& w, int position) {
        w.Keysignature->setListIndex(position);
        w.Keysignature_Click();
    }
    static QImage shown(const stavebass& w) {
        return w.key->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
    }
};

struct Placement {
    int position;
    int top;
    int height;
};

TEST_F(Signature, EachKeyLoadsItsPictureAtItsPlace) {
    stavebass& w = makeWindow();
    for (int k = 0; k < 15; ++k) {
        SCOPED_TRACE(kKeys[k]);
        choose(w, k);
        EXPECT_EQ(w.keyIndex, k);
        EXPECT_EQ(w.keyName, kKeys[k]);
        const bool flat = k >= 8;
        EXPECT_EQ(w.key->x(), -56);
        EXPECT_EQ(w.key->y(), flat ? 80 : 88);        // 1200 or 1320 twips
        EXPECT_EQ(w.key->height(), flat ? 240 : 247); // 3600 or 3700 twips
        const QImage file = QImage(platform::appFile(QString::fromLatin1(kKeys[k]) + "key.bmp"))
                                .convertToFormat(QImage::Format_RGB32);
        ASSERT_FALSE(file.isNull());
        EXPECT_EQ(shown(w), file) << "the picture of its own file";
        EXPECT_EQ(w.key->width(), file.width());
    }
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(Signature, TheKeyPicturesLinesMeetTheStavesLines) {
    stavebass& w = makeWindow();
    // The stave's lines, top rows, each 2 rows thick.
    const std::set<int> staveRows{146, 147, 168, 169, 190, 191, 212, 213, 234, 235};
    std::set<QRgb> seen;
    for (int k = 0; k < 15; ++k) {
        SCOPED_TRACE(kKeys[k]);
        choose(w, k);
        const QImage picture = shown(w);
        ASSERT_FALSE(picture.isNull());
        // Window column 215, the last one before the stave picture.
        const int column = 215 - w.key->x();
        ASSERT_EQ(column, 271);
        ASSERT_LT(column, picture.width());
        const int visible = std::min(w.key->height(), picture.height());
        for (int row = 0; row < visible; ++row) {
            const int windowRow = w.key->y() + row;
            const QRgb value = picture.pixel(column, row) & 0xffffff;
            EXPECT_EQ(value == 0, staveRows.count(windowRow) == 1) << "window row " << windowRow;
            EXPECT_TRUE(value == 0 || value == 0xffffff) << "black on white";
        }
        // The visible part reaches below the bottom line.
        EXPECT_GT(w.key->y() + visible, 236);
    }
}

TEST_F(Signature, NoSelectionOrATypedTextShowsC) {
    stavebass& w = makeWindow();
    EXPECT_EQ(w.keyIndex, 0);
    EXPECT_EQ(w.keyName, "C");
    EXPECT_EQ(w.key->y(), 88);
    choose(w, 9);
    ASSERT_EQ(w.keyIndex, 9);
    // Typing leaves no entry selected.
    w.Keysignature->setListIndex(-1);
    w.Keysignature->setEditText(QStringLiteral("G"));
    w.Keysignature_Change();
    EXPECT_EQ(w.keyName, "C");
    EXPECT_EQ(w.keyIndex, 0);
    EXPECT_EQ(w.key->y(), 88);
    EXPECT_EQ(shown(w),
              QImage(platform::appFile("Ckey.bmp")).convertToFormat(QImage::Format_RGB32));
}

TEST_F(Signature, TheHandPositionReloadsTheSameKey) {
    stavebass& w = makeWindow();
    choose(w, 6);
    const QImage before = shown(w);
    w.fretposition->setListIndex(5);
    w.fretposition_Change();
    w.Stringchoice->setListIndex(2);
    w.Stringchoice_Change();
    EXPECT_EQ(w.keyIndex, 6);
    EXPECT_EQ(w.key->y(), 88);
    EXPECT_EQ(shown(w), before);
}

TEST_F(Signature, TheTooltipNamesTheBassClef) {
    stavebass& w = makeWindow();
    EXPECT_EQ(w.key->toolTip(), "The bass clef and keysignature");
}

TEST_F(Signature, AMissingPictureIsReportedOnceAndThePracticeGoesOn) {
    folder->remove(QStringLiteral("Gkey.bmp"));
    stavebass& w = makeWindow();
    ASSERT_EQ(boxes.size(), 1) << "start-up names the missing picture";
    EXPECT_TRUE(boxes[0].contains("Gkey.bmp")) << boxes[0].toStdString();
    choose(w, 1);
    EXPECT_EQ(boxes.size(), 1) << "and choosing its key does not name it again";
    EXPECT_EQ(w.keyIndex, 1);
    EXPECT_EQ(w.keyName, "G");
    EXPECT_TRUE(w.key->pixmap().isNull()) << "the key area is empty";
    EXPECT_EQ(w.key->y(), 88);
    // Reloads of the same key do not report it again.
    w.fretposition->setListIndex(3);
    w.fretposition_Change();
    choose(w, 1);
    EXPECT_EQ(boxes.size(), 1);
    // Another key shows its picture again; the practice runs in G.
    choose(w, 2);
    EXPECT_FALSE(w.key->pixmap().isNull());
    choose(w, 1);
    EXPECT_EQ(w.keyIndex, 1);
    w.Start_Click();
    tick(12);
    EXPECT_FALSE(w.nextBarCopy[1].empty());
    EXPECT_EQ(boxes.size(), 1);
}

// The load's messages wait until the main window is up, then show over it, once each: here the
// missing start picture and a MIDI device that will not open (whose failed sends say so too).
TEST_F(Signature, AMissingStartPictureGivesOneBoxThoughLoadedTwice) {
    folder->remove(QStringLiteral("Ckey.bmp"));
    capture.openResult = platform::MMSYSERR_ALLOCATED;
    QList<bool> mainShown;
    platform::setMessageBoxHook([&](const QString& text) {
        boxes << text;
        mainShown << (window && window->isVisible());
    });
    stavebass& w = makeWindow(false);
    EXPECT_TRUE(boxes.isEmpty()) << "nothing shows during the load";
    handOver();
    ASSERT_EQ(boxes.size(), 3) << boxes.join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(mainShown, (QList<bool>{true, true, true}));
    platform::setMessageBoxHook([this](const QString& text) { boxes << text; });
    EXPECT_EQ(boxes.filter(QStringLiteral("Ckey.bmp")).size(), 1);
    boxes.removeDuplicates();
    EXPECT_EQ(boxes.size(), 3) << "each text once";
    boxes = boxes.filter(QStringLiteral("Ckey.bmp"));
    capture.openResult = platform::MMSYSERR_NOERROR;
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].contains("Ckey.bmp"));
    EXPECT_EQ(w.keyIndex, 0);
    EXPECT_TRUE(w.key->pixmap().isNull());
    // The list still sets the key.
    choose(w, 10);
    EXPECT_EQ(w.keyIndex, 10);
    EXPECT_EQ(w.key->y(), 80);
    EXPECT_FALSE(w.key->pixmap().isNull());
}

TEST_F(Signature, AnUnreadablePictureIsTreatedAsMissing) {
    folder->remove(QStringLiteral("Bbkey.bmp"));
    {
        QFile broken(folder->file(QStringLiteral("Bbkey.bmp")));
        ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
        broken.write("BM not a picture");
    }
    stavebass& w = makeWindow();
    choose(w, 9);
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].contains("Bbkey.bmp"));
    EXPECT_EQ(w.keyIndex, 9);
    EXPECT_TRUE(w.key->pixmap().isNull());
    EXPECT_EQ(w.key->y(), 80);
    EXPECT_EQ(w.key->height(), 240);
}

TEST_F(Signature, EachWindowReportsForItself) {
    folder->remove(QStringLiteral("Dkey.bmp"));
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        stavebass& w = makeWindow();
        choose(w, 2);
        EXPECT_EQ(boxes.size(), round);
    }
}

TEST_F(Signature, MissingPicturesAreNamedInOneMessageOverTheWindow) {
    struct Case {
        const char* what;
        QStringList removed;
        QStringList broken; // replaced by a file that is no picture
    };
    const Case cases[] = {
        {"nothing missing", {}, {}},
        {"the stave, a sprite and a button", {"stave.bmp", "stabupsprite.bmp", "start.bmp"}, {}},
        {"broken key and skin pictures", {}, {"Ckey.bmp", "Fkey.bmp", "flame.bmp"}},
        {"every picture", pictures::shipped(), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        window.reset();
        folder = std::make_unique<testing_support::ProgramFolder>();
        platform::setAppDir(folder->path());
        for (const QString& name : c.removed) {
            folder->remove(name);
        }
        for (const QString& name : c.broken) {
            folder->remove(name);
            QFile broken(folder->file(name));
            ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
            broken.write("BM not a picture");
        }
        boxes.clear();
        QList<bool> mainShown;
        platform::setMessageBoxHook([&](const QString& text) {
            boxes << text;
            mainShown << (window && window->isVisible());
        });
        stavebass& w = makeWindow(false);
        EXPECT_TRUE(boxes.isEmpty()) << "nothing shows during the load";
        handOver();
        const QStringList named = c.removed + c.broken;
        if (named.isEmpty()) {
            EXPECT_TRUE(boxes.isEmpty()) << boxes.join(" | ").toStdString();
        } else {
            ASSERT_EQ(boxes.size(), 1) << boxes.join(" | ").toStdString();
            EXPECT_EQ(mainShown, QList<bool>{true}) << "over the window";
            // "…stay empty: a.bmp, b.bmp.\r\nThey belong in…"
            QStringList listed = boxes[0]
                                     .section(QStringLiteral(": "), 1)
                                     .section(QStringLiteral(".\r\n"), 0, 0)
                                     .split(QStringLiteral(", "));
            QStringList expected = named;
            listed.sort();
            expected.sort();
            EXPECT_EQ(listed, expected) << boxes[0].toStdString();
        }
        // Without its picture the stave still has its lines.
        for (int row : {111, 112, 133, 134, 155, 156, 177, 178, 199, 200}) {
            EXPECT_EQ(w.stavePicture.pixel(500, row) & 0xffffff, 0u) << "row " << row;
        }
        EXPECT_EQ(w.stavePicture.pixel(500, 120) & 0xffffff, 0xffffffu);
        // Choosing every key names nothing again; the practice goes on.
        for (int k = 0; k < 15; ++k) {
            choose(w, k);
        }
        w.Start_Click();
        tick(8);
        EXPECT_FALSE(w.nextBarCopy[1].empty());
        EXPECT_EQ(boxes.size(), named.isEmpty() ? 0 : 1);
        w.Stop_Click();
        platform::setMessageBoxHook([this](const QString& text) { boxes << text; });
    }
}

} // namespace
