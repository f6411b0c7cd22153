// Practice → Progress…: how the player has been reading, from the practice history.
//
// Accuracy and tempo per session over time and the notes most often misread (Qt Charts), the
// stave and fretboard heat maps (history/progressmaps.h), filtered by key and period, and the
// whole history exported as CSV.  The history is read on a pool thread (history/progress.h); the
// window shows "Reading…" until the result comes and never waits for the disk itself.
#pragma once

#include "layers/history.h"

#include <QWidget>
#include <functional>
#include <memory>

#include "history/progress.h"

class QComboBox;
class QLabel;
class QPushButton;
class QStackedWidget;
class QTimer;
class QChartView;
class QChart;
class QLineSeries;
class QDateTimeAxis;
class QValueAxis;
class QBarCategoryAxis;
class QHorizontalStackedBarSeries;

namespace history {

class StaveHeatMap;
class FretboardHeatMap;

class ProgressWindow : public QWidget {
    Q_OBJECT
public:
    explicit ProgressWindow(QString historyPath, QWidget* parent = nullptr);
    ~ProgressWindow() override;

    // Asks where to write the CSV; an empty answer cancels.  A file dialog unless a test puts
    // its own answer here.
    static std::function<QString(QWidget*)>& exportPathChooser();

    // Reads the history again with the filters as they stand, once the event loop runs (so that
    // changes made together read once); loaded() follows.
    void reload();
    bool loading() const { return loading_; }
    // What is shown: the last result read.
    const Progress& progress() const { return progress_; }
    // The filter the controls stand for.
    ProgressFilter filter() const;

    // The controls and what shows the history.
    QComboBox* keyFilter = nullptr;    // "All keys", then each key practised
    QComboBox* periodFilter = nullptr; // last session, 7 days, 30 days, all time
    QPushButton* exportButton = nullptr;
    QLabel* summary = nullptr;
    QStackedWidget* pages = nullptr; // the explanation, or the charts
    QWidget* explanationPage = nullptr;
    QLabel* explanation = nullptr;         // an empty history, nothing in the filter, or an error
    QWidget* charts = nullptr;             // the charts, scrolling where the window is smaller
    QChartView* timeView = nullptr;        // accuracy and tempo per session
    QChartView* missedView = nullptr;      // the notes most often misread
    QStackedWidget* missedPages = nullptr; // that chart, or the line below
    QLabel* nothingMissed = nullptr;       // "Nothing misread", when every note was read right
    StaveHeatMap* staveMap = nullptr;
    FretboardHeatMap* fretMap = nullptr;
    QLineSeries* accuracySeries = nullptr;
    QLineSeries* tempoSeries = nullptr;
    QHorizontalStackedBarSeries* missedSeries = nullptr;
    QBarCategoryAxis* missedNames = nullptr;

signals:
    // The result of the last reload() is shown.
    void loaded();
    // The export has finished; `message` is what the player was told.
    void exported(bool ok, const QString& message);

private:
    struct Delivery;
    void buildCharts();
    void showProgress(Progress progress);
    void showSessions();
    void showMissed();
    void exportCsv();
    void startReading();

    QString path_;
    Progress progress_;
    bool loading_ = false;
    uint64_t generation_ = 0;
    std::shared_ptr<Delivery> delivery_;
    QTimer* reloadTimer_ = nullptr;
    QDateTimeAxis* timeAxis_ = nullptr;
    QValueAxis* accuracyAxis_ = nullptr;
    QValueAxis* tempoAxis_ = nullptr;
    QValueAxis* missedAxis_ = nullptr;
};

} // namespace history
