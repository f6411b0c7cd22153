#include "history/progressmaps.h"

#include "engine/notes.h"
#include "stave/bassclef.h"

#include <QHelpEvent>
#include <QLinearGradient>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <cmath>

namespace history {

namespace {

constexpr QColor kNoBeats(226, 226, 226);
constexpr int kLegendHeight = 40;

QString number(int64_t n) {
    return QLocale(QLocale::English).toString(static_cast<qlonglong>(n));
}

QString percent(int right, int beats) {
    return QString::number(std::lround(100.0 * right / std::max(beats, 1))) +
           QStringLiteral("\u202f%");
}

QString countsText(int beats, int right) {
    return QObject::tr("%1 beats, %2 read right (%3)")
        .arg(number(beats), number(right), percent(right, beats));
}

// The colour scale under a map: none to all read right, and the grey of no beats.
void paintLegend(QPainter& p, const QRectF& area, const QColor& text) {
    p.save();
    QFont font = p.font();
    font.setPixelSize(11);
    p.setFont(font);
    const QRectF bar(area.left(), area.top() + 6, 150, 10);
    QLinearGradient gradient(bar.topLeft(), bar.topRight());
    for (int i = 0; i <= 10; ++i) {
        gradient.setColorAt(i / 10.0, shareColour(i / 10.0));
    }
    p.setPen(QColor(120, 120, 120));
    p.setBrush(gradient);
    p.drawRect(bar);
    p.setPen(text);
    const char* const labels[3] = {"0\u202f%", "50\u202f%", "100\u202f%"};
    for (int i = 0; i < 3; ++i) {
        const double x = bar.left() + bar.width() * i / 2.0;
        p.drawText(QRectF(x - 30, bar.bottom() + 1, 60, 16), Qt::AlignCenter,
                   QString::fromUtf8(labels[i]));
    }
    const QRectF swatch(bar.right() + 28, bar.top(), 14, 10);
    p.setPen(QColor(120, 120, 120));
    p.setBrush(kNoBeats);
    p.drawRect(swatch);
    p.setPen(text);
    p.drawText(QRectF(swatch.right() + 5, swatch.top() - 3, 120, 16),
               Qt::AlignLeft | Qt::AlignVCenter, QObject::tr("no beats"));
    p.restore();
}

QString ordinal(int n) {
    switch (n) {
    case 1:
        return QObject::tr("1st");
    case 2:
        return QObject::tr("2nd");
    case 3:
        return QObject::tr("3rd");
    default:
        return QObject::tr("%1th").arg(n);
    }
}

} // namespace

QColor shareColour(double share) {
    const double s = std::clamp(share, 0.0, 1.0);
    return QColor::fromHsvF(static_cast<float>(s / 3.0), 0.6f, 0.97f);
}

// ---- the stave ----

StaveHeatMap::StaveHeatMap(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
}

void StaveHeatMap::setCounts(const std::vector<PlaceCount>& counts) {
    counts_ = counts;
    update();
}

QSize StaveHeatMap::sizeHint() const {
    return {380, 19 * 15 + 20 + kLegendHeight};
}

QSize StaveHeatMap::minimumSizeHint() const {
    return {300, 19 * 11 + 20 + kLegendHeight};
}

double StaveHeatMap::step() const {
    return std::clamp((height() - 20.0 - kLegendHeight) / 19.0, 8.0, 16.0);
}

double StaveHeatMap::yOf(int place) const {
    return 10.0 + (kHighest - place + 0.5) * step();
}

double StaveHeatMap::staveLeft() const {
    return 40.0;
}

double StaveHeatMap::staveRight() const {
    return std::max(staveLeft() + 120.0, width() - 112.0);
}

QRectF StaveHeatMap::bandOf(int place) const {
    const double y = yOf(place);
    return {staveLeft(), y - step() / 2, staveRight() - staveLeft(), step()};
}

int StaveHeatMap::placeAt(QPointF point) const {
    if (point.x() < 0 || point.x() > width()) {
        return -1;
    }
    for (int place = kLowest; place <= kHighest; ++place) {
        const QRectF band = bandOf(place);
        if (point.y() >= band.top() && point.y() < band.bottom()) {
            return place;
        }
    }
    return -1;
}

QString StaveHeatMap::nameOf(int place) {
    static const char letters[] = "EFGABCD";
    if (place < 0) {
        return {};
    }
    return QString(QLatin1Char(letters[place % 7])) + QString::number(place / 7);
}

QString StaveHeatMap::whereOf(int place) {
    switch (place) {
    case 0:
        return QObject::tr("the ledger line below the stave");
    case 1:
        return QObject::tr("the space below the stave");
    case 2:
        return QObject::tr("the bottom line");
    case 6:
        return QObject::tr("the middle line");
    case 10:
        return QObject::tr("the top line");
    case 11:
        return QObject::tr("the space above the stave");
    default:
        break;
    }
    if (place > 2 && place < 10) {
        return place % 2 == 0 ? QObject::tr("the %1 line").arg(ordinal(place / 2))
                              : QObject::tr("the %1 space").arg(ordinal((place - 1) / 2));
    }
    if (place > 11) {
        const int ledger = (place - 10) / 2;
        return place % 2 == 0
                   ? QObject::tr("the %1 ledger line above").arg(ordinal(ledger))
                   : QObject::tr("the space above the %1 ledger line").arg(ordinal(ledger));
    }
    return {};
}

const PlaceCount* StaveHeatMap::countOf(int place) const {
    for (const PlaceCount& c : counts_) {
        if (c.place == place) {
            return &c;
        }
    }
    return nullptr;
}

QString StaveHeatMap::toolTipFor(int place) const {
    const QString head = nameOf(place) + QStringLiteral(", ") + whereOf(place);
    const PlaceCount* c = countOf(place);
    if (c == nullptr || c->beats == 0) {
        return head + QStringLiteral("\n") + tr("no beats");
    }
    return head + QStringLiteral("\n") + countsText(c->beats, c->right);
}

void StaveHeatMap::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = step();
    const double left = staveLeft();
    const double right = staveRight();
    QFont small = font();
    small.setPixelSize(std::clamp(static_cast<int>(s * 0.8), 9, 12));
    p.setFont(small);
    const QColor text = palette().color(QPalette::WindowText);

    for (int place = kLowest; place <= kHighest; ++place) {
        const QRectF band = bandOf(place);
        const PlaceCount* c = countOf(place);
        const bool has = c != nullptr && c->beats > 0;
        p.setPen(Qt::NoPen);
        p.setBrush(has ? shareColour(static_cast<double>(c->right) / c->beats) : kNoBeats);
        p.drawRect(band);
        p.setPen(text);
        // The name on the left, lines' names in bold; the share and count on the right.
        QFont name = small;
        name.setBold(place % 2 == 0);
        p.setFont(name);
        p.drawText(QRectF(0, band.top() - 2, left - 6, band.height() + 4),
                   Qt::AlignRight | Qt::AlignVCenter, nameOf(place));
        p.setFont(small);
        if (has) {
            p.drawText(QRectF(right + 6, band.top() - 2, width() - right - 6, band.height() + 4),
                       Qt::AlignLeft | Qt::AlignVCenter,
                       percent(c->right, c->beats) + QStringLiteral("  ") + number(c->beats));
        }
    }

    // The five lines across, the ledger lines dashed, the clef over them.
    for (int place = 2; place <= 10; place += 2) {
        p.setPen(QPen(Qt::black, 1.2));
        p.drawLine(QPointF(left, yOf(place)), QPointF(right, yOf(place)));
    }
    for (int place : {0, 12, 14, 16, 18}) {
        p.setPen(QPen(QColor(40, 40, 40), 1.0, Qt::DashLine));
        p.drawLine(QPointF(left, yOf(place)), QPointF(right, yOf(place)));
    }
    p.setPen(QPen(Qt::black, 1.2));
    p.drawLine(QPointF(left, yOf(10)), QPointF(left, yOf(2)));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawPath(stave::bassClefPath(left + 6, yOf(8), 2 * s));

    paintLegend(p, QRectF(left, height() - kLegendHeight + 4, width() - left, kLegendHeight), text);
}

bool StaveHeatMap::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int place = placeAt(help->pos());
        if (place >= 0) {
            QToolTip::showText(help->globalPos(), toolTipFor(place), this,
                               bandOf(place).toAlignedRect());
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QWidget::event(event);
}

// ---- the fretboard ----

namespace {

// As the fretboard chart (tools/artwork): the nut at 58, strings 28 apart from row 22, the
// board from row 10 to 118, a real scale.
constexpr double kNut = 58;
constexpr double kBoardTop = 10;
constexpr double kBoardBottom = 118;
constexpr double kStringGap = 28;
constexpr int kOpen[4] = {0, 5, 10, 15};
const char* const kStringNames[4] = {"E", "A", "D", "G"};

} // namespace

FretboardHeatMap::FretboardHeatMap(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(192, 255, 255));
    setPalette(pal);
}

void FretboardHeatMap::setCounts(const std::vector<PositionCount>& counts) {
    counts_ = counts;
    frets_ = 12;
    for (const PositionCount& c : counts_) {
        if (c.beats > 0) {
            frets_ = std::max(frets_, std::min(c.fret, 24));
        }
    }
    update();
}

QSize FretboardHeatMap::sizeHint() const {
    return {698, 144 + kLegendHeight};
}

QSize FretboardHeatMap::minimumSizeHint() const {
    return {560, 144 + kLegendHeight};
}

double FretboardHeatMap::fretX(int fret) const {
    const double right = width() - 14.0;
    const double scale = (right - kNut) / (1 - std::pow(2.0, -frets_ / 12.0));
    return kNut + scale * (1 - std::pow(2.0, -fret / 12.0));
}

double FretboardHeatMap::centreOf(int fret) const {
    return fret == 0 ? 26.0 : (fretX(fret - 1) + fretX(fret)) / 2;
}

double FretboardHeatMap::stringY(int string) const {
    return kBoardTop + 12 + (3 - string) * kStringGap;
}

QRectF FretboardHeatMap::boxOf(int string, int fret) const {
    const double room = fret == 0 ? 40.0 : fretX(fret) - fretX(fret - 1);
    const double wide = std::clamp(room - 6, 16.0, 34.0);
    return {centreOf(fret) - wide / 2, stringY(string) - 10, wide, 20};
}

QString FretboardHeatMap::noteAt(int string, int fret) {
    const int semitones = kOpen[std::clamp(string, 0, 3)] + fret;
    const auto& table = notes::chromaticTable();
    const auto slot = static_cast<size_t>(semitones + 1);
    if (slot < table.size() && !table[slot].empty()) {
        return QString::fromStdString(notes::withoutOctave(table[slot]));
    }
    return QString::fromStdString(
        notes::withoutOctave(table[static_cast<size_t>(semitones % 12 + 1)]));
}

const PositionCount* FretboardHeatMap::countOf(int string, int fret) const {
    for (const PositionCount& c : counts_) {
        if (c.string == string && c.fret == fret) {
            return &c;
        }
    }
    return nullptr;
}

QString FretboardHeatMap::toolTipFor(int string, int fret) const {
    const QString where =
        fret == 0
            ? tr("%1-String, open").arg(QLatin1String(kStringNames[string]))
            : tr("%1-String, %2 fret").arg(QLatin1String(kStringNames[string]), ordinal(fret));
    const QString head = where + QStringLiteral(": ") + noteAt(string, fret);
    const PositionCount* c = countOf(string, fret);
    if (c == nullptr || c->beats == 0) {
        return head + QStringLiteral("\n") + tr("no beats");
    }
    return head + QStringLiteral("\n") + countsText(c->beats, c->right);
}

void FretboardHeatMap::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double end = width() - 8.0;

    QLinearGradient wood(0, kBoardTop, 0, kBoardBottom);
    wood.setColorAt(0, QColor(95, 55, 30));
    wood.setColorAt(0.5, QColor(120, 70, 38));
    wood.setColorAt(1, QColor(85, 48, 26));
    p.setPen(Qt::NoPen);
    p.setBrush(wood);
    p.drawRect(QRectF(kNut, kBoardTop, end - kNut, kBoardBottom - kBoardTop));
    p.setBrush(QColor(245, 240, 220));
    p.drawRect(QRectF(kNut - 5, kBoardTop, 5, kBoardBottom - kBoardTop));
    p.setPen(QPen(QColor(200, 200, 205), 2));
    for (int fret = 1; fret <= frets_; ++fret) {
        p.drawLine(QPointF(fretX(fret), kBoardTop), QPointF(fretX(fret), kBoardBottom));
    }
    for (int s = 0; s < 4; ++s) {
        p.setPen(QPen(QColor(225, 225, 215), 1.2 + (3 - s) * 0.6));
        p.drawLine(QPointF(0, stringY(s)), QPointF(end, stringY(s)));
    }

    QFont name = font();
    name.setPixelSize(11);
    name.setBold(true);
    p.setFont(name);
    for (int s = 0; s < 4; ++s) {
        for (int fret = 0; fret <= frets_; ++fret) {
            const QRectF box = boxOf(s, fret);
            const PositionCount* c = countOf(s, fret);
            const bool has = c != nullptr && c->beats > 0;
            p.setPen(QPen(has ? QColor(0, 0, 80) : QColor(150, 150, 150), 1));
            p.setBrush(has ? shareColour(static_cast<double>(c->right) / c->beats) : kNoBeats);
            p.drawRoundedRect(box, 5, 5);
            p.setPen(has ? QColor(0, 0, 100) : QColor(130, 130, 130));
            p.drawText(box, Qt::AlignCenter, noteAt(s, fret));
        }
    }

    QFont numbers = font();
    numbers.setPixelSize(11);
    p.setFont(numbers);
    p.setPen(QColor(0, 0, 120));
    for (int fret = 0; fret <= frets_; ++fret) {
        if (fret > 12 && fret % 2 == 0 && fret != frets_) {
            continue; // narrow frets: every other number
        }
        p.drawText(QRectF(centreOf(fret) - 15, 122, 30, 18), Qt::AlignCenter,
                   fret == 0 ? tr("open") : QString::number(fret));
    }
    paintLegend(p, QRectF(kNut, 144, width() - kNut, kLegendHeight), QColor(0, 0, 120));
}

bool FretboardHeatMap::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        for (int s = 0; s < 4; ++s) {
            for (int fret = 0; fret <= frets_; ++fret) {
                const QRectF box = boxOf(s, fret).adjusted(-2, -4, 2, 4);
                if (box.contains(help->pos())) {
                    QToolTip::showText(help->globalPos(), toolTipFor(s, fret), this,
                                       box.toAlignedRect());
                    return true;
                }
            }
        }
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    return QWidget::event(event);
}

} // namespace history
