#include "history/progresswindow.h"

#include "history/progressmaps.h"
#include "platform/msgbox.h"
#include "platform/screenfit.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QCursor>
#include <QDateTimeAxis>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHorizontalStackedBarSeries>
#include <QLabel>
#include <QLegend>
#include <QLineSeries>
#include <QLocale>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QThreadPool>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>
#include <cmath>
#include <mutex>

namespace history {

namespace {

QString number(int64_t n) {
    return QLocale(QLocale::English).toString(static_cast<qlonglong>(n));
}

QString percentOf(int64_t right, int64_t beats) {
    return QLocale(QLocale::English).toString(100.0 * right / std::max<int64_t>(beats, 1), 'f', 1) +
           QStringLiteral("\u202f%");
}

QString keyName(const QString& key) {
    return key.isEmpty() ? QObject::tr("No key chosen") : key;
}

// A heading over a chart of our own painting, in the charts' title font.
QLabel* heading(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

const QColor kAccuracyColour(0, 150, 60);
const QColor kTempoColour(40, 90, 220);

} // namespace

// Carries a result from the pool thread to the window, if the window is still there.
struct ProgressWindow::Delivery {
    std::mutex mutex;
    ProgressWindow* owner = nullptr;
};

std::function<QString(QWidget*)>& ProgressWindow::exportPathChooser() {
    static std::function<QString(QWidget*)> chooser = [](QWidget* parent) {
        return QFileDialog::getSaveFileName(
            parent, tr("Export Practice History"),
            QDir::home().filePath(QStringLiteral("clefwork-history.csv")),
            tr("CSV files (*.csv);;All files (*)"));
    };
    return chooser;
}

ProgressWindow::ProgressWindow(QString historyPath, QWidget* parent)
    : QWidget(parent, Qt::Window), path_(std::move(historyPath)),
      delivery_(std::make_shared<Delivery>()) {
    delivery_->owner = this;
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Clefwork \u2013 Progress"));

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(tr("Key:"), this));
    keyFilter = new QComboBox(this);
    keyFilter->addItem(tr("All keys"));
    keyFilter->setMinimumContentsLength(12);
    top->addWidget(keyFilter);
    top->addSpacing(12);
    top->addWidget(new QLabel(tr("Period:"), this));
    periodFilter = new QComboBox(this);
    periodFilter->addItem(tr("Last session"), static_cast<int>(Period::LastSession));
    periodFilter->addItem(tr("Last 7 days"), static_cast<int>(Period::Week));
    periodFilter->addItem(tr("Last 30 days"), static_cast<int>(Period::Month));
    periodFilter->addItem(tr("All time"), static_cast<int>(Period::All));
    periodFilter->setCurrentIndex(3);
    top->addWidget(periodFilter);
    top->addSpacing(12);
    summary = new QLabel(this);
    top->addWidget(summary, 1);
    exportButton = new QPushButton(tr("Export CSV\u2026"), this);
    exportButton->setEnabled(false);
    top->addWidget(exportButton);

    pages = new QStackedWidget(this);
    // The explanation in a column of reading width, in the middle of the window.
    explanationPage = new QWidget(this);
    explanation = new QLabel(explanationPage);
    explanation->setWordWrap(true);
    explanation->setAlignment(Qt::AlignCenter);
    explanation->setMaximumWidth(560);
    QFont larger = explanation->font();
    larger.setPointSizeF(larger.pointSizeF() * 1.15);
    explanation->setFont(larger);
    auto* column = new QHBoxLayout(explanationPage);
    column->addWidget(explanation, 0, Qt::AlignCenter);
    pages->addWidget(explanationPage);
    buildCharts();
    pages->addWidget(charts);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(pages, 1);

    connect(keyFilter, &QComboBox::currentIndexChanged, this, [this] { reload(); });
    connect(periodFilter, &QComboBox::currentIndexChanged, this, [this] { reload(); });
    connect(exportButton, &QPushButton::clicked, this, [this] { exportCsv(); });

    reloadTimer_ = new QTimer(this);
    reloadTimer_->setSingleShot(true);
    reloadTimer_->setInterval(0);
    connect(reloadTimer_, &QTimer::timeout, this, [this] { startReading(); });

    // As large as the charts read best, as far as the screen has room; on a smaller screen the
    // charts scroll.
    screenfit::fitOnScreen(this, QSize(1200, 860));
    reload();
}

ProgressWindow::~ProgressWindow() {
    std::lock_guard lock(delivery_->mutex);
    delivery_->owner = nullptr;
}

void ProgressWindow::buildCharts() {
    // The charts keep the sizes they read at; where the window is smaller they scroll.
    auto* scroller = new QScrollArea(this);
    scroller->setWidgetResizable(true);
    scroller->setFrameShape(QFrame::NoFrame);
    charts = scroller;
    auto* sheet = new QWidget(scroller);
    auto* grid = new QGridLayout(sheet);
    grid->setContentsMargins(0, 0, 0, 0);

    // Accuracy and tempo per session, over time.
    auto* time = new QChart;
    time->setTitle(tr("Read right and tempo, session by session"));
    time->setAnimationOptions(QChart::NoAnimation);
    time->legend()->setAlignment(Qt::AlignBottom);
    accuracySeries = new QLineSeries(time);
    accuracySeries->setName(tr("Read right (%)"));
    accuracySeries->setPen(QPen(kAccuracyColour, 2));
    accuracySeries->setColor(kAccuracyColour);
    tempoSeries = new QLineSeries(time);
    tempoSeries->setName(tr("Tempo at the end (beats a minute)"));
    tempoSeries->setPen(QPen(kTempoColour, 2));
    tempoSeries->setColor(kTempoColour);
    time->addSeries(accuracySeries);
    time->addSeries(tempoSeries);
    timeAxis_ = new QDateTimeAxis(time);
    timeAxis_->setTickCount(6);
    accuracyAxis_ = new QValueAxis(time);
    accuracyAxis_->setRange(0, 100);
    accuracyAxis_->setLabelFormat(QStringLiteral("%d"));
    accuracyAxis_->setTitleText(tr("read right %"));
    accuracyAxis_->setLabelsColor(kAccuracyColour);
    accuracyAxis_->setTickCount(6);
    tempoAxis_ = new QValueAxis(time);
    tempoAxis_->setLabelFormat(QStringLiteral("%d"));
    tempoAxis_->setTitleText(tr("beats a minute"));
    tempoAxis_->setLabelsColor(kTempoColour);
    tempoAxis_->setTickCount(6);
    time->addAxis(timeAxis_, Qt::AlignBottom);
    time->addAxis(accuracyAxis_, Qt::AlignLeft);
    time->addAxis(tempoAxis_, Qt::AlignRight);
    accuracySeries->attachAxis(timeAxis_);
    accuracySeries->attachAxis(accuracyAxis_);
    tempoSeries->attachAxis(timeAxis_);
    tempoSeries->attachAxis(tempoAxis_);
    timeView = new QChartView(time, sheet);
    timeView->setRenderHint(QPainter::Antialiasing);
    timeView->setMinimumSize(560, 320);
    for (QLineSeries* series : {accuracySeries, tempoSeries}) {
        connect(series, &QLineSeries::hovered, this, [this](const QPointF& point, bool on) {
            if (!on || progress_.sessions.empty()) {
                QToolTip::hideText();
                return;
            }
            // The session nearest in time.
            const auto at = static_cast<qint64>(point.x());
            const SessionSummary* best = nullptr;
            for (const SessionSummary& s : progress_.sessions) {
                if (best == nullptr || std::llabs(s.started.toMSecsSinceEpoch() - at) <
                                           std::llabs(best->started.toMSecsSinceEpoch() - at)) {
                    best = &s;
                }
            }
            QToolTip::showText(QCursor::pos(),
                               tr("%1, key %2\n%3 of %4 beats read right (%5)\ntempo %6 to %7")
                                   .arg(QLocale(QLocale::English)
                                            .toString(best->started.toLocalTime(),
                                                      QStringLiteral("d MMM yyyy hh:mm")),
                                        keyName(best->key), number(best->right),
                                        number(best->beats), percentOf(best->right, best->beats),
                                        QString::number(best->tempoStart),
                                        QString::number(best->tempoEnd)),
                               timeView);
        });
    }

    // The notes most often misread, and what was played instead.
    auto* missed = new QChart;
    missed->setTitle(tr("Notes most often misread (played instead)"));
    missed->setAnimationOptions(QChart::NoAnimation);
    missed->legend()->setAlignment(Qt::AlignBottom);
    missedSeries = new QHorizontalStackedBarSeries(missed);
    missedSeries->setBarWidth(0.7);
    missed->addSeries(missedSeries);
    missedNames = new QBarCategoryAxis(missed);
    missedAxis_ = new QValueAxis(missed);
    missedAxis_->setLabelFormat(QStringLiteral("%d"));
    missedAxis_->setTitleText(tr("times misread"));
    missed->addAxis(missedNames, Qt::AlignLeft);
    missed->addAxis(missedAxis_, Qt::AlignBottom);
    missedSeries->attachAxis(missedNames);
    missedSeries->attachAxis(missedAxis_);
    missedView = new QChartView(missed, sheet);
    missedView->setRenderHint(QPainter::Antialiasing);
    missedView->setMinimumSize(420, 320);
    // With nothing misread, a line that says so instead of empty axes.
    missedPages = new QStackedWidget(sheet);
    missedPages->addWidget(missedView);
    auto* nothingPage = new QWidget(missedPages);
    auto* nothingBox = new QVBoxLayout(nothingPage);
    nothingBox->addWidget(heading(missed->title(), nothingPage), 0, Qt::AlignHCenter);
    nothingMissed = new QLabel(tr("Nothing misread"), nothingPage);
    QFont calm = nothingMissed->font();
    calm.setPointSizeF(calm.pointSizeF() * 1.15);
    nothingMissed->setFont(calm);
    nothingMissed->setAlignment(Qt::AlignCenter);
    nothingBox->addWidget(nothingMissed, 1);
    missedPages->addWidget(nothingPage);

    // The heat maps, with their headings.
    staveMap = new StaveHeatMap(sheet);
    fretMap = new FretboardHeatMap(sheet);
    auto* staveBox = new QVBoxLayout;
    staveBox->addWidget(heading(tr("Read right, line by line and space by space"), sheet));
    staveBox->addWidget(staveMap, 1);
    auto* fretBox = new QVBoxLayout;
    fretBox->addWidget(heading(tr("Read right, by place on the neck"), sheet));
    fretBox->addWidget(fretMap);
    auto* note = new QLabel(
        tr("Where the input does not say where a note was played, it is placed where the "
           "session's hand was: within reach of the index finger, nearest the main string "
           "(with \u201cAll over the Neck\u201d, at the lowest fret). Hover over a line, a "
           "space or a note for its counts."),
        sheet);
    note->setWordWrap(true);
    fretBox->addWidget(note);
    fretBox->addStretch(1);

    grid->addWidget(timeView, 0, 0);
    grid->addWidget(missedPages, 0, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(0, 3);
    grid->setRowStretch(1, 2);
    // Under the charts: the stave at its own width, the fretboard in the rest.
    auto* bottom = new QHBoxLayout;
    bottom->addLayout(staveBox);
    bottom->addSpacing(16);
    bottom->addLayout(fretBox, 1);
    grid->addLayout(bottom, 1, 0, 1, 2);
    scroller->setWidget(sheet);
}

ProgressFilter ProgressWindow::filter() const {
    ProgressFilter f;
    const QVariant key = keyFilter->currentData();
    if (key.isValid()) {
        f.key = key.toString();
    }
    f.period = static_cast<Period>(periodFilter->currentData().toInt());
    return f;
}

void ProgressWindow::reload() {
    loading_ = true;
    summary->setText(tr("Reading the practice history\u2026"));
    if (progress_.historyBeats == 0) {
        explanation->setText(tr("Reading the practice history\u2026"));
        pages->setCurrentWidget(explanationPage);
    }
    // Changes made together (a test or the window's own start setting several) read once.
    reloadTimer_->start();
}

void ProgressWindow::startReading() {
    const uint64_t generation = ++generation_;
    QThreadPool::globalInstance()->start(
        [path = path_, filter = this->filter(), delivery = delivery_, generation] {
            Progress result = loadProgress(path, filter);
            std::lock_guard lock(delivery->mutex);
            if (ProgressWindow* owner = delivery->owner) {
                // A call queued to a window deleted before it runs is dropped with it.
                QMetaObject::invokeMethod(
                    owner,
                    [owner, generation, result] {
                        if (generation == owner->generation_) {
                            owner->showProgress(result);
                        }
                    },
                    Qt::QueuedConnection);
            }
        });
}

void ProgressWindow::showProgress(Progress progress) {
    loading_ = false;
    progress_ = std::move(progress);
    if (!progress_.notice.isEmpty()) {
        platform::messageBox(progress_.notice);
    }

    // The keys practised, keeping the one chosen.
    {
        const QSignalBlocker block(keyFilter);
        const QVariant chosen = keyFilter->currentData();
        while (keyFilter->count() > 1) {
            keyFilter->removeItem(1);
        }
        for (const QString& key : progress_.keys) {
            keyFilter->addItem(keyName(key), key);
        }
        const int again = chosen.isValid() ? keyFilter->findData(chosen) : 0;
        keyFilter->setCurrentIndex(std::max(again, 0));
    }
    const bool any = progress_.ok && progress_.historyBeats > 0;
    exportButton->setEnabled(any);
    keyFilter->setEnabled(any);
    periodFilter->setEnabled(any);

    if (!progress_.ok) {
        summary->clear();
        explanation->setText(progress_.error);
        pages->setCurrentWidget(explanationPage);
    } else if (progress_.historyBeats == 0) {
        summary->clear();
        explanation->setText(
            tr("No practice history yet.\n\nTurn on Practice \u2192 Listen to my Bass and press "
               "Start: every beat you play is judged and kept, bar by bar. After a session this "
               "window shows how much you read right and at what tempo, the notes you misread "
               "most, and where on the stave and on the neck you read well."));
        pages->setCurrentWidget(explanationPage);
    } else if (progress_.sessions.empty()) {
        summary->clear();
        explanation->setText(
            tr("Nothing was played %1%2.\n\nChoose a longer period or another key.")
                .arg(periodFilter->currentIndex() == 1   ? tr("in the last 7 days")
                     : periodFilter->currentIndex() == 2 ? tr("in the last 30 days")
                                                         : tr("in this period"),
                     keyFilter->currentData().isValid()
                         ? tr(" in %1").arg(keyName(keyFilter->currentData().toString()))
                         : QString()));
        pages->setCurrentWidget(explanationPage);
    } else {
        const int64_t beats = progress_.beats();
        summary->setText(tr("%1 %2, %3 beats, %4 read right")
                             .arg(number(static_cast<int64_t>(progress_.sessions.size())),
                                  progress_.sessions.size() == 1 ? tr("session") : tr("sessions"),
                                  number(beats), percentOf(progress_.right(), beats)));
        showSessions();
        showMissed();
        staveMap->setCounts(progress_.places);
        fretMap->setCounts(progress_.positions);
        pages->setCurrentWidget(charts);
    }
    emit loaded();
}

void ProgressWindow::showSessions() {
    QList<QPointF> accuracy;
    QList<QPointF> tempo;
    accuracy.reserve(static_cast<qsizetype>(progress_.sessions.size()));
    tempo.reserve(static_cast<qsizetype>(progress_.sessions.size()));
    int lowTempo = 1000;
    int highTempo = 0;
    for (const SessionSummary& s : progress_.sessions) {
        const auto x = static_cast<qreal>(s.started.toMSecsSinceEpoch());
        accuracy.append({x, 100.0 * s.right / std::max(s.beats, 1)});
        tempo.append({x, static_cast<qreal>(s.tempoEnd)});
        lowTempo = std::min({lowTempo, s.tempoStart, s.tempoEnd});
        highTempo = std::max({highTempo, s.tempoStart, s.tempoEnd});
    }
    accuracySeries->replace(accuracy);
    tempoSeries->replace(tempo);
    const bool few = progress_.sessions.size() <= 60;
    accuracySeries->setPointsVisible(few);
    tempoSeries->setPointsVisible(few);

    QDateTime first = progress_.sessions.front().started.toLocalTime();
    QDateTime last = progress_.sessions.back().started.toLocalTime();
    const qint64 span = first.secsTo(last);
    if (span < 12 * 3600) {
        // One session, or one day's: half a day either side, so the points stand clear of the
        // edges, in hours.
        first = first.addSecs(-12 * 3600);
        last = last.addSecs(12 * 3600);
    } else {
        const qint64 margin = span / 40;
        first = first.addSecs(-margin);
        last = last.addSecs(margin);
    }
    timeAxis_->setRange(first, last);
    const qint64 shown = first.secsTo(last);
    timeAxis_->setFormat(shown > 300LL * 24 * 3600 ? QStringLiteral("MMM yyyy")
                         : shown > 4LL * 24 * 3600 ? QStringLiteral("d MMM")
                                                   : QStringLiteral("d MMM hh:mm"));
    timeAxis_->setTickCount(shown > 4LL * 24 * 3600 ? 6 : 5);
    const int low = std::max(0, (lowTempo - 10) / 10 * 10);
    const int high = (highTempo + 19) / 10 * 10;
    tempoAxis_->setRange(low, std::max(high, low + 20));
    tempoAxis_->applyNiceNumbers();
}

void ProgressWindow::showMissed() {
    missedSeries->clear();
    missedNames->clear();
    auto* wrong = new QBarSet(tr("Wrong note"));
    auto* octave = new QBarSet(tr("Wrong octave"));
    auto* missed = new QBarSet(tr("Not played"));
    wrong->setColor(QColor(215, 40, 40));
    octave->setColor(QColor(40, 100, 230));
    missed->setColor(QColor(150, 150, 150));
    QStringList names;
    int most = 0;
    // Bottom to top: the most misread note at the top.
    for (auto n = progress_.missed.rbegin(); n != progress_.missed.rend(); ++n) {
        QStringList instead;
        for (size_t i = 0; i < n->playedInstead.size() && i < 2; ++i) {
            instead << n->playedInstead[i].first;
        }
        names << (instead.isEmpty() ? n->written
                                    : n->written + QStringLiteral(" (") +
                                          instead.join(QStringLiteral(", ")) + QStringLiteral(")"));
        *wrong << n->wrong;
        *octave << n->octave;
        *missed << n->missed;
        most = std::max(most, n->misread());
    }
    const auto tip = [this](bool on, int index) {
        if (!on) {
            QToolTip::hideText();
            return;
        }
        const auto at = static_cast<std::ptrdiff_t>(progress_.missed.size()) - 1 - index;
        if (at < 0 || at >= static_cast<std::ptrdiff_t>(progress_.missed.size())) {
            return;
        }
        const MissedNote& n = progress_.missed[static_cast<size_t>(at)];
        QStringList instead;
        for (const auto& [name, count] : n.playedInstead) {
            instead << QStringLiteral("%1 \u00d7%2").arg(name, number(count));
        }
        QString text = tr("%1: misread %2 of %3 times\nwrong note %4, wrong octave %5, not played "
                          "%6")
                           .arg(n.written, number(n.misread()), number(n.beats), number(n.wrong),
                                number(n.octave), number(n.missed));
        if (!instead.isEmpty()) {
            text += QStringLiteral("\n") + tr("played instead: %1").arg(instead.join(", "));
        }
        QToolTip::showText(QCursor::pos(), text, missedView);
    };
    for (QBarSet* set : {wrong, octave, missed}) {
        connect(set, &QBarSet::hovered, this, tip);
    }
    missedSeries->append(QList<QBarSet*>{wrong, octave, missed});
    missedNames->append(names);
    missedAxis_->setRange(0, std::max(1, static_cast<int>(std::ceil(most * 1.05))));
    missedAxis_->applyNiceNumbers();
    missedPages->setCurrentIndex(progress_.missed.empty() ? 1 : 0);
}

void ProgressWindow::exportCsv() {
    const QString file = exportPathChooser() ? exportPathChooser()(this) : QString();
    if (file.isEmpty()) {
        return;
    }
    exportButton->setEnabled(false);
    exportButton->setText(tr("Exporting\u2026"));
    QThreadPool::globalInstance()->start([path = path_, file, delivery = delivery_] {
        QString error;
        // The rows written: the history may have grown since the window read it.
        int64_t beats = 0;
        const bool ok = history::exportCsv(path, file, error, &beats);
        const QString message =
            ok ? tr("The practice history (%1 beats) was written to %2.")
                     .arg(number(beats), QDir::toNativeSeparators(file))
               : tr("The practice history could not be exported: %1").arg(error);
        std::lock_guard lock(delivery->mutex);
        if (ProgressWindow* owner = delivery->owner) {
            QMetaObject::invokeMethod(
                owner,
                [owner, ok, message] {
                    owner->exportButton->setText(tr("Export CSV\u2026"));
                    owner->exportButton->setEnabled(owner->progress_.historyBeats > 0);
                    emit owner->exported(ok, message);
                    platform::messageBox(message);
                },
                Qt::QueuedConnection);
        }
    });
}

} // namespace history
