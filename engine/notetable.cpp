#include "engine/notes.h"
#include "ui/stavebass.h"

void stavebass::NoteArrayfill() {
    noteNames = notes::chromaticTable();
}
