// How the tuner names a note it heard: by the written name the player reads for that sounding
// pitch on a bass (the bass sounds an octave below the written note), with the octave digit that
// changes at E, and the deviation in cents.
#pragma once

#include "layers/rules.h"

#include <QString>

// "E0" for MIDI 28 (the open low E string), "A#1" for MIDI 46.
QString heardName(int midi);
// "E0 +4 cents", "A1 −12 cents", "G#2 in tune".
QString tunerNoteText(int midi, double cents);
