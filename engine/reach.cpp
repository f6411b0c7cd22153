#include "engine/reach.h"

#include "engine/indexnote.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace reach {

namespace {

// A row pick that keeps landing on "Eb0" gives up after this many draws and takes the row above
// (a uniform generator needs more than one draw here about once in a hundred bars).
constexpr int kMaxRedraws = 64;

std::pair<int, int> windowOf(const Window& window, int s, int t) {
    return window[static_cast<std::size_t>(std::clamp(s, 0, 3))]
                 [static_cast<std::size_t>(std::clamp(t, 0, 4))];
}

int floorTimes(double r, int n) {
    return static_cast<int>(std::floor(r * n));
}

bool chromaticSpace(const Settings& set, RandomSource& random) {
    if (set.diatonicOnly) {
        return false;
    }
    if (set.a == 3) {
        return true;
    }
    const int n = set.a == 1 ? 3 : set.a == 2 ? 2 : 5;
    return floorTimes(random.next(), n) == 1;
}

std::string chromaticNote(const Settings& set, const IndexFinger& finger,
                          const NoteTable& noteNames, RandomSource& random) {
    int b = 0;
    int lower = 0;
    int upper = 0;
    if (set.f == 0) {
        b = 1;
        upper = 40;
    } else {
        b = finger.pos;
        std::tie(lower, upper) = windowOf(kChromaticWindow, set.s, set.t);
    }
    if (finger.caption.size() == 2) {
        // The index finger stands on a sharp or flat.
        upper -= 1;
        if (finger.caption.back() == '#') {
            b += 1;
        } else if (finger.caption.back() == 'b') {
            b -= 1;
        }
    }
    b = std::max(b - lower, 1);
    upper = std::min(upper, 39);
    const int span = upper + lower;

    const int q = std::clamp(b + floorTimes(random.next(), span), 1, 41);
    std::string name = noteNames[static_cast<std::size_t>(q)];
    const int coin = floorTimes(random.next(), 2) + 1;
    if (q > b + 1 && coin == 1) {
        // Written a whole tone lower on the same letter ("F#1" as "Fb1"), or E and B as the
        // enharmonic Fb and Cb.
        if (name.size() == 3 && name[1] == '#') {
            name = std::string(1, name[0]) + 'b' + name[2];
        } else if (name.size() == 2 && name[0] == 'E') {
            name = std::string("Fb") + name[1];
        } else if (name.size() == 2 && name[0] == 'B') {
            name = std::string("Cb") + name[1];
        }
    }
    if (floorTimes(random.next(), 8) + 1 == 3) {
        name = noteNames[static_cast<std::size_t>(std::clamp(finger.pos, 1, 41))];
    }
    return name;
}

// Draws a row with `pick` until it is not "Eb0", the semitone below the open low E string.
template <typename Pick> int rowAvoidingLowEb(const keys::KeyRows& rows, Pick pick) {
    int w = pick();
    for (int tries = 1; rows[static_cast<std::size_t>(w)] == "Eb0"; ++tries) {
        if (tries >= kMaxRedraws) {
            return w + 1;
        }
        w = pick();
    }
    return w;
}

std::string scaleNote(const Settings& set, const IndexFinger& finger,
                      const keys::Diatonics& diatonics, RandomSource& random) {
    const keys::KeyRows& rows = keys::rowsOf(diatonics, set.keyIndex);
    const auto [lower, upper] = windowOf(kScaleWindow, set.s, set.t);
    int b = std::max(finger.row - lower, 0);
    int span = upper + lower;

    bool inKey = false;
    for (std::size_t r = 1; r <= 7; ++r) {
        if (finger.caption == std::string_view(rows[r]).substr(0, rows[r].size() - 1)) {
            inKey = true;
        }
    }
    if (!inKey && !finger.caption.empty()) {
        // The finger lies between two scale notes: the window moves up to the one above it.
        if (finger.caption.size() == 1) {
            b += keys::isFlatKey(set.keyIndex) ? 2 : 1;
            span -= 1;
        } else if (finger.caption.back() == '#') {
            b += 1;
            span -= 1;
        } else if (finger.caption.back() == 'b') {
            span -= 1;
        }
    }

    int w = rowAvoidingLowEb(rows, [&] {
        return std::clamp(roundHalfEven(b + random.next() * span), 1, keys::kLastNoteRow);
    });
    w = std::min(w, 23);
    std::string name = rows[static_cast<std::size_t>(w)];

    if (set.f == 0) {
        const int row = rowAvoidingLowEb(rows, [&] { return floorTimes(random.next(), 24) + 1; });
        name = rows[static_cast<std::size_t>(row)];
    }
    if (floorTimes(random.next(), 8) + 1 == 3) {
        name = std::string(finger.note);
    }
    return name;
}

} // namespace

int roundHalfEven(double x) {
    const double down = std::floor(x);
    const double rest = x - down;
    int whole = static_cast<int>(down);
    if (rest > 0.5 || (rest == 0.5 && whole % 2 != 0)) {
        ++whole;
    }
    return whole;
}

std::string note(const Settings& settings, const IndexFinger& finger, const NoteTable& noteNames,
                 const keys::Diatonics& diatonics, RandomSource& random) {
    if (chromaticSpace(settings, random)) {
        return chromaticNote(settings, finger, noteNames, random);
    }
    return scaleNote(settings, finger, diatonics, random);
}

} // namespace reach
