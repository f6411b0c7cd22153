#include "engine/keys.h"
#include "ui/editcombo.h"
#include "ui/stavebass.h"

#include <QCheckBox>

void stavebass::loaddiatonics() {
    diatonics = keys::buildDiatonics();
}

void stavebass::Check1_Click() {
    indexnotefind();
    switch (Check1->checkState()) {
    case Qt::Unchecked:
        diatonicOnly = false;
        accif->setVisible(true);
        break;
    case Qt::Checked:
        diatonicOnly = true;
        accif->setVisible(false);
        break;
    case Qt::PartiallyChecked: // a greyed box changes nothing
        break;
    }
}

void stavebass::Keysignature_Click() {
    signature();
}

void stavebass::Keysignature_Change() {
    signature();
    indexnotefind();
}
