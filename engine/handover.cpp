// The waiting bar becomes the bar being played.
#include "engine/notes.h"
#include "ui/stavebass.h"

#include <QCheckBox>

void stavebass::createbar2() {
    for (std::size_t p = 1; p <= 4; ++p) {
        currentBar[p] = nextBar[p];
    }
    const bool metronome = Check4->checkState() == Qt::Checked;
    for (barPos = 1; barPos <= 4; ++barPos) {
        const auto p = static_cast<std::size_t>(barPos);
        if (currentBar[p].empty()) {
            continue; // its layout and pitch keep their old values
        }
        for (std::size_t row = 1; row <= 3; ++row) {
            currentBarLayout[row][p] = nextBarLayout[row][p];
        }
        currentBarOttava[p] = nextBarOttava[p];
        if (metronome) {
            continue; // the pitch stays that of the last bar handed over with notes on
        }
        if (const auto number = notes::writtenNumber(currentBar[p])) {
            currentBarPitches[p] = static_cast<int16_t>(*number);
        }
    }
}

void stavebass::Check3_Click() {
    indexnotefind();
    switch (Check3->checkState()) {
    case Qt::Unchecked:
        alternateFromIndex = false;
        break;
    case Qt::Checked:
        alternateFromIndex = true;
        break;
    default:
        break;
    }
}
