// The Progress window's two heat maps, painted with QPainter: the bass stave with each line and
// space coloured by the share of its notes read right, and the fretboard chart's strings and
// frets coloured the same way.  Hovering a line, space or fret shows its counts.
#pragma once

#include "layers/history.h"

#include <QWidget>
#include <vector>

#include "history/progress.h"

namespace history {

// The colour of a share read right: red at none, amber at half, green at all.
QColor shareColour(double share);

class StaveHeatMap : public QWidget {
    Q_OBJECT
public:
    // The places the trainer writes on: "E0" on the ledger line below the stave (0) to "B2" on
    // the fourth ledger line above (18); "G0" on the bottom line is 2, "A1" on the top line 10.
    static constexpr int kLowest = 0;
    static constexpr int kHighest = 18;

    explicit StaveHeatMap(QWidget* parent = nullptr);
    void setCounts(const std::vector<PlaceCount>& counts);

    // The band of a place (its line or space), in the widget's coordinates.
    QRectF bandOf(int place) const;
    // The place under a point, or -1.
    int placeAt(QPointF point) const;
    // What hovering a place shows.
    QString toolTipFor(int place) const;
    // "G0", "the bottom line".
    static QString nameOf(int place);
    static QString whereOf(int place);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    double step() const;
    double yOf(int place) const;
    double staveLeft() const;
    double staveRight() const;
    const PlaceCount* countOf(int place) const;
    std::vector<PlaceCount> counts_;
};

class FretboardHeatMap : public QWidget {
    Q_OBJECT
public:
    explicit FretboardHeatMap(QWidget* parent = nullptr);
    void setCounts(const std::vector<PositionCount>& counts);

    // The highest fret drawn: the 12th as on the fretboard chart, or higher when notes were
    // played there.
    int frets() const { return frets_; }
    // The box of a string (0 the low E .. 3 the G) and fret, in the widget's coordinates.
    QRectF boxOf(int string, int fret) const;
    QString toolTipFor(int string, int fret) const;
    // The note at a string and fret, without its octave ("C#").
    static QString noteAt(int string, int fret);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    double fretX(int fret) const;
    double centreOf(int fret) const;
    double stringY(int string) const;
    const PositionCount* countOf(int string, int fret) const;
    std::vector<PositionCount> counts_;
    int frets_ = 12;
};

} // namespace history
