#include "engine/indexnote.h"

#include "engine/notes.h"

#include <algorithm>

namespace indexnote {

namespace {

// The flat spelling of the sharps the chromatic table uses; the octave digit stays.
std::string_view flatOf(char letter) {
    switch (letter) {
    case 'A':
        return "Bb";
    case 'C':
        return "Db";
    case 'D':
        return "Eb";
    case 'F':
        return "Gb";
    case 'G':
        return "Ab";
    default:
        return {};
    }
}

int findRow(std::string_view note, const keys::KeyRows& rows) {
    constexpr std::size_t kLastSearched = 23;
    for (std::size_t r = 1; r <= kLastSearched; ++r) {
        if (rows[r] == note) {
            return static_cast<int>(r);
        }
    }
    if (note.empty()) {
        return 1;
    }
    if (note.size() == 2) {
        // A plain letter that the key spells with an accidental: the row below the key's note of
        // that letter in the same octave group ("F0" in key G stands on the row of "E0").
        for (std::size_t r = 1; r <= kLastSearched; ++r) {
            const std::string& e = rows[r];
            if (!e.empty() && e.front() == note.front() && e.back() == note.back()) {
                return std::max(1, static_cast<int>(r) - 1);
            }
        }
    } else {
        // A sharp or flat the key does not have: the first row of its letter that is altered
        // itself or lies in the same octave group ("F#0" in key C takes the row of "F0").
        for (std::size_t r = 1; r <= kLastSearched; ++r) {
            const std::string& e = rows[r];
            if (!e.empty() && e.front() == note.front() &&
                (e.size() == 3 || e.back() == note.back())) {
                return static_cast<int>(r);
            }
        }
    }
    return 1; // not a note name: the lowest row
}

} // namespace

IndexNote find(int s, int f, int keyIndex, const NoteTable& noteNames,
               const keys::Diatonics& diatonics, std::string_view previousNote, int previousPos) {
    IndexNote out;
    // "All over the Neck" and "At the Nut" both mean the open string; a fret n is slot n + 1.
    const int d = std::max(f, 1);
    if (s >= 0 && s <= 3) {
        out.pos =
            static_cast<int16_t>(std::clamp(d + kOpenString[static_cast<std::size_t>(s)], 1, 41));
        out.note = noteNames[static_cast<std::size_t>(out.pos)];
        if (out.note.empty()) {
            out.note = notes::chromaticTable()[static_cast<std::size_t>(out.pos)];
        }
    } else {
        // No main string chosen: the note and its slot stay what they were.
        out.note = std::string(previousNote);
        out.pos = static_cast<int16_t>(std::clamp(previousPos, 0, 41));
        if (out.note.empty()) {
            out.note = "E0";
        }
    }

    if (keys::isFlatKey(keyIndex) && out.note.size() == 3 && out.note[1] == '#') {
        const std::string_view flat = flatOf(out.note[0]);
        if (!flat.empty()) {
            out.note = std::string(flat) + out.note.substr(2);
        }
    }

    out.row = static_cast<int16_t>(findRow(out.note, keys::rowsOf(diatonics, keyIndex)));

    // The chromatic table's D#0 and D#1 become "Eb0" and "Eb1" above, but in the scale rows'
    // naming those stand an octave lower ("Eb1" sounds as D#0): give the finger note the name
    // and row of its own pitch.  D#0 is slot 12 ("A-String" 6th fret, "D-String" 1st fret),
    // D#1 slot 24 ("G-String" 8th fret).  Deciding by the slot rather than by string and fret
    // also covers a note kept while no main string is selected.
    if (out.note.starts_with("Eb")) {
        if (out.pos == 12) {
            out.row = 8;
            out.note = "Eb1";
        } else if (out.pos == 24) {
            out.row = 15;
            out.note = "Eb2";
        }
    }

    if (out.pos == 0) {
        out.pos = 1;
    }
    out.caption = notes::withoutOctave(out.note);
    return out;
}

} // namespace indexnote
