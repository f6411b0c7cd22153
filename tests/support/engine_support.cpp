#include "support/engine_support.h"

#include "engine/notes.h"
#include "engine/reach.h"

#include <cmath>

namespace enginetest {

const indexnote::NoteTable& noteNames() {
    return notes::chromaticTable();
}

const keys::Diatonics& diatonics() {
    static const keys::Diatonics table = keys::buildDiatonics();
    return table;
}

std::optional<int> pitchOf(std::string_view name) {
    if (name == "Eb0") {
        return 39;
    }
    return notes::writtenNumber(name);
}

createbar::Bar reachBar(const Settings& settings, Finger& finger, RandomSource& random) {
    const auto zeroIfNone = [](int index) { return index < 0 ? 0 : index; };
    createbar::Bar bar{};
    for (std::size_t p = 1; p <= 4; ++p) {
        const indexnote::IndexNote found =
            indexnote::find(settings.s, settings.f, settings.key, noteNames(), diatonics(),
                            finger.note, finger.pos);
        finger.note = found.note;
        finger.pos = found.pos;
        finger.row = found.row;
        reach::Settings set;
        set.s = zeroIfNone(settings.s);
        set.f = zeroIfNone(settings.f);
        set.t = zeroIfNone(settings.t);
        set.a = settings.a;
        set.diatonicOnly = settings.diatonicOnly;
        set.keyIndex = settings.key;
        const reach::IndexFinger index{found.note, found.pos, found.row, found.caption};
        bar[p] = reach::note(set, index, noteNames(), diatonics(), random);
    }
    if (settings.alternate) {
        bar[1] = finger.note;
        bar[3] = finger.note;
    }
    return bar;
}

createbar::Bar makeBar(const Settings& settings, Finger& finger, RandomSource& random) {
    const double r = random.next();
    random.randomize(static_cast<float>(std::floor(r * 100.0) + 1.0));
    return reachBar(settings, finger, random);
}

} // namespace enginetest
