// The note-name rule: any bytes as a name.  A written number lies in the instrument's written range
// and agrees with the name's letter, accidental and octave digit; the shown name is the name less
// its last character.
#include "engine/notes.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// The semitones of each letter above E within one octave group, written afresh.
int letterStep(char letter) {
    switch (letter) {
    case 'E':
        return 0;
    case 'F':
        return 1;
    case 'G':
        return 3;
    case 'A':
        return 5;
    case 'B':
        return 7;
    case 'C':
        return 8;
    case 'D':
        return 10;
    default:
        return -1;
    }
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_notes: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    const auto number = notes::writtenNumber(name);
    if (number) {
        if (*number < 40 || *number > 80) {
            fail("written number outside E0..G#3");
        }
        if (name.size() != 2 && name.size() != 3) {
            fail("a number for a name of the wrong length");
        }
        const int step = letterStep(name[0]);
        if (step < 0) {
            fail("a number for a name that is not a letter A..G");
        }
        const char digit = name.back();
        if (digit < '0' || digit > '3') {
            fail("a number for a name without an octave digit 0..3");
        }
        int accidental = 0;
        if (name.size() == 3) {
            accidental = name[1] == '#' ? 1 : name[1] == 'b' ? -1 : 99;
        }
        if (accidental == 99) {
            fail("a number for a middle character other than # or b");
        }
        if (*number != 40 + step + accidental + 12 * (digit - '0')) {
            fail("the number does not follow from letter, accidental and octave");
        }
        if (name == "Eb0") {
            fail("Eb0 lies below the open low E string");
        }
    }
    const std::string shown = notes::withoutOctave(name);
    if (name.empty() ? !shown.empty() : shown != name.substr(0, name.size() - 1)) {
        fail("the shown name is not the name less its octave digit");
    }
    return 0;
}
