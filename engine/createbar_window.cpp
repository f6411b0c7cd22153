#include "engine/createbar.h"
#include "engine/notes.h"
#include "stave/stave_table.h"
#include "ui/stavebass.h"

#include <cmath>
#include <optional>

void stavebass::createbar1() {
    // A fresh seed per bar, mixed into the generator's state.
    const double r = random->next();
    random->randomize(static_cast<float>(std::floor(r * 100.0) + 1.0));

    reach();

    const createbar::Signs sign =
        createbar::writtenSigns(nextBar, keys::rowsOf(diatonics, keyIndex));
    for (barPos = 1; barPos <= 4; ++barPos) {
        const auto p = static_cast<std::size_t>(barPos);
        const std::optional<StavePlace> place = staveLookup(nextBar[p]);
        if (place) {
            spriteType = place->type;
            drawY = place->height;
        }
        // A name without a place keeps the layout of the note before it, as a plain note.
        nextBarOttava[p] = place && place->ottava;
        accidentalSign = sign[p];
        nextBarCopy[p] = nextBar[p];
        nextBarLayout[PracticeState::kType][p] = spriteType;
        nextBarLayout[PracticeState::kHeight][p] = drawY;
        nextBarLayout[PracticeState::kSign][p] = accidentalSign;
    }
}
