#include "stave/bassclef.h"

#include <QPointF>

namespace stave {

QPainterPath bassClefPath(double left, double fLine, double gap) {
    const double u = gap / 22.0;
    auto pt = [&](double x, double y) { return QPointF(left + x * u, fLine + y * u); };
    QPainterPath clef;
    clef.moveTo(pt(1, -2));
    clef.cubicTo(pt(1, -18), pt(10, -26.5), pt(19, -26.5));
    clef.cubicTo(pt(32, -26.5), pt(41, -16), pt(41, -1));
    clef.cubicTo(pt(41, 22), pt(24, 44), pt(1, 61));
    clef.lineTo(pt(0, 58.5));
    clef.cubicTo(pt(18, 42), pt(31.5, 22), pt(31.5, -1));
    clef.cubicTo(pt(31.5, -14), pt(26, -21.5), pt(18, -21.5));
    clef.cubicTo(pt(12, -21.5), pt(8, -16), pt(8.5, -8));
    clef.closeSubpath();
    clef.addEllipse(pt(6.5, -1), 6.8 * u, 6.8 * u);
    clef.addEllipse(pt(51, -10.5), 3.3 * u, 3.3 * u);
    clef.addEllipse(pt(51, 11.5), 3.3 * u, 3.3 * u);
    clef.setFillRule(Qt::WindingFill);
    return clef;
}

} // namespace stave
