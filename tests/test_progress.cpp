// The Progress window: its numbers against counts made directly in SQL on the beats of a
// generated history, under every filter; the window empty, with data, filtered and exporting;
// the stave heat map's lines and spaces where a bass stave has them; and the menu that opens it.
#include "engine/notes.h"
#include "history/progress.h"
#include "history/progressmaps.h"
#include "history/progresswindow.h"
#include "history/store.h"
#include "platform/msgbox.h"
#include "support/window_fixture.h"

#include <QAction>
#include <QBarCategoryAxis>
#include <QChartView>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineSeries>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>
#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <random>

using history::Period;
using history::ProgressFilter;
using listen::Verdict;

namespace {

const QDateTime kNow = QDateTime::currentDateTimeUtc();

struct SessionPlan {
    double daysAgo;
    const char* key;
    const char* fret;
    const char* string;
    bool positionsKnown; // the input said where each right note was played
};

// Twelve sessions over six weeks, in C, G, F and with no key chosen, with several hands.
const SessionPlan kPlan[] = {
    {40, "F", "At the Nut", "Low E-String", false},
    {35, "C", "3rd Fret", "A-String", false},
    {25, "G", "All over the Neck", "D-String", false},
    {20, "C", "5th Fret", "Low E-String", false},
    {12, "G", "At the Nut", "A-String", true},
    {9, "", "7th Fret", "G-String", false},
    {6, "C", "1st Fret", "D-String", false},
    {4, "G", "2nd Fret", "Low E-String", false},
    {2, "C", "All over the Neck", "A-String", false},
    {1, "G", "5th Fret", "D-String", false},
    {0.5, "C", "10th Fret", "G-String", false},
    {0.1, "G", "At the Nut", "Low E-String", true},
};

// The line or space of a written name, as the window stores it.
int placeOf(const std::string& name) {
    static const std::string letters = "EFGABCD";
    return static_cast<int>(letters.find(name[0])) + 7 * (name.back() - '0');
}

// Writes the plan through the store as the window's writer does, bar by bar.
void generate(const QString& path) {
    history::Store store(path);
    ASSERT_TRUE(store.open()) << store.error().toStdString();
    std::mt19937 random(11);
    const auto& table = notes::chromaticTable();
    for (const SessionPlan& plan : kPlan) {
        history::SessionRecord s;
        s.started = kNow.addSecs(static_cast<qint64>(-plan.daysAgo * 86400));
        s.key = QString::fromUtf8(plan.key);
        s.fret = QString::fromUtf8(plan.fret);
        s.string = QString::fromUtf8(plan.string);
        s.distance = QStringLiteral("1 String Away");
        s.odds = QStringLiteral("not often");
        s.pitch = QStringLiteral("Bass Guitar Pitch (octave lower than written)");
        s.input = QStringLiteral("midi:Bass");
        s.tempoStart = 60 + static_cast<int>(random() % 60);
        const auto id = store.beginSession(s);
        ASSERT_TRUE(id.has_value());
        for (int bar = 0; bar < 30; ++bar) {
            std::vector<history::BeatRecord> beats;
            for (int i = 0; i < 4; ++i) {
                history::BeatRecord b;
                // Up to C#2 (slot 34): every name here has its own row, no 8va.
                const std::string name = table[1 + random() % 34];
                b.time = s.started.addMSecs((bar * 4 + i) * 700);
                b.written = QString::fromStdString(name);
                b.place = placeOf(name);
                b.expectedMidi = *notes::writtenNumber(name) - 12;
                const unsigned r = random() % 100;
                b.verdict = r < 60   ? Verdict::Right
                            : r < 68 ? Verdict::Early
                            : r < 74 ? Verdict::Late
                            : r < 80 ? Verdict::Octave
                            : r < 92 ? Verdict::Wrong
                                     : Verdict::Missed;
                if (b.verdict != Verdict::Missed) {
                    b.playedMidi = b.expectedMidi + (b.verdict == Verdict::Octave  ? 12
                                                     : b.verdict == Verdict::Wrong ? 1 + r % 2
                                                                                   : 0);
                    b.offsetMs = 5.0;
                }
                if (plan.positionsKnown && b.verdict == Verdict::Right) {
                    const int semitones = b.expectedMidi - 28;
                    b.string = semitones >= 15 ? 1 : semitones >= 10 ? 2 : semitones >= 5 ? 3 : 4;
                    b.fret = semitones - std::array{0, 15, 10, 5, 0}[*b.string];
                }
                beats.push_back(b);
            }
            ASSERT_TRUE(store.storeBar(*id, beats));
        }
        ASSERT_TRUE(store.endSession(*id, s.started.addSecs(90), s.tempoStart + 4));
    }
}

// A connection of the test's own.
class Db {
public:
    explicit Db(const QString& path) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        db.setDatabaseName(path);
        EXPECT_TRUE(db.open());
    }
    ~Db() {
        QSqlDatabase::database(name_, false).close();
        QSqlDatabase::removeDatabase(name_);
    }
    std::vector<QVariantList> rows(const QString& sql, const QVariantList& values) const {
        QSqlQuery q(QSqlDatabase::database(name_, false));
        EXPECT_TRUE(q.prepare(sql)) << q.lastError().text().toStdString();
        for (const QVariant& v : values) {
            q.addBindValue(v);
        }
        EXPECT_TRUE(q.exec()) << q.lastError().text().toStdString();
        std::vector<QVariantList> out;
        while (q.next()) {
            QVariantList row;
            for (int c = 0; c < 5; ++c) {
                row << q.value(c);
            }
            out.push_back(row);
        }
        return out;
    }

private:
    QString name_ = QStringLiteral("test-progress");
};

// The truth: the sessions a filter takes, as a condition on the beats' sessions.
std::pair<QString, QVariantList> truthCondition(const ProgressFilter& f) {
    QString sql = QStringLiteral("1");
    QVariantList values;
    if (f.key) {
        sql += QStringLiteral(R"( AND s."key" = ?)");
        values << *f.key;
    }
    if (f.period == Period::Week || f.period == Period::Month) {
        sql += QStringLiteral(" AND s.started >= ?");
        values << history::isoTime(kNow.addDays(f.period == Period::Week ? -7 : -30));
    } else if (f.period == Period::LastSession) {
        sql += QStringLiteral(R"( AND s.started = (SELECT MAX(started) FROM sessions x
                                  WHERE x.beat_count > 0%1))")
                   .arg(f.key ? QStringLiteral(R"( AND x."key" = ?)") : QString());
        if (f.key) {
            values << *f.key;
        }
    }
    return {sql, values};
}

class Progress : public ::testing::Test {
protected:
    void SetUp() override { generate(path()); }
    QString path() const { return dir.filePath("history.sqlite"); }
    QTemporaryDir dir;
};

TEST_F(Progress, EveryFilterCountsWhatTheBeatsThemselvesSay) {
    struct Case {
        std::optional<QString> key;
        Period period;
        int sessions;
    };
    const Case cases[] = {
        {std::nullopt, Period::All, 12}, {std::nullopt, Period::Month, 10},
        {std::nullopt, Period::Week, 6}, {std::nullopt, Period::LastSession, 1},
        {"G", Period::All, 5},           {"C", Period::LastSession, 1},
        {"", Period::Week, 0},           {"", Period::Month, 1},
        {"F", Period::Week, 0},
    };
    Db db(path());
    std::map<QString, int64_t> totals;
    for (const Case& c : cases) {
        ProgressFilter filter;
        filter.key = c.key;
        filter.period = c.period;
        filter.now = kNow;
        const std::string label =
            (c.key ? "key '" + c.key->toStdString() + "'" : std::string("all keys")) + ", period " +
            std::to_string(static_cast<int>(c.period));
        SCOPED_TRACE(label);
        const history::Progress p = history::loadProgress(path(), filter);
        ASSERT_TRUE(p.ok) << p.error.toStdString();
        EXPECT_EQ(p.historyBeats, 12 * 120);
        EXPECT_EQ(p.keys, (QStringList{"", "C", "F", "G"}));
        EXPECT_EQ(static_cast<int>(p.sessions.size()), c.sessions);

        const auto [condition, values] = truthCondition(filter);
        const QString from =
            QStringLiteral(" FROM beats b JOIN sessions s ON s.id = b.session_id WHERE ") +
            condition;
        // The stave heat map, place by place.
        const auto places = db.rows(QStringLiteral("SELECT b.place, COUNT(*), "
                                                   "SUM(b.verdict = 'right')") +
                                        from + QStringLiteral(" GROUP BY b.place ORDER BY b.place"),
                                    values);
        ASSERT_EQ(p.places.size(), places.size());
        for (size_t i = 0; i < places.size(); ++i) {
            EXPECT_EQ(p.places[i].place, places[i][0].toInt());
            EXPECT_EQ(p.places[i].beats, places[i][1].toInt()) << "place " << p.places[i].place;
            EXPECT_EQ(p.places[i].right, places[i][2].toInt()) << "place " << p.places[i].place;
        }
        // The notes most often misread, each with its counts, and none left out misread more.
        std::map<QString, std::array<int, 4>> misread; // wrong, octave, missed, all
        for (const auto& row :
             db.rows(QStringLiteral("SELECT b.written, SUM(b.verdict = 'wrong'), "
                                    "SUM(b.verdict = 'octave'), SUM(b.verdict = 'missed'), "
                                    "COUNT(*)") +
                         from + QStringLiteral(" GROUP BY b.written"),
                     values)) {
            misread[row[0].toString()] = {row[1].toInt(), row[2].toInt(), row[3].toInt(),
                                          row[4].toInt()};
        }
        ASSERT_LE(p.missed.size(), 10u);
        int last = std::numeric_limits<int>::max();
        for (const history::MissedNote& n : p.missed) {
            const auto& truth = misread[n.written];
            EXPECT_EQ((std::array{n.wrong, n.octave, n.missed, n.beats}), truth)
                << n.written.toStdString();
            EXPECT_LE(n.misread(), last) << "most misread first";
            last = n.misread();
            int instead = 0;
            for (const auto& [name, count] : n.playedInstead) {
                instead += count;
            }
            EXPECT_EQ(instead, n.wrong + n.octave) << "every wrong pitch named";
        }
        for (const auto& [name, truth] : misread) {
            const QString written = name;
            const bool shown = std::any_of(p.missed.begin(), p.missed.end(),
                                           [&](const auto& n) { return n.written == written; });
            if (!shown && p.missed.size() == 10u) {
                EXPECT_LE(truth[0] + truth[1] + truth[2], last) << written.toStdString();
            }
        }
        // Every beat stands somewhere on the neck.
        int64_t onNeck = 0;
        int64_t rightOnNeck = 0;
        for (const history::PositionCount& c : p.positions) {
            onNeck += c.beats;
            rightOnNeck += c.right;
        }
        EXPECT_EQ(onNeck, p.beats());
        EXPECT_EQ(rightOnNeck, p.right());
        totals[QString::fromStdString(label)] = p.beats();
    }
    // The filters change the numbers: each period holds fewer beats than the one before.
    EXPECT_GT(totals["all keys, period 3"], totals["all keys, period 2"]);
    EXPECT_GT(totals["all keys, period 2"], totals["all keys, period 1"]);
    EXPECT_GT(totals["all keys, period 1"], totals["all keys, period 0"]);
    EXPECT_GT(totals["all keys, period 3"], totals["key 'G', period 3"]);
}

TEST_F(Progress, WhereTheInputSaidANoteWasPlayedItStands) {
    // The last session's input named the string and fret of every right note, on the highest
    // string it lies on; the hand ("At the Nut", the low E) would have put many elsewhere.
    ProgressFilter filter;
    filter.period = Period::LastSession;
    filter.now = kNow;
    const history::Progress p = history::loadProgress(path(), filter);
    ASSERT_EQ(p.sessions.size(), 1u);
    Db db(path());
    const auto played = db.rows(
        R"(SELECT 4 - played_string, played_fret, COUNT(*) FROM beats
           WHERE session_id = ? AND verdict = 'right' GROUP BY 1, 2)",
        {QVariant::fromValue<qint64>(p.sessions[0].id)});
    ASSERT_GT(played.size(), 5u);
    std::map<std::pair<int, int>, int> right;
    for (const history::PositionCount& c : p.positions) {
        if (c.right > 0) {
            right[{c.string, c.fret}] = c.right;
        }
    }
    std::map<std::pair<int, int>, int> truth;
    for (const auto& row : played) {
        truth[{row[0].toInt(), row[1].toInt()}] = row[2].toInt();
    }
    EXPECT_EQ(right, truth);
}

TEST(ProgressNeck, ANoteStandsWhereTheHandReachesIt) {
    struct Case {
        const char* note;
        const char* fret;
        const char* string;
        std::pair<int, int> at; // string 0 low E .. 3 G, fret
    };
    const Case cases[] = {
        {"A0", "At the Nut", "Low E-String", {0, 5}},    // on the main string, in reach
        {"C0", "3rd Fret", "A-String", {1, 3}},          // the index finger's own note
        {"G1", "5th Fret", "A-String", {1, 10}},         // the main string's 10th, not D's 5th
        {"E1", "5th Fret", "Low E-String", {1, 7}},      // out of the E string's reach: A string
        {"G1", "All over the Neck", "A-String", {3, 0}}, // no hand: the lowest fret
        {"E0", "7th Fret", "G-String", {0, 0}},          // nowhere else to play it
    };
    for (const Case& c : cases) {
        const int semitones = *notes::writtenNumber(c.note) - 40;
        EXPECT_EQ(history::likelyPosition(semitones, history::indexFretOf(c.fret),
                                          history::mainStringOf(c.string)),
                  c.at)
            << c.note << " " << c.fret << " " << c.string;
    }
}

// Waits for the window's next results.
bool waitLoaded(history::ProgressWindow& w) {
    QSignalSpy loaded(&w, &history::ProgressWindow::loaded);
    return QTest::qWaitFor([&] { return !w.loading() && loaded.count() > 0; }, 10000);
}

TEST(ProgressWindow, AnEmptyHistoryExplainsItselfAndMakesNoFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("none/history.sqlite");
    history::ProgressWindow w(path);
    w.show();
    ASSERT_TRUE(waitLoaded(w));
    EXPECT_EQ(w.pages->currentWidget(), w.explanationPage);
    EXPECT_TRUE(w.explanation->text().startsWith("No practice history yet"))
        << w.explanation->text().toStdString();
    EXPECT_TRUE(w.explanation->text().contains("Listen to my Bass"));
    EXPECT_FALSE(w.exportButton->isEnabled());
    EXPECT_FALSE(w.charts->isVisible()) << "no empty axes";
    EXPECT_FALSE(QFile::exists(path));
}

TEST(ProgressWindow, NothingMisreadSaysSoAndTheWindowFitsTheScreen) {
    QTemporaryDir dir;
    const QString path = dir.filePath("history.sqlite");
    {
        history::Store store(path);
        ASSERT_TRUE(store.open()) << store.error().toStdString();
        history::SessionRecord s;
        s.started = kNow.addSecs(-600);
        s.key = QStringLiteral("C");
        s.tempoStart = 80;
        const auto id = store.beginSession(s);
        ASSERT_TRUE(id.has_value());
        std::vector<history::BeatRecord> beats;
        for (int i = 0; i < 8; ++i) {
            history::BeatRecord b;
            b.time = s.started.addMSecs(i * 750);
            b.written = QStringLiteral("A0");
            b.place = placeOf("A0");
            b.expectedMidi = *notes::writtenNumber("A0") - 12;
            b.playedMidi = b.expectedMidi;
            b.verdict = i % 4 == 3 ? Verdict::Late : Verdict::Right; // late is no misreading
            b.offsetMs = i % 4 == 3 ? 120.0 : 4.0;
            beats.push_back(b);
        }
        ASSERT_TRUE(store.storeBar(*id, beats));
        ASSERT_TRUE(store.endSession(*id, s.started.addSecs(10), 80));
    }
    history::ProgressWindow w(path);
    w.show();
    ASSERT_TRUE(waitLoaded(w));
    ASSERT_EQ(w.pages->currentWidget(), w.charts) << w.explanation->text().toStdString();
    EXPECT_TRUE(w.progress().missed.empty());
    EXPECT_FALSE(w.missedView->isVisible()) << "no empty axes";
    EXPECT_TRUE(w.nothingMissed->isVisible());
    EXPECT_EQ(w.nothingMissed->text(), "Nothing misread");
    EXPECT_TRUE(w.timeView->isVisible());

    const QRect screen = w.screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(w.frameGeometry()))
        << "window " << w.frameGeometry().width() << "x" << w.frameGeometry().height()
        << " on a screen of " << screen.width() << "x" << screen.height();
    EXPECT_LE(w.width(), 1200);
    EXPECT_LE(w.height(), 860);
}

TEST_F(Progress, TheWindowShowsTheChartsAndTheFiltersChangeThem) {
    QStringList boxes;
    platform::setMessageBoxHook([&](const QString& text) { boxes << text; });
    history::ProgressWindow w(path());
    w.show();
    ASSERT_TRUE(waitLoaded(w));
    ASSERT_EQ(w.pages->currentWidget(), w.charts) << w.explanation->text().toStdString();
    EXPECT_TRUE(w.timeView->isVisible());
    EXPECT_TRUE(w.missedView->isVisible());
    EXPECT_FALSE(w.nothingMissed->isVisible());
    EXPECT_EQ(w.accuracySeries->count(), 12);
    EXPECT_EQ(w.tempoSeries->count(), 12);
    const QStringList names = w.missedNames->categories();
    ASSERT_EQ(names.size(), 10);
    EXPECT_TRUE(names.last().startsWith(w.progress().missed[0].written + " "))
        << "the most misread at the top: " << names.last().toStdString();
    EXPECT_TRUE(names.last().contains("(")) << "with what was played instead";
    QStringList keys;
    for (int i = 0; i < w.keyFilter->count(); ++i) {
        keys << w.keyFilter->itemText(i);
    }
    EXPECT_EQ(keys, (QStringList{"All keys", "No key chosen", "C", "F", "G"}));
    EXPECT_TRUE(w.summary->text().startsWith("12 sessions, 1,440 beats"))
        << w.summary->text().toStdString();
    // The heat map's tooltips carry the counts of the beats themselves.
    {
        Db db(path());
        for (const auto& row : db.rows(
                 "SELECT place, COUNT(*), SUM(verdict = 'right') FROM beats GROUP BY place", {})) {
            const QString tip = w.staveMap->toolTipFor(row[0].toInt());
            EXPECT_TRUE(tip.contains(
                QStringLiteral("%1 beats, %2 read right").arg(row[1].toInt()).arg(row[2].toInt())))
                << tip.toStdString();
        }
    }

    w.periodFilter->setCurrentIndex(1); // the last 7 days
    ASSERT_TRUE(waitLoaded(w));
    EXPECT_EQ(w.accuracySeries->count(), 6);
    EXPECT_TRUE(w.summary->text().startsWith("6 sessions, 720 beats"))
        << w.summary->text().toStdString();

    w.keyFilter->setCurrentIndex(w.keyFilter->findText("F"));
    ASSERT_TRUE(waitLoaded(w));
    EXPECT_EQ(w.pages->currentWidget(), w.explanationPage);
    EXPECT_EQ(w.explanation->text(),
              "Nothing was played in the last 7 days in F.\n\nChoose a longer period or another "
              "key.");

    w.periodFilter->setCurrentIndex(0); // the last session, in F
    ASSERT_TRUE(waitLoaded(w));
    EXPECT_EQ(w.pages->currentWidget(), w.charts);
    EXPECT_EQ(w.accuracySeries->count(), 1);
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join("|").toStdString();
    platform::setMessageBoxHook({});
}

TEST_F(Progress, ExportWritesEveryBeatWhereThePlayerChose) {
    QStringList boxes;
    platform::setMessageBoxHook([&](const QString& text) { boxes << text; });
    QString answer;
    history::ProgressWindow::exportPathChooser() = [&](QWidget*) { return answer; };
    history::ProgressWindow w(path());
    ASSERT_TRUE(waitLoaded(w));
    ASSERT_TRUE(w.exportButton->isEnabled());
    QSignalSpy exported(&w, &history::ProgressWindow::exported);

    QTest::mouseClick(w.exportButton, Qt::LeftButton); // cancelled: nothing written
    QTest::qWait(50);
    EXPECT_EQ(exported.count(), 0);

    // The history grows after the window read it (another Clefwork practising meanwhile): the
    // message counts what was written.
    {
        history::Store store(path());
        ASSERT_TRUE(store.open());
        history::SessionRecord s;
        s.started = kNow;
        const auto id = store.beginSession(s);
        ASSERT_TRUE(id.has_value());
        history::BeatRecord b;
        b.time = kNow;
        b.written = QStringLiteral("A0");
        ASSERT_TRUE(store.storeBar(*id, std::vector<history::BeatRecord>(12, b)));
    }
    answer = dir.filePath("out.csv");
    QTest::mouseClick(w.exportButton, Qt::LeftButton);
    ASSERT_TRUE(exported.wait(10000));
    EXPECT_TRUE(exported.at(0).at(0).toBool());
    QFile csv(answer);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(csv.readAll().count("\r\n"), 1 + 12 * 120 + 12) << "a header and a row per beat";
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].contains("1,452 beats")) << boxes[0].toStdString();
    EXPECT_TRUE(boxes[0].contains(answer));
    EXPECT_TRUE(w.exportButton->isEnabled());
    history::ProgressWindow::exportPathChooser() = nullptr;
    platform::setMessageBoxHook({});
}

TEST(ProgressStave, LinesAndSpacesLieWhereTheBassStaveHasThem) {
    history::StaveHeatMap map;
    map.resize(380, 340);
    // Every place coloured, so that the lines stand out from the bands.
    std::vector<history::PlaceCount> counts;
    for (int place = 0; place <= 18; ++place) {
        counts.push_back({place, 10, place % 11});
    }
    map.setCounts(counts);
    const QImage image = map.grab().toImage();
    // How much of the row through a band's middle is drawn dark, right of the clef.
    const auto dark = [&](int place) {
        const QRectF band = map.bandOf(place);
        const int y = static_cast<int>(std::floor(band.center().y()));
        int n = 0;
        int all = 0;
        for (int x = static_cast<int>(band.left() + band.width() / 2);
             x < static_cast<int>(band.right()) - 2; ++x) {
            // A line of 1.2 px may fall across two rows: take the darker.
            const int g = std::min(qGray(image.pixel(x, y)), qGray(image.pixel(x, y + 1)));
            n += g < 110 ? 1 : 0;
            ++all;
        }
        return static_cast<double>(n) / all;
    };
    struct Place {
        int place;
        const char* name;
        const char* kind; // "line", "ledger", "space"
    };
    const Place table[] = {
        {0, "E0", "ledger"},  {1, "F0", "space"},   {2, "G0", "line"},    {3, "A0", "space"},
        {4, "B0", "line"},    {5, "C0", "space"},   {6, "D0", "line"},    {8, "F1", "line"},
        {10, "A1", "line"},   {11, "B1", "space"},  {12, "C1", "ledger"}, {13, "D1", "space"},
        {14, "E2", "ledger"}, {16, "G2", "ledger"}, {18, "B2", "ledger"},
    };
    for (const Place& p : table) {
        EXPECT_EQ(history::StaveHeatMap::nameOf(p.place), p.name);
        const double d = dark(p.place);
        if (std::string(p.kind) == "line") {
            EXPECT_GT(d, 0.95) << p.name << " is on a line of the stave";
        } else if (std::string(p.kind) == "ledger") {
            EXPECT_GT(d, 0.3) << p.name << " is on a ledger line";
            EXPECT_LT(d, 0.8) << p.name << "'s ledger line is dashed";
        } else {
            EXPECT_LT(d, 0.02) << p.name << " is in a space";
        }
    }
    EXPECT_EQ(history::StaveHeatMap::whereOf(2), "the bottom line");
    EXPECT_EQ(history::StaveHeatMap::whereOf(10), "the top line");
    EXPECT_EQ(history::StaveHeatMap::whereOf(12), "the 1st ledger line above");
    EXPECT_GT(map.bandOf(2).top(), map.bandOf(10).top()) << "low notes lower";
    EXPECT_EQ(map.placeAt(map.bandOf(7).center()), 7);
}

class ProgressMenu : public testing_support::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
        stavebass::historyPath() = [this] { return config.path() + "/history.sqlite"; };
    }
    void TearDown() override {
        WindowTest::TearDown();
        stavebass::historyPath() = [] { return history::defaultPath(); };
    }
    QTemporaryDir config;
};

TEST_F(ProgressMenu, PracticeProgressOpensOneWindowOnTheHistory) {
    generate(config.path() + "/history.sqlite");
    stavebass& w = makeWindow();
    QMenu* practice = nullptr;
    for (QAction* a : w.menuBar()->actions()) {
        if (a->text() == "Practice") {
            practice = a->menu();
        }
    }
    ASSERT_NE(practice, nullptr);
    QStringList items;
    for (QAction* a : practice->actions()) {
        items << a->text();
    }
    const qsizetype at = items.indexOf(QString::fromUtf8("Progress\u2026"));
    ASSERT_GT(at, 0) << items.join("|").toStdString();
    EXPECT_EQ(items[at - 1], QString::fromUtf8("Calibrate Latency\u2026"));
    for (int i = 0; i < 2; ++i) {
        practice->actions()[at]->trigger();
    }
    const auto windows = w.findChildren<history::ProgressWindow*>();
    ASSERT_EQ(windows.size(), 1) << "asked twice, one window";
    ASSERT_TRUE(waitLoaded(*windows[0]));
    EXPECT_TRUE(windows[0]->isVisible());
    EXPECT_EQ(windows[0]->progress().historyBeats, 12 * 120);
    windows[0]->close();
}

} // namespace
