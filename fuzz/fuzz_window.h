// The real main window for the fuzz targets, built once per process over a temporary program
// folder holding the shipped pictures, with the capture MIDI, a clock that moves on by itself and
// message boxes that are only counted.
#pragma once

#include "ui/stavebass.h"

#include <QString>

namespace fuzzwindow {

// Makes the application and the window the first time it is called.
stavebass& window();
// The temporary program folder.
QString folder();
// Message boxes shown so far.
int boxCount();
// Forgets the captured MIDI messages, so that a long run does not grow them without end.
void clearCapture();

} // namespace fuzzwindow
