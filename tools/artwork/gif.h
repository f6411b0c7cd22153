// A GIF89a writer: one image, a 256-colour global palette, LZW-compressed.  Qt reads GIFs but
// cannot write them.
#pragma once

#include <QByteArray>
#include <QImage>

namespace artwork {

// The picture as an 8-bit indexed image.  A picture with at most 256 colours keeps them exactly;
// one with more is reduced by Qt's own conversion.
QImage toIndexed(const QImage& picture);

// The GIF file of an 8-bit indexed picture (its colour table becomes the palette, padded to 256).
QByteArray encodeGif(const QImage& indexed);

} // namespace artwork
