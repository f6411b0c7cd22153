#include "engine/createbar.h"

#include "engine/notes.h"
#include "stave/stave_table.h"

#include <cmath>
#include <optional>

namespace createbar {

namespace {

int16_t ownSign(const std::string& n) {
    if (!n.empty() && n.back() == '#') {
        return kSharp;
    }
    if (!n.empty() && n.back() == 'b') {
        return kFlat;
    }
    if (n.size() == 1) {
        return kNatural;
    }
    return kNone;
}

} // namespace

Signs signs(const Bar& bar, const keys::KeyRows& keyRows) {
    std::array<std::string, 5> n{};  // the name without its octave digit
    std::array<std::string, 5> l{};  // its letter
    std::array<bool, 5> inKey{};     // one of the key's scale spellings
    std::array<bool, 5> respelled{}; // an earlier letter back with another accidental
    std::array<int16_t, 5> own{};
    for (std::size_t p = 1; p <= 4; ++p) {
        n[p] = notes::withoutOctave(bar[p]);
        l[p] = n[p].substr(0, 1);
        own[p] = ownSign(n[p]);
        for (std::size_t k = 0; k <= 7; ++k) {
            if (n[p] == notes::withoutOctave(keyRows[k])) {
                inKey[p] = true;
            }
        }
    }

    Signs sign{};
    // Position 1.
    sign[1] = kNone;
    if (!inKey[1]) {
        sign[1] = own[1];
    }

    // Position 2.
    [&] {
        sign[2] = kNone;
        if (n[2] == n[1]) {
            return;
        }
        if (l[2] == l[1]) {
            respelled[2] = true;
            sign[2] = own[2];
            return;
        }
        if (!inKey[2]) {
            sign[2] = own[2];
        }
    }();

    // Position 3.
    [&] {
        sign[3] = kNone;
        if (n[3] == n[2]) {
            return;
        }
        if (l[3] == l[2]) {
            respelled[3] = true;
            sign[3] = own[3];
        }
        if (!respelled[2] && n[3] == n[1]) {
            sign[3] = kNone;
            return;
        }
        if (!respelled[2] && n[3] != n[1] && l[3] == l[1]) {
            respelled[3] = true;
            sign[3] = own[3];
        }
        if (!respelled[3] && !inKey[3]) {
            sign[3] = own[3];
        }
    }();

    // Position 4.
    [&] {
        sign[4] = kNone;
        if (n[4] == n[3]) {
            return;
        }
        if (l[4] == l[3]) {
            respelled[4] = true;
            sign[4] = own[4];
        }
        if (!respelled[3] && n[4] == n[2]) {
            sign[4] = kNone;
            return;
        }
        if (!respelled[4] && n[4] != n[2] && l[4] == l[2]) {
            respelled[4] = true;
            sign[4] = own[4];
        }
        // Only a note that does not change the letter the third note just changed may go
        // unsigned here: "F#", "G", "F", "F#" needs its sharp back.
        if (!respelled[4] && !respelled[2] && n[4] == n[1] && n[4] != n[3]) {
            sign[4] = kNone;
            return;
        }
        if (!respelled[4] && n[4] != n[1] && l[4] == l[1]) {
            respelled[4] = true;
            sign[4] = own[4];
        }
        if (!respelled[4] && !inKey[4]) {
            sign[4] = own[4];
        }
    }();
    return sign;
}

Signs writtenSigns(const Bar& bar, const keys::KeyRows& keyRows) {
    Signs sign = signs(bar, keyRows);
    // An accidental holds only on its own line or space: a sign on A#1 says nothing of the A two
    // lines up.  So a note the rule above leaves bare still needs its own sign when the
    // accidental in force on its written line or space (the key signature's, changed by earlier
    // signs on that line or space) is not its own.  An 8va note counts where it is written.
    std::array<std::optional<StavePlace>, 5> place{};
    for (std::size_t p = 1; p <= 4; ++p) {
        place[p] = staveLookup(bar[p]);
        if (!place[p] || bar[p].empty()) {
            continue;
        }
        int16_t inForce = kNatural;
        for (std::size_t k = 1; k <= 7; ++k) {
            const std::string spelt = notes::withoutOctave(keyRows[k]);
            if (!spelt.empty() && spelt[0] == bar[p][0]) {
                inForce = ownSign(spelt);
            }
        }
        for (std::size_t q = 1; q < p; ++q) {
            const bool sameRow = place[q] && place[q]->type == place[p]->type &&
                                 place[q]->height == place[p]->height;
            if (sameRow && sign[q] != kNone) {
                inForce = sign[q];
            }
        }
        const int16_t own = ownSign(notes::withoutOctave(bar[p]));
        if (sign[p] == kNone && inForce != own) {
            sign[p] = own;
        }
    }
    return sign;
}

} // namespace createbar
