#include "ui/tunertext.h"

#include <cmath>

QString heardName(int midi) {
    static const char* const names[12] = {"E",  "F", "F#", "G",  "G#", "A",
                                          "A#", "B", "C",  "C#", "D",  "D#"};
    // Written an octave above its sound; "E0" is written 40.
    const int fromE0 = midi + 12 - 40;
    const int octave = fromE0 >= 0 ? fromE0 / 12 : -((11 - fromE0) / 12);
    const int step = fromE0 - octave * 12;
    return QString::fromLatin1(names[step]) + QString::number(octave);
}

QString tunerNoteText(int midi, double cents) {
    const long c = std::lround(cents);
    if (c == 0) {
        return heardName(midi) + QStringLiteral(" in tune");
    }
    return heardName(midi) + (c > 0 ? QStringLiteral(" +") : QStringLiteral(" \u2212")) +
           QString::number(std::labs(c)) + QStringLiteral(" cents");
}
