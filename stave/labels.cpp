// The names of the bar being played, above it.
#include "engine/notes.h"
#include "ui/stavebass.h"

#include <QCheckBox>
#include <QLabel>

void stavebass::updatenotelabels() {
    bool allEmpty = true;
    for (std::size_t p = 1; p <= 4; ++p) {
        allEmpty = allEmpty && currentBar[p].empty();
    }
    if (allEmpty) {
        return;
    }
    QLabel* labels[5] = {nullptr, Label13, Label14, Label15, Label16};
    for (std::size_t p = 1; p <= 4; ++p) {
        labels[p]->setText(QString::fromStdString(notes::withoutOctave(currentBar[p])));
    }
}

void stavebass::Check2_Click() {
    const Qt::CheckState state = Check2->checkState();
    if (state != Qt::PartiallyChecked) {
        for (QLabel* l : {Label13, Label14, Label15, Label16}) {
            l->setVisible(state == Qt::Checked);
        }
    }
    indexnotefind();
}
