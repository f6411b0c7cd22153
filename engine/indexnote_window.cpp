#include "engine/indexnote.h"
#include "ui/editcombo.h"
#include "ui/stavebass.h"

#include <QLabel>

void stavebass::indexnotefind() {
    const int s = Stringchoice->listIndex();
    const int f = fretposition->listIndex();
    const indexnote::IndexNote found =
        indexnote::find(s, f, keyIndex, noteNames, diatonics, indexNote, indexNotePos);
    indexNote = found.note;
    indexNotePos = found.pos;
    indexRow = found.row;
    finger->setText(QString::fromStdString(found.caption));
}

void stavebass::fretposition_Change() {
    signature();
    indexnotefind();
}

void stavebass::Stringchoice_Change() {
    fretposition_Change();
    indexnotefind();
}

void stavebass::intervaldistance_Change() {
    indexnotefind();
}
