// The bass (F) clef as a path, shared by the pictures the program ships and the windows that draw
// a stave of their own.
#pragma once

#include "layers/rules.h"

#include <QPainterPath>

namespace stave {

// The curl starts with a round head on the line given by `fLine` (the y of its centre), rises
// just over the top line, swings round to the right and sweeps down to about the second line; two
// dots sit either side of that line to its right.  `left` is the clef's left edge, `gap` the
// distance between two lines.
QPainterPath bassClefPath(double left, double fLine, double gap);

} // namespace stave
