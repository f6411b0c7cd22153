// Captions that read on every look: where a caption's text colour stands out too little from
// what is behind it (the skin's picture, the window colour), it gets a plate of its own.
#pragma once

#include "layers/window.h"

#include <QColor>
#include <QImage>
#include <QRect>

namespace captions {

// The relative luminance of a colour (0 black, 1 white), and the contrast ratio of two colours
// (1 to 21), as accessibility guidelines define them.
double luminance(const QColor& c);
double contrast(const QColor& a, const QColor& b);

// The contrast of text in `text` over the pixels of `backdrop` inside `area`: the contrast that
// nine in ten of those pixels reach or beat.
double worstContrast(const QColor& text, const QImage& backdrop, const QRect& area);

// Below this a caption gets a plate (the guidelines' figure for ordinary text).
inline constexpr double kReadable = 4.5;

// A plate colour for text in `text`: near white behind dark text, near black behind light text.
QColor plateFor(const QColor& text);

} // namespace captions
