#include "ui/captions.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace captions {

namespace {
double channel(double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
} // namespace

double luminance(const QColor& c) {
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

double worstContrast(const QColor& text, const QImage& backdrop, const QRect& area) {
    const QRect inside = area.intersected(backdrop.rect());
    if (inside.isEmpty()) {
        return 21.0;
    }
    // Each pixel's contrast with the text; the tenth of them with the least decides, so that a
    // busy picture cannot hide part of a word.
    const double own = luminance(text);
    std::vector<double> ratios;
    ratios.reserve(static_cast<std::size_t>(inside.width() * inside.height()));
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const double l = luminance(QColor(backdrop.pixel(x, y)));
            ratios.push_back((std::max(own, l) + 0.05) / (std::min(own, l) + 0.05));
        }
    }
    std::sort(ratios.begin(), ratios.end());
    return ratios[ratios.size() / 10];
}

QColor plateFor(const QColor& text) {
    return contrast(text, QColor(255, 255, 255)) >= contrast(text, QColor(16, 16, 16))
               ? QColor(255, 255, 255)
               : QColor(16, 16, 16);
}

} // namespace captions
