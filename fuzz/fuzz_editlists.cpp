// The typed texts of the editable lists: arbitrary bytes typed as UTF-8 into the text parts of the
// real window's key, fret, string and distance lists (and the odds list), mixed with choices from
// the lists and the option boxes, then beats enough for a bar to be handed over and a new one made.
// Every note of both bars must then be one the stave can draw and the synthesiser can play.
#include "engine/notes.h"
#include "fuzz_window.h"
#include "stave/stave_table.h"
#include "ui/editcombo.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <cstddef>
#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>

namespace {

void check(bool ok) {
    if (!ok) {
        __builtin_trap();
    }
}

void checkBar(const PracticeState::Bar& bar) {
    for (std::size_t p = 1; p <= 4; ++p) {
        const auto number = notes::writtenNumber(bar[p]);
        check(number.has_value() && *number >= 40 && *number <= 80);
        check(staveLookup(bar[p]).has_value());
    }
}

// The key a typed character comes on: the editing keys for their control characters, letters and
// digits for themselves, and no particular key for anything else (its text is what counts).
Qt::Key keyOf(char32_t c) {
    switch (c) {
    case 0x08:
        return Qt::Key_Backspace;
    case 0x09:
        return Qt::Key_Tab;
    case 0x0A:
    case 0x0D:
        return Qt::Key_Return;
    case 0x1B:
        return Qt::Key_Escape;
    case 0x7F:
        return Qt::Key_Delete;
    default:
        break;
    }
    if (c >= 'a' && c <= 'z') {
        return static_cast<Qt::Key>(Qt::Key_A + static_cast<int>(c - 'a'));
    }
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ') {
        return static_cast<Qt::Key>(c);
    }
    return Qt::Key_unknown;
}

// Types the text into the list character by character, as key presses on the list.
void type(EditCombo* list, const QString& text) {
    for (const char32_t c : text.toUcs4()) {
        QString one = QString::fromUcs4(&c, 1);
        if (c < 0x20 || c == 0x7F) {
            one.clear(); // the editing keys carry no text
        }
        QTest::sendKeyEvent(QTest::Click, list, keyOf(c), one, Qt::NoModifier);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    stavebass& w = fuzzwindow::window();
    FuzzedDataProvider in(data, size);
    EditCombo* const lists[] = {w.Keysignature, w.fretposition, w.Stringchoice, w.intervaldistance,
                                w.accif};
    QCheckBox* const boxes[] = {w.Check1, w.Check3};

    const int steps = in.ConsumeIntegralInRange(1, 8);
    for (int step = 0; step < steps && in.remaining_bytes() > 0; ++step) {
        EditCombo* list = lists[in.ConsumeIntegralInRange<std::size_t>(0, 4)];
        switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0: { // typed key by key, as the player types
            const std::string typed = in.ConsumeRandomLengthString(24);
            list->lineEdit()->selectAll();
            type(list, QString::fromUtf8(typed.data(), static_cast<qsizetype>(typed.size())));
            break;
        }
        case 1: { // a whole text at once, as a paste does
            const std::string typed = in.ConsumeRandomLengthString(64);
            const QString text =
                QString::fromUtf8(typed.data(), static_cast<qsizetype>(typed.size()));
            list->lineEdit()->setText(text);
            emit list->lineEdit()->textEdited(text);
            break;
        }
        case 2: { // chosen from the drop-down
            const int index = in.ConsumeIntegralInRange(-1, list->count() - 1);
            list->setCurrentIndex(index);
            emit list->activated(index);
            break;
        }
        default: {
            QCheckBox* box = boxes[in.ConsumeIntegralInRange<std::size_t>(0, 1)];
            box->setCheckState(static_cast<Qt::CheckState>(in.ConsumeIntegralInRange(0, 2)));
            break;
        }
        }
    }
    // Five beats always take in a fourth one.
    for (int beat = 0; beat < 5; ++beat) {
        w.onTimer1();
    }
    check(w.beatNumber >= 1 && w.beatNumber <= 4);
    checkBar(w.nextBar);
    checkBar(w.currentBar);
    fuzzwindow::clearCapture();
    return 0;
}
