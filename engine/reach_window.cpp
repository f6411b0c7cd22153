#include "engine/indexnote.h"
#include "engine/reach.h"
#include "ui/editcombo.h"
#include "ui/stavebass.h"

#include <QLabel>

void stavebass::reach() {
    const auto zeroIfNone = [](int index) { return index < 0 ? 0 : index; };
    for (std::size_t p = 1; p <= 4; ++p) {
        indexnotefind();
        reach::Settings settings;
        settings.s = zeroIfNone(Stringchoice->listIndex());
        settings.f = zeroIfNone(fretposition->listIndex());
        settings.t = zeroIfNone(intervaldistance->listIndex());
        settings.a = accif->listIndex();
        settings.diatonicOnly = diatonicOnly;
        settings.keyIndex = keyIndex;
        const std::string caption = finger->text().toStdString();
        const reach::IndexFinger index{indexNote, indexNotePos, indexRow, caption};
        nextBar[p] = reach::note(settings, index, noteNames, diatonics, *random);
    }
    if (alternateFromIndex) {
        nextBar[1] = indexNote;
        nextBar[3] = indexNote;
    }
}
