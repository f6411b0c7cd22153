// The skins and the skin file: what each skin puts on, what the file holds after it, and every
// file that must put on nothing and lose nothing.
#include "platform/appdir.h"
#include "platform/userfile.h"
#include "support/window_fixture.h"
#include "ui/captions.h"
#include "ui/clientarea.h"
#include "ui/editcombo.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <unistd.h>

namespace {

using testing_support::WindowTest;

QColor buttonText() {
    return QApplication::palette().color(QPalette::ButtonText);
}
QColor textOf(const QLabel* l) {
    return l->palette().color(QPalette::WindowText);
}

// The window colour and the eight caption colours in the order the skins set them.
struct Look {
    QColor window, label3, label7, label2, label1, label8, label9, label10, label4;
    bool operator==(const Look&) const = default;
};

void PrintTo(const Look& l, std::ostream* os) {
    for (const QColor& c : {l.window, l.label3, l.label7, l.label2, l.label1, l.label8, l.label9,
                            l.label10, l.label4}) {
        *os << c.name().toStdString() << ' ';
    }
}

Look lookOf(const stavebass& w) {
    return {w.backgroundColour, textOf(w.Label3),  textOf(w.Label7),
            textOf(w.Label2),   textOf(w.Label1),  textOf(w.Label8),
            textOf(w.Label9),   textOf(w.Label10), textOf(w.Label4)};
}

Look skinLook(QColor window, QColor a, QColor l1, QColor b, QColor l4) {
    return {window, a, a, a, l1, b, b, b, l4};
}

const QColor kBlue(0, 0, 255), kBlack(0, 0, 0), kWhite(255, 255, 255);

// The window as designed, with no skin on.
Look designedLook() {
    return skinLook(QColor(0, 0, 192), kBlue, kBlue, kBlack,
                    QApplication::palette().color(QPalette::WindowText));
}

struct SkinCase {
    const char* name;
    void (stavebass::*apply)();
    int number;
    const char* picture;
    std::function<Look()> look;
};

const std::vector<SkinCase>& skinCases() {
    static const std::vector<SkinCase> cases{
        {"flame", &stavebass::flame, 1, "flame.bmp",
         [] { return skinLook(QColor(255, 0, 0), kBlue, kBlue, kBlack, buttonText()); }},
        {"sci", &stavebass::sci, 2, "trinity2k2.jpg",
         [] { return skinLook(QColor(0, 0, 192), buttonText(), kBlue, kWhite, kWhite); }},
        {"sky", &stavebass::sky, 3, "land1.jpg",
         [] { return skinLook(kWhite, kBlue, kWhite, kWhite, kWhite); }},
        {"cor", &stavebass::cor, 5, "3db1.gif",
         [] { return skinLook(buttonText(), kWhite, kWhite, kWhite, kWhite); }},
        {"ind", &stavebass::ind, 6, "industry.jpg",
         [] { return skinLook(buttonText(), kWhite, kWhite, kWhite, kWhite); }},
    };
    return cases;
}

const SkinCase& caseFor(int number) {
    for (const SkinCase& c : skinCases()) {
        if (c.number == number) {
            return c;
        }
    }
    throw std::logic_error("no such skin");
}

class Skins : public WindowTest {
protected:
    // The system's colours for text on buttons and for window text are set apart from every
    // colour of the table, so that a caption given the wrong one shows.
    void SetUp() override {
        WindowTest::SetUp();
        saved = QApplication::palette();
        QPalette pal = saved;
        pal.setColor(QPalette::ButtonText, QColor(10, 20, 30));
        pal.setColor(QPalette::WindowText, QColor(40, 50, 60));
        QApplication::setPalette(pal);
    }
    void TearDown() override {
        WindowTest::TearDown();
        QApplication::setPalette(saved);
    }
    QPalette saved;
    QString skinFile() const { return folder->file(QStringLiteral("skins.txt")); }
    void writeSkinFile(const QByteArray& bytes) const {
        QFile f(skinFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    static QByteArray read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }
    QByteArray skinBytes() const { return read(skinFile()); }
    QImage picture(const char* name) const {
        return QImage(folder->file(QString::fromLatin1(name)))
            .convertToFormat(QImage::Format_RGB32);
    }
};

TEST_F(Skins, EachSkinPutsOnItsLookAndWritesItsDigit) {
    stavebass& w = makeWindow();
    for (const SkinCase& c : skinCases()) {
        SCOPED_TRACE(c.name);
        (w.*c.apply)();
        EXPECT_EQ(lookOf(w), c.look());
        EXPECT_EQ(w.skinNumber, c.number);
        EXPECT_EQ(skinBytes(), QByteArray::number(c.number) + "\r\n");
        ASSERT_FALSE(w.backgroundPicture.isNull());
        EXPECT_EQ(w.backgroundPicture.size(), QSize(768, 512));
        EXPECT_EQ(w.backgroundPicture.toImage().convertToFormat(QImage::Format_RGB32),
                  picture(c.picture));
    }
    EXPECT_TRUE(boxes.isEmpty());
    // The replacement is renamed over the old file: nothing is left beside it.
    EXPECT_EQ(QDir(folder->path()).entryList({QStringLiteral("skins.txt*")}, QDir::AllEntries),
              QStringList{QStringLiteral("skins.txt")});
}

// As a player sees the window in the designed look and every skin, with both hidden lists shown:
// every caption reads against what is drawn behind it, the logo leaves the stave whole, the key
// picture and the stave make one white sheet, and the two lists cover nothing.
TEST_F(Skins, EveryCaptionReadsAndNothingCoversTheStaveOrAControl) {
    stavebass& w = makeWindow();
    w.Check1->setCheckState(Qt::Unchecked);
    w.Check4->setCheckState(Qt::Unchecked);
    std::vector<std::pair<std::string, void (stavebass::*)()>> looks{{"designed", nullptr}};
    for (const SkinCase& c : skinCases()) {
        looks.emplace_back(c.name, c.apply);
    }
    QWidget* area = w.Image3->parentWidget(); // the client area
    for (const auto& [name, apply] : looks) {
        SCOPED_TRACE(name);
        if (apply != nullptr) {
            (w.*apply)();
        }
        for (QLabel* label : {w.Label1, w.Label2, w.Label3, w.Label4, w.Label5, w.Label6, w.Label7,
                              w.Label8, w.Label9, w.Label10}) {
            // What is behind the words: the window drawn with this caption's text taken away.
            const QString text = label->text();
            label->setText(QString());
            const QImage behind = area->grab().toImage().convertToFormat(QImage::Format_RGB32);
            label->setText(text);
            const QRect words = label->contentsRect().translated(label->pos());
            EXPECT_GE(captions::worstContrast(textOf(label), behind, words), captions::kReadable)
                << text.toStdString();
        }
        const QImage shown = area->grab().toImage().convertToFormat(QImage::Format_RGB32);
        // Below the logo, from the left edge to the stave's end: black and white and the greys
        // between, nothing of the skin.
        int coloured = 0;
        for (int y = w.Picture1->geometry().bottom() + 1; y < stavebass::kSheetBottom; ++y) {
            for (int x = 0; x < stavebass::kStaveLeft + 664; ++x) {
                const QRgb px = shown.pixel(x, y);
                coloured += (qRed(px) != qGreen(px) || qGreen(px) != qBlue(px)) ? 1 : 0;
            }
        }
        EXPECT_EQ(coloured, 0);
    }
    EXPECT_FALSE(w.Picture1->geometry().intersects(w.Image3->geometry()));
    for (QWidget* list : {static_cast<QWidget*>(w.accif), static_cast<QWidget*>(w.aspitch)}) {
        ASSERT_TRUE(list->isVisible());
        for (QWidget* other : area->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (other != list && other->isVisible()) {
                EXPECT_FALSE(list->geometry().intersects(other->geometry()))
                    << other->metaObject()->className() << " " << other->objectName().toStdString()
                    << " at " << other->x() << "," << other->y();
            }
        }
    }
}

TEST_F(Skins, CorporateIsThreeBytes) {
    makeWindow().cor();
    EXPECT_EQ(skinBytes(), QByteArray("\x35\x0D\x0A", 3));
}

TEST_F(Skins, TheSkinPaintsTheClientArea) {
    stavebass& w = makeWindow();
    w.ind();
    const QImage shown =
        w.Image3->parentWidget()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage skin = picture("industry.jpg");
    // A corner that no control covers shows the picture; below the picture, the window colour.
    EXPECT_EQ(shown.pixel(250, 2), skin.pixel(250, 2));
    EXPECT_EQ(QColor(shown.pixel(800, 530)), buttonText());
}

TEST_F(Skins, MenuEntriesPutOnTheirSkins) {
    stavebass& w = makeWindow();
    const QList<QAction*> entries = w.skins->actions();
    ASSERT_EQ(entries.size(), 4);
    struct Entry {
        const char* caption;
        int number;
    };
    const Entry expected[] = {
        {"Flame Thrower", 1}, {"Corporate", 5}, {"Peaceful", 2}, {"Industrial", 6}};
    QList<int> picked;
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(expected[i].caption);
        EXPECT_EQ(entries[i]->text(), QString::fromLatin1(expected[i].caption));
        entries[i]->trigger();
        EXPECT_EQ(w.skinNumber, expected[i].number);
        EXPECT_EQ(lookOf(w), caseFor(expected[i].number).look());
        picked << w.skinNumber;
    }
    EXPECT_FALSE(picked.contains(3)) << "the sky skin is put on only through the skin file";
}

// A file holding a skin's number puts that skin on at start and is rewritten as digit, CR LF.
TEST_F(Skins, AFileWithASkinNumberPutsItOnAtStart) {
    struct Case {
        QByteArray content;
        int number;
    };
    const Case cases[] = {
        {"1\r\n", 1}, {"2\r\n", 2},       {"3\r\n", 3},      {"5", 5},  {"5\r\n", 5}, {"6\n", 6},
        {" 6 ", 6},   {"\r\n  2\r\n", 2}, {"5\r\n1\r\n", 5}, {"+5", 5}, {"05", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content.toStdString());
        writeSkinFile(c.content);
        stavebass& w = makeWindow();
        EXPECT_EQ(w.skinNumber, c.number);
        EXPECT_EQ(lookOf(w), caseFor(c.number).look());
        EXPECT_EQ(skinBytes(), QByteArray::number(c.number) + "\r\n");
        EXPECT_TRUE(boxes.isEmpty());
        window.reset();
    }
}

// Files that name no skin: nothing is put on, nothing is said, and the file stays as it was.
TEST_F(Skins, AFileWithoutASkinPutsNothingOn) {
    struct Case {
        const char* name;
        QByteArray content;
        int16_t numberAfter;
    };
    const Case cases[] = {
        {"empty", QByteArray(), 0},
        {"letters", "abc", 0},
        {"four", "4\r\n", 4},
        {"zero", "0\r\n", 0},
        {"seven", "7\r\n", 7},
        {"negative", "-5\r\n", -5},
        {"huge", "99999999999999999999\r\n", 0},
        {"just over the range", "32768", 0},
        {"huge negative", "-99999999999999999999", 0},
        {"binary", QByteArray("\x00\xff\x05\x35\x0d\x0a", 6), 0},
        {"word first", "skin 5", 0},
        {"only a sign", "-", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeSkinFile(c.content);
        stavebass& w = makeWindow();
        EXPECT_EQ(lookOf(w), designedLook());
        EXPECT_EQ(w.skinNumber, c.numberAfter);
        EXPECT_EQ(skinBytes(), c.content) << "the file is left as it was";
        EXPECT_TRUE(boxes.isEmpty());
        window.reset();
    }
}

TEST_F(Skins, AMissingFileStaysMissingUntilASkinIsPicked) {
    stavebass& w = makeWindow();
    EXPECT_EQ(lookOf(w), designedLook());
    EXPECT_FALSE(QFile::exists(skinFile()));
    w.scifi_Click();
    EXPECT_EQ(skinBytes(), QByteArray("2\r\n"));
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(Skins, AFolderInPlaceOfTheFileIsNeitherReadNorLost) {
    ASSERT_TRUE(QDir(folder->path()).mkdir(QStringLiteral("skins.txt")));
    QFile keep(skinFile() + QStringLiteral("/keep"));
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.close();

    stavebass& w = makeWindow();
    EXPECT_EQ(lookOf(w), designedLook());
    // The save cannot replace a folder: the skin is on, the folder and what it holds are kept.
    w.cor();
    EXPECT_EQ(lookOf(w), caseFor(5).look());
    EXPECT_TRUE(QFileInfo(skinFile()).isDir());
    EXPECT_TRUE(QFile::exists(skinFile() + QStringLiteral("/keep")));
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(Skins, AMissingPictureLeavesTheColours) {
    folder->remove(QStringLiteral("3db1.gif"));
    stavebass& w = makeWindow();
    ASSERT_EQ(boxes.size(), 1) << "start-up names the missing picture";
    EXPECT_TRUE(boxes[0].contains("3db1.gif"));
    w.cor();
    EXPECT_TRUE(w.backgroundPicture.isNull());
    EXPECT_EQ(lookOf(w), caseFor(5).look());
    EXPECT_EQ(skinBytes(), QByteArray("5\r\n"));
    EXPECT_EQ(boxes.size(), 1) << "and nothing more when its skin is chosen";
}

// Where the program's folder cannot be written the skin file lives in the user's configuration
// folder.
class SkinsElsewhere : public Skins {
protected:
    void SetUp() override {
        Skins::SetUp();
        oldConfig = qgetenv("XDG_CONFIG_HOME");
        hadConfig = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    }
    void TearDown() override {
        if (!folder->path().isEmpty()) {
            QFile::setPermissions(folder->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ExeOwner);
        }
        if (hadConfig) {
            qputenv("XDG_CONFIG_HOME", oldConfig);
        } else {
            qunsetenv("XDG_CONFIG_HOME");
        }
        Skins::TearDown();
    }
    QString configCopy() const { return config.path() + QStringLiteral("/clefwork/skins.txt"); }

    QTemporaryDir config;
    QByteArray oldConfig;
    bool hadConfig = false;
};

TEST_F(SkinsElsewhere, AMissingProgramFolderSendsTheFileToTheConfigFolder) {
    stavebass& w = makeWindow();
    ASSERT_TRUE(configCopy().startsWith(config.path()));
    platform::setAppDir(config.path() + QStringLiteral("/no such folder"));
    EXPECT_FALSE(platform::appDirWritable());

    w.cor();
    EXPECT_EQ(lookOf(w), caseFor(5).look()) << "the colours go on without the picture";
    EXPECT_EQ(read(configCopy()), QByteArray("5\r\n"));

    // Read back from where it was written.
    w.flame();
    EXPECT_EQ(read(configCopy()), QByteArray("1\r\n"));
    w.skinNumber = 0;
    w.loadskin();
    EXPECT_EQ(w.skinNumber, 1);
    EXPECT_EQ(lookOf(w), caseFor(1).look());
    EXPECT_TRUE(boxes.isEmpty());
    EXPECT_EQ(platform::configFile(QStringLiteral("skins.txt")), configCopy());

    // A file an earlier version left one folder deeper is read while there is no new one.
    const QString old = config.path() + QStringLiteral("/clefwork/clefwork/skins.txt");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(old).absolutePath()));
    {
        QFile f(old);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("4\r\n");
    }
    ASSERT_TRUE(QFile::remove(configCopy()));
    w.loadskin();
    EXPECT_EQ(w.skinNumber, 4);
    w.flame();
    EXPECT_EQ(read(configCopy()), QByteArray("1\r\n")) << "new writes go to the new place";
}

TEST_F(SkinsElsewhere, AReadOnlyProgramFolderKeepsItsCopyAndReadsTheNewest) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "running as root: folder permissions do not stop writes (the missing "
                        "folder case covers the configuration folder)";
    }
    writeSkinFile("2\r\n");
    ASSERT_TRUE(
        QFile::setPermissions(folder->path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    ASSERT_FALSE(platform::appDirWritable());

    // With no copy in the configuration folder yet, the program folder's copy is read.
    stavebass& w = makeWindow();
    EXPECT_EQ(lookOf(w), caseFor(2).look());
    EXPECT_EQ(skinBytes(), QByteArray("2\r\n"));
    EXPECT_EQ(read(configCopy()), QByteArray("2\r\n"));

    w.ind();
    EXPECT_EQ(skinBytes(), QByteArray("2\r\n")) << "the program folder's copy is untouched";
    window.reset();
    stavebass& again = makeWindow();
    EXPECT_EQ(again.skinNumber, 6);
    EXPECT_TRUE(boxes.isEmpty());
}

} // namespace
