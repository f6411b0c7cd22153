// Small drawing helpers shared by the picture groups.
#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <functional>

namespace artwork {

// A picture of the given size filled with one colour (24-bit when saved as BMP).
QImage filled(int width, int height, QColor colour);

// Draws with antialiasing at `scale` times the size, then shrinks and cuts every pixel to pure
// black or pure white: the result suits the AND/XOR raster ops the stave uses.  The painter works
// in the picture's own pixel coordinates; the background is white and `draw` paints in black.
QImage renderBlackWhite(int width, int height, const std::function<void(QPainter&)>& draw,
                        int scale = 8);

// Pure black or white by a grey threshold of 128.
void cutToBlackWhite(QImage& picture);

// Fills rows [top, top+height) and columns [left, left+width) with a colour, clipped to the
// picture.
void fillBox(QImage& picture, int left, int top, int width, int height, QColor colour);

// The black pixels of `shape` darken `target` with their top left corner at (x, y).
void stamp(QImage& target, const QImage& shape, int x, int y);

} // namespace artwork
