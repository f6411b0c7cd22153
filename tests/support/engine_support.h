// Helpers for the practice engine's tests: the bar generator run through its pure functions, as
// the window runs it, without a window.
#pragma once

#include "engine/createbar.h"
#include "engine/indexnote.h"
#include "engine/keys.h"
#include "engine/random.h"

#include <optional>
#include <string>
#include <string_view>

namespace enginetest {

// The list indices as the window's lists give them (-1: nothing selected).
struct Settings {
    int key = 0;
    int s = -1;
    int f = 1;
    int t = -1;
    int a = -1;
    bool diatonicOnly = true;
    bool alternate = false;
};

// What the window keeps between calls of the index-finger search.
struct Finger {
    std::string note = "E0";
    int pos = 0;
    int row = 0;
};

const indexnote::NoteTable& noteNames();
const keys::Diatonics& diatonics();

// Written pitch of a name; "Eb0" counts as the semitone below "E0", as the scale rows spell it.
std::optional<int> pitchOf(std::string_view name);

// The four notes `reach` chooses, refreshing the finger before each note.
createbar::Bar reachBar(const Settings& settings, Finger& finger, RandomSource& random);

// One waiting bar as createbar1 makes it: the re-seed, then the four notes.
createbar::Bar makeBar(const Settings& settings, Finger& finger, RandomSource& random);

} // namespace enginetest
