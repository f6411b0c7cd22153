// The five skin backgrounds, 768 x 512 each.  All are procedural with fixed seeds.  The settings
// panel lies over the lower part (below about y 330), so that part stays mid-toned or dark and
// calm enough for the captions drawn over it.

#include "artwork.h"
#include "canvas.h"
#include "noise.h"

#include <QLinearGradient>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <optional>

namespace artwork {
namespace {

constexpr int skinWidth = 768;
constexpr int skinHeight = 512;

double clamp01(double v) {
    return std::clamp(v, 0.0, 1.0);
}

QRgb mix(QRgb a, QRgb b, double t) {
    t = clamp01(t);
    auto lerp = [t](int x, int y) { return static_cast<int>(std::lround(x + (y - x) * t)); };
    return qRgb(lerp(qRed(a), qRed(b)), lerp(qGreen(a), qGreen(b)), lerp(qBlue(a), qBlue(b)));
}

QRgb scaled(QRgb c, double f) {
    auto s = [f](int v) { return std::clamp(static_cast<int>(std::lround(v * f)), 0, 255); };
    return qRgb(s(qRed(c)), s(qGreen(c)), s(qBlue(c)));
}

// Fire: turbulent noise rising from the bottom.  Flame tongues flicker in the upper half; the
// bed of embers under the panel is a steady deep red to orange.
QImage flame() {
    const ValueNoise noise(0xf1a3e5u);
    QImage picture = filled(skinWidth, skinHeight, Qt::black);
    const QRgb palette[] = {qRgb(40, 0, 0),     qRgb(140, 10, 0),   qRgb(210, 50, 0),
                            qRgb(245, 120, 10), qRgb(255, 190, 40), qRgb(255, 240, 150)};
    auto fire = [&](double heat) {
        heat = clamp01(heat) * 5;
        const int i = std::min(4, static_cast<int>(heat));
        return mix(palette[i], palette[i + 1], heat - i);
    };
    auto ember = [&](int x, int y) { return 0.3 + 0.2 * noise.fractal(x / 45.0, y / 35.0, 4); };
    for (int y = 0; y < skinHeight; ++y) {
        const double rise = static_cast<double>(y) / 320.0; // 0 at the top, 1 at the flames' foot
        for (int x = 0; x < skinWidth; ++x) {
            // Tongues: noise stretched upwards and bent sideways by a slower noise.
            const double bend = (noise.fractal(x / 120.0, y / 160.0, 3) - 0.5) * 2.2;
            const double tongue = noise.fractal(x / 26.0 + bend, y / 95.0 + 5.0, 5);
            const double heat = rise * 1.25 - 0.35 + (tongue - 0.5) * 1.6;
            double value = heat;
            if (y > 340) {
                value = ember(x, y); // under the panel: a calm bed of embers
            } else if (y > 260) {
                value = heat + (ember(x, y) - heat) * (y - 260) / 80.0;
            }
            picture.setPixel(x, y, fire(value));
        }
    }
    return picture;
}

// A peaceful lake: a pale sky, soft hills fading into the distance, and still water below that
// mirrors them darkly.
QImage peaceful() {
    const ValueNoise noise(0x7e41d2u);
    QImage picture = filled(skinWidth, skinHeight, Qt::white);
    constexpr int shore = 300;
    struct Hill {
        double base, height, scale;
        QRgb colour;
    };
    const Hill hills[] = {{190, 70, 260, qRgb(150, 170, 190)},
                          {235, 60, 180, qRgb(105, 140, 140)},
                          {275, 45, 120, qRgb(70, 110, 80)},
                          {shore, 30, 90, qRgb(45, 85, 55)}};
    auto hillTop = [&](int i, double x) {
        const Hill& h = hills[i];
        return h.base - h.height * noise.fractal(x / h.scale + i * 13.0, i * 7.0, 4);
    };
    auto land = [&](int x, double y) -> std::optional<QRgb> {
        for (int i = 3; i >= 0; --i) {
            if (y >= hillTop(i, x)) {
                const double shade = 0.9 + 0.2 * noise.fractal(x / 30.0, y / 30.0 + i, 3);
                return scaled(hills[i].colour, shade);
            }
        }
        return std::nullopt;
    };
    for (int y = 0; y < skinHeight; ++y) {
        for (int x = 0; x < skinWidth; ++x) {
            QRgb c;
            if (y < shore) {
                const auto hill = land(x, y);
                if (hill) {
                    c = *hill;
                } else {
                    const double t = y / 260.0;
                    c = mix(qRgb(150, 185, 225), qRgb(240, 235, 220), t);
                    const double cloud = noise.fractal(x / 160.0, y / 40.0, 5);
                    c = mix(c, qRgb(255, 255, 255), (cloud - 0.55) * 2.2);
                }
            } else {
                // The mirror image, darker and bluer, rippled a little, deepening towards us.
                const double depth = (y - shore) / double(skinHeight - shore);
                const double ripple = (noise.fractal(x / 200.0, y / 3.0, 3) - 0.5) * 10 * depth;
                const double my = 2 * shore - y + ripple;
                QRgb mirrored;
                const auto hill = land(x, std::max(0.0, my));
                if (my > 0 && hill) {
                    mirrored = *hill;
                } else {
                    mirrored = mix(qRgb(150, 185, 225), qRgb(240, 235, 220), my / 260.0);
                }
                const QRgb water = mix(qRgb(60, 90, 130), qRgb(20, 40, 80), depth);
                c = mix(mirrored, water, 0.55 + 0.35 * depth);
                const double glint = noise.fractal(x / 12.0, y / 1.5, 2);
                if (glint > 0.78) {
                    c = mix(c, qRgb(200, 215, 235), (glint - 0.78) * 1.5);
                }
            }
            picture.setPixel(x, y, c);
        }
    }
    return picture;
}

// Blue sky with drifting clouds over rolling fields, browner and darker towards the front.
QImage land() {
    const ValueNoise noise(0x1a2d00u);
    QImage picture = filled(skinWidth, skinHeight, Qt::white);
    for (int y = 0; y < skinHeight; ++y) {
        for (int x = 0; x < skinWidth; ++x) {
            const double horizon = 250 + 35 * (noise.fractal(x / 220.0, 0.5, 3) - 0.5);
            QRgb c;
            if (y < horizon) {
                c = mix(qRgb(40, 90, 190), qRgb(150, 195, 240), y / horizon);
                const double cloud = noise.fractal(x / 120.0, y / 45.0, 6);
                const double cover = clamp01((cloud - 0.5) * 3.2);
                const QRgb cloudColour = mix(qRgb(255, 255, 255), qRgb(170, 175, 190),
                                             noise.fractal(x / 60.0, y / 30.0 + 9, 3));
                c = mix(c, cloudColour, cover);
            } else {
                const double depth = (y - horizon) / (skinHeight - horizon);
                const double field = noise.fractal(x / (40 + 300 * (1 - depth)), y / 18.0, 4);
                const QRgb green = mix(qRgb(90, 140, 60), qRgb(35, 80, 25), depth);
                const QRgb brown = mix(qRgb(130, 110, 60), qRgb(70, 50, 25), depth);
                c = mix(green, brown, (field - 0.35) * 2.5);
                c = scaled(c, 0.85 + 0.3 * noise.fractal(x / 6.0, y / 4.0, 2));
            }
            picture.setPixel(x, y, c);
        }
    }
    return picture;
}

// Tidy bevelled tiles in slate blues and greys, a lighter band of them across the top; few
// colours, so the GIF palette holds every one exactly.
QImage corporate() {
    QImage picture = filled(skinWidth, skinHeight, Qt::black);
    const ValueNoise noise(0xc0ffeeu);
    constexpr int tile = 48;
    const QRgb faces[] = {qRgb(70, 85, 110), qRgb(60, 75, 100), qRgb(80, 95, 120), qRgb(55, 65, 85),
                          qRgb(75, 80, 95)};
    for (int ty = 0; ty * tile < skinHeight; ++ty) {
        for (int tx = 0; tx * tile < skinWidth; ++tx) {
            const int pick = static_cast<int>(noise.lattice(tx, ty) * 5);
            // The upper rows are a touch lighter, in whole steps, to keep the palette small.
            const double lift = ty < 7 ? 1.0 + (7 - ty) * 0.05 : 1.0 - (ty - 7) * 0.04;
            const QRgb face = scaled(faces[pick], lift);
            for (int y = 0; y < tile; ++y) {
                for (int x = 0; x < tile; ++x) {
                    const int px = tx * tile + x;
                    const int py = ty * tile + y;
                    if (px >= skinWidth || py >= skinHeight) {
                        continue;
                    }
                    QRgb c = face;
                    if (x < 3 || y < 3) {
                        c = scaled(face, 1.35);
                    } else if (x >= tile - 3 || y >= tile - 3) {
                        c = scaled(face, 0.6);
                    } else if ((x + y) % 12 == 0 && x > 8 && y > 8 && x < tile - 8 &&
                               y < tile - 8) {
                        c = scaled(face, 1.12); // a faint diagonal weave inside the tile
                    }
                    if (x == 0 || y == 0) {
                        c = qRgb(30, 35, 45); // the grout
                    }
                    picture.setPixel(px, py, c);
                }
            }
        }
    }
    return picture;
}

// Rusty steel plates: each plate has its own tint and rust, dark seams between them and a row of
// rivets along every edge.
QImage industry() {
    const ValueNoise noise(0x5731u);
    QImage picture = filled(skinWidth, skinHeight, Qt::black);
    constexpr int plateW = 192;
    constexpr int plateH = 128;
    for (int y = 0; y < skinHeight; ++y) {
        for (int x = 0; x < skinWidth; ++x) {
            const int row = y / plateH;
            const int shift = (row % 2) * plateW / 2; // brick-like bond
            const int px = (x + shift) % plateW;
            const int py = y % plateH;
            const int plate = (x + shift) / plateW + row * 7;
            const double tint = noise.lattice(plate, 3);
            const QRgb steel = mix(qRgb(95, 95, 100), qRgb(120, 115, 110), tint);
            const double grain = noise.fractal(x / 120.0, y / 4.0, 3);
            QRgb c = scaled(steel, 0.8 + 0.35 * grain);
            const double rust = noise.fractal(x / 70.0 + plate, y / 70.0, 6);
            const double rustAmount = clamp01((rust - 0.48 + 0.15 * tint) * 3.5);
            const QRgb rustColour =
                mix(qRgb(120, 55, 20), qRgb(70, 35, 15), noise.fractal(x / 9.0, y / 9.0, 3));
            c = mix(c, rustColour, rustAmount);
            // Bevel at the edges, dark seam between plates.
            if (px < 2 || py < 2) {
                c = qRgb(25, 22, 20);
            } else if (px < 5 || py < 5) {
                c = scaled(c, 1.3);
            } else if (px > plateW - 5 || py > plateH - 5) {
                c = scaled(c, 0.6);
            }
            // Rivets every 32 pixels, 10 pixels in from the edges.
            for (int edge = 0; edge < 2; ++edge) {
                const double rx = edge == 0 ? std::round((px - 16) / 32.0) * 32 + 16 : 10;
                const double ry = edge == 0 ? 10 : std::round((py - 16) / 32.0) * 32 + 16;
                const double dx = px - rx;
                const double dy = py - ry;
                const double d = std::sqrt(dx * dx + dy * dy);
                if (d < 4.2) {
                    const double light = 1.0 + (-dx - dy) / 8.0;
                    c = scaled(qRgb(130, 120, 110), light);
                } else if (d < 5.5 && dx + dy > 0) {
                    c = scaled(c, 0.55); // the rivet's shadow
                }
            }
            picture.setPixel(x, y, c);
        }
    }
    // A little darker towards the bottom, where the panel is.
    for (int y = 330; y < skinHeight; ++y) {
        for (int x = 0; x < skinWidth; ++x) {
            picture.setPixel(x, y, scaled(picture.pixel(x, y), 0.85));
        }
    }
    return picture;
}

} // namespace

void drawSkins(Output& out) {
    out.save(flame(), "flame.bmp");
    out.save(peaceful(), "trinity2k2.jpg", 90);
    out.save(land(), "land1.jpg", 90);
    out.save(corporate(), "3db1.gif");
    out.save(industry(), "industry.jpg", 90);
}

} // namespace artwork
