// Inputs from fuzzing the window, kept as cases: text typed into the editable lists as key
// presses (characters beyond ASCII, control characters, editing keys), and skin files that are not
// what the program writes.
#include "engine/notes.h"
#include "stave/stave_table.h"
#include "support/window_fixture.h"
#include "ui/editcombo.h"

#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <string>

namespace {

using testing_support::WindowTest;

// Presses the keys that type `text` on the list itself, one character at a time; control
// characters come as their editing keys with no text.
void typeInto(EditCombo* list, const QString& text) {
    for (const char32_t c : text.toUcs4()) {
        Qt::Key key = Qt::Key_unknown;
        QString one = QString::fromUcs4(&c, 1);
        if (c == 0x08) {
            key = Qt::Key_Backspace;
        } else if (c == 0x0D) {
            key = Qt::Key_Return;
        } else if (c == 0x7F) {
            key = Qt::Key_Delete;
        }
        if (c < 0x20 || c == 0x7F) {
            one.clear();
        }
        QTest::sendKeyEvent(QTest::Click, list, key, one, Qt::NoModifier);
    }
}

struct Typed {
    const char* what;
    QString text;
};

class TypedText : public WindowTest, public ::testing::WithParamInterface<Typed> {};

// Whatever is typed into any of the lists, the next bars are made from notes the stave can draw
// and the synthesiser can play, no message comes up, and the typed text stays in the list with no
// entry selected.
TEST_P(TypedText, AnyTextInAnyListLeavesPlayableBars) {
    stavebass& w = makeWindow();
    w.Keysignature->setListIndex(9); // Bb, chosen
    w.Keysignature_Click();
    ASSERT_EQ(w.keyIndex, 9);
    struct Target {
        EditCombo* list;
        void (stavebass::*edited)();
    };
    const Target targets[] = {{w.Keysignature, &stavebass::Keysignature_Change},
                              {w.fretposition, &stavebass::fretposition_Change},
                              {w.Stringchoice, &stavebass::Stringchoice_Change},
                              {w.intervaldistance, &stavebass::intervaldistance_Change},
                              {w.accif, nullptr}};
    for (const Target& target : targets) {
        target.list->setListIndex(1);
        target.list->lineEdit()->selectAll();
        typeInto(target.list, GetParam().text);
        EXPECT_EQ(target.list->listIndex(), -1) << GetParam().what;
        if (target.edited == nullptr) {
            continue;
        }
        // The handler ran from the edit itself; running it again changes nothing.
        (w.*target.edited)();
    }
    // A typed key name chooses nothing: the stave goes back to C.
    EXPECT_EQ(w.keyIndex, 0) << GetParam().what;
    w.Start_Click();
    for (int beat = 0; beat < 9; ++beat) {
        w.onTimer1();
    }
    w.Stop_Click();
    for (const PracticeState::Bar* bar : {&w.currentBar, &w.nextBar}) {
        for (std::size_t p = 1; p <= 4; ++p) {
            const std::string& n = (*bar)[p];
            EXPECT_TRUE(notes::writtenNumber(n).has_value() && staveLookup(n).has_value())
                << GetParam().what << ": \"" << n << '"';
        }
    }
    EXPECT_TRUE(boxes.isEmpty()) << GetParam().what << ": "
                                 << boxes.join(QStringLiteral("; ")).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Fuzzed, TypedText,
    ::testing::Values(
        // The first input the fuzzer found: two bytes that are no UTF-8, then a letter beyond
        // ASCII and control characters (the typing helper then assumed ASCII).
        Typed{"bytes that are no UTF-8",
              QString::fromUtf8("\xff\xff_\xe0\x00\x03*\x80\x01\x02", 10)},
        Typed{"letters beyond ASCII", QStringLiteral(u"Bé♭𝄢ß")},
        Typed{"a key name", QStringLiteral("F#")}, Typed{"a path", QStringLiteral("../../Ckey")},
        Typed{"a huge number", QStringLiteral("99999999999999999999")},
        Typed{"editing keys", QString::fromUtf8("ab\x08\x08\x7f\x0d", 6)},
        Typed{"blanks", QStringLiteral("   \t ")}),
    [](const ::testing::TestParamInfo<Typed>& info) {
        return "Case" + std::to_string(info.index);
    });

struct SkinCase {
    const char* what;
    QByteArray file;
    int16_t number;      // the skin number after the start
    QByteArray fileThen; // the file after the start
};

class SkinFile : public WindowTest, public ::testing::WithParamInterface<SkinCase> {};

TEST_P(SkinFile, ReadAtStartAsItsFirstNumber) {
    const SkinCase& c = GetParam();
    {
        QFile file(folder->file(QStringLiteral("skins.txt")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.file);
    }
    stavebass& w = makeWindow();
    EXPECT_EQ(w.skinNumber, c.number) << c.what;
    QFile file(folder->file(QStringLiteral("skins.txt")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), c.fileThen) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Fuzzed, SkinFile,
    ::testing::Values(SkinCase{"blanks and line ends first", "\r\n \t 5\r\n", 5, "5\r\n"},
                      SkinCase{"a plus sign", "+3", 3, "3\r\n"},
                      SkinCase{"leading zeros", "000000000000000000006 and more", 6, "6\r\n"},
                      SkinCase{"a negative number", "-2\r\n", -2, "-2\r\n"},
                      SkinCase{"the largest number", "32767", 32767, "32767"},
                      SkinCase{"one past the largest", "32768", 0, "32768"},
                      SkinCase{"the smallest number", "-32768", -32768, "-32768"},
                      SkinCase{"a byte order mark first",
                               "\xef\xbb\xbf"
                               "5\r\n",
                               0,
                               "\xef\xbb\xbf"
                               "5\r\n"},
                      SkinCase{"a NUL first",
                               QByteArray("\0"
                                          "5",
                                          2),
                               0,
                               QByteArray("\0"
                                          "5",
                                          2)},
                      SkinCase{"a sign alone", "-", 0, "-"}, SkinCase{"empty", "", 0, ""}),
    [](const ::testing::TestParamInfo<SkinCase>& info) {
        return "Case" + std::to_string(info.index);
    });

} // namespace
