// Practice history at scale: histories of one month, one year and five years of daily
// half-hour practice (about 4,100 beats a session, 1.5 million a year) are generated straight
// into the schema, then it measures and prints
//   - the file's size;
//   - how long the Progress window takes to open: from its construction to the first results
//     shown and painted, with every filter of the period list (all keys), and with one key;
//     warm (the file in the page cache) and cold (the file's pages dropped from the cache with
//     posix_fadvise, so that it is read from the disk again);
//   - the query alone (history::loadProgress), for comparison;
//   - the cost of storing a bar on the event thread (Writer::storeBar, which queues it) while the
//     worker writes into the one-year file, and the worker's own time per bar.
// Asserts nothing.
//
//   bench_history [--runs N] [--only month|year|five] [--dir DIR] [--keep]
//   bench_history --shot FILE.png [--days N] [--period 0..3] [--key K] [--tip stave|neck]
//       a picture of the window on a generated history of N days (365), to look at: under Xvfb
//       (QT_QPA_PLATFORM=xcb) the whole screen with the tooltip asked for, offscreen the window
#include "engine/notes.h"
#include "history/progress.h"
#include "history/progressmaps.h"
#include "history/progresswindow.h"
#include "history/store.h"
#include "history/writer.h"
#include "platform/msgbox.h"
#include "stave/stave_table.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHelpEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTimer>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

struct Figures {
    double median = 0;
    double max = 0;
    double min = 0;
};

Figures figures(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    Figures f;
    if (!v.empty()) {
        f.median = v[(v.size() - 1) / 2];
        f.max = v.back();
        f.min = v.front();
    }
    return f;
}

const char* const kKeys[] = {"C", "G", "D", "F", "Bb", "A", "E", "Eb"};
const char* const kFrets[] = {"At the Nut", "1st Fret", "2nd Fret",         "3rd Fret",
                              "5th Fret",   "7th Fret", "All over the Neck"};
const char* const kStrings[] = {"Low E-String", "A-String", "D-String", "G-String"};
constexpr int kOpen[4] = {0, 5, 10, 15};

// The line or space a name is written on, as the window stores it (ui/judging.cpp).
int writtenPlace(const std::string& name) {
    static const std::string letters = "EFGABCD";
    const std::optional<StavePlace> place = staveLookup(name);
    const int octave = name.back() - '0' - (place && place->ottava ? 1 : 0);
    return static_cast<int>(letters.find(name[0])) + 7 * octave;
}

bool exec(QSqlQuery& q) {
    if (!q.exec()) {
        std::fprintf(stderr, "SQL: %s\n", qPrintable(q.lastError().text()));
        return false;
    }
    return true;
}

// `days` daily sessions ending yesterday, each about half an hour at a tempo that rises over
// the history, with a reader who gets better: written straight into the schema, in one
// transaction.  Returns the number of beats.
int64_t generate(const QString& path, int days, uint32_t seed) {
    {
        history::Store store(path); // the schema, as the program makes it
        if (!store.open()) {
            std::fprintf(stderr, "cannot make %s: %s\n", qPrintable(path),
                         qPrintable(store.error()));
            std::exit(1);
        }
    }
    int64_t total = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "generate");
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        q.exec("PRAGMA journal_mode=OFF");
        q.exec("PRAGMA synchronous=OFF");
        q.exec("PRAGMA cache_size=-200000");
        q.exec("BEGIN");
        QSqlQuery session(db);
        session.prepare(
            R"(INSERT INTO sessions (id, started, ended, "key", fret, string, distance, diatonic,
                   odds, alternate, pitch, tempo_start, tempo_end, input, beat_count, right_count)
               VALUES (?, ?, ?, ?, ?, ?, 'On All Strings', 1, 'not often', 0,
                       'Bass Guitar Pitch (octave lower than written)', ?, ?, 'audio:default', ?, ?))");
        QSqlQuery beat(db);
        beat.prepare(R"(INSERT INTO beats (session_id, time, written, place, expected_midi,
                            played_midi, verdict, offset_ms, played_fret, played_string)
                        VALUES (?, ?, ?, ?, ?, ?, ?, ?, NULL, NULL))");
        QSqlQuery tally(db);
        tally.prepare(R"(INSERT INTO tallies VALUES (?, ?, ?, ?, ?, ?, -1, -1, ?))");

        std::mt19937 random(seed);
        auto uniform = [&](double a, double b) {
            return std::uniform_real_distribution<double>(a, b)(random);
        };
        auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
        const auto& table = notes::chromaticTable();
        const QDateTime today =
            QDateTime(QDate::currentDate(), QTime(18, 0), QTimeZone::systemTimeZone());
        for (int day = 0; day < days; ++day) {
            const double progress = static_cast<double>(day) / std::max(days - 1, 1);
            const int id = day + 1;
            const QDateTime started =
                today.addDays(day - days).addSecs(static_cast<int>(uniform(-3600, 3600)));
            const int tempoStart =
                static_cast<int>(std::lround(100 + 50 * progress + uniform(-8, 8)));
            const int tempoEnd = tempoStart + static_cast<int>(uniform(0, 20));
            const int fret = pick(7);
            const int string = pick(4);
            const int index = fret == 6 ? 0 : std::array{0, 1, 2, 3, 5, 7}[fret];
            const int beats =
                static_cast<int>(30 * (tempoStart + tempoEnd) / 2 + uniform(-100, 100));
            using Key = std::tuple<std::string, int, std::string, int, int>;
            std::map<Key, int> tallies;
            int right = 0;
            double at = 0;
            for (int b = 0; b < beats; ++b) {
                // A note within the hand's reach, or anywhere all over the neck.
                const int semitones =
                    fret == 6
                        ? pick(36)
                        : std::clamp(kOpen[string] + index + pick(11) - 3 * (pick(3) == 0), 0, 39);
                const std::string name = table[static_cast<size_t>(semitones + 1)];
                const int place = writtenPlace(name);
                const int expected = *notes::writtenNumber(name) - 12;
                const bool ledger = place <= 1 || place >= 11;
                const double pRight = 0.55 + 0.35 * progress - (ledger ? 0.15 : 0.0) -
                                      (name.size() == 3 ? 0.05 : 0.0);
                const double r = uniform(0, 1);
                const char* verdict = "right";
                int played = expected;
                if (r >= pRight) {
                    const double rest = (r - pRight) / (1 - pRight);
                    if (rest < 0.25) {
                        verdict = "early";
                    } else if (rest < 0.5) {
                        verdict = "late";
                    } else if (rest < 0.6) {
                        verdict = "octave";
                        played = expected + (pick(2) == 0 ? 12 : -12);
                    } else if (rest < 0.85) {
                        verdict = "wrong";
                        played = expected + std::array{-2, -1, 1, 2}[static_cast<size_t>(pick(4))];
                    } else {
                        verdict = "missed";
                        played = -1;
                    }
                }
                right += std::strcmp(verdict, "right") == 0 ? 1 : 0;
                at += 60.0 / ((tempoStart + (tempoEnd - tempoStart) * b / beats));
                beat.addBindValue(id);
                beat.addBindValue(
                    history::isoTime(started.addMSecs(static_cast<qint64>(at * 1000))));
                beat.addBindValue(QString::fromStdString(name));
                beat.addBindValue(place);
                beat.addBindValue(expected);
                beat.addBindValue(played >= 0 ? QVariant(played)
                                              : QVariant(QMetaType::fromType<int>()));
                beat.addBindValue(QString::fromLatin1(verdict));
                beat.addBindValue(played >= 0 ? QVariant(uniform(-40, 40))
                                              : QVariant(QMetaType::fromType<double>()));
                if (!exec(beat)) {
                    std::exit(1);
                }
                ++tallies[{name, place, verdict, expected, played}];
            }
            for (const auto& [key, n] : tallies) {
                tally.addBindValue(id);
                tally.addBindValue(QString::fromStdString(std::get<0>(key)));
                tally.addBindValue(std::get<1>(key));
                tally.addBindValue(QString::fromStdString(std::get<2>(key)));
                tally.addBindValue(std::get<3>(key));
                tally.addBindValue(std::get<4>(key));
                tally.addBindValue(n);
                if (!exec(tally)) {
                    std::exit(1);
                }
            }
            session.addBindValue(id);
            session.addBindValue(history::isoTime(started));
            session.addBindValue(
                history::isoTime(started.addMSecs(static_cast<qint64>(at * 1000))));
            session.addBindValue(QString::fromLatin1(kKeys[pick(8)]));
            session.addBindValue(QString::fromLatin1(kFrets[fret]));
            session.addBindValue(QString::fromLatin1(kStrings[string]));
            session.addBindValue(tempoStart);
            session.addBindValue(tempoEnd);
            session.addBindValue(beats);
            session.addBindValue(right);
            if (!exec(session)) {
                std::exit(1);
            }
            total += beats;
        }
        q.exec("COMMIT");
        q.exec("PRAGMA journal_mode=WAL");
        q.finish();
        session.finish();
        beat.finish();
        tally.finish();
        q = QSqlQuery();
        session = QSqlQuery();
        beat = QSqlQuery();
        tally = QSqlQuery();
        db.close();
    }
    QSqlDatabase::removeDatabase("generate");
    return total;
}

// Drops the file's pages from the page cache, so that the next open reads the disk.
void dropFromCache(const QString& path) {
    for (const QString& file : {path, path + "-wal", path + "-shm"}) {
        const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY);
        if (fd >= 0) {
            ::fdatasync(fd);
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
    }
}

// Construct, show, wait for the first results, paint them: the time the player waits.
double openWindow(const QString& path, int period, const QString& key = {}) {
    const auto t0 = Clock::now();
    auto* window = new history::ProgressWindow(path);
    if (period != 3 || !key.isEmpty()) {
        // The filters as a player would leave them: the window reads once more with them.
        window->periodFilter->setCurrentIndex(period);
        if (!key.isEmpty()) {
            window->keyFilter->addItem(key, key);
            window->keyFilter->setCurrentIndex(window->keyFilter->count() - 1);
        }
    }
    window->show();
    QEventLoop loop;
    QObject::connect(window, &history::ProgressWindow::loaded, &loop, [&] {
        if (!window->loading()) {
            loop.quit();
        }
    });
    if (window->loading()) {
        loop.exec();
    }
    window->repaint();
    const double ms = msSince(t0);
    if (window->progress().sessions.empty()) {
        std::fprintf(stderr, "  (no sessions shown)\n");
    }
    delete window;
    QCoreApplication::processEvents();
    return ms;
}

QString fileSize(const QString& path) {
    qint64 bytes = QFileInfo(path).size();
    for (const char* side : {"-wal", "-shm"}) {
        if (QFileInfo::exists(path + side)) {
            bytes += QFileInfo(path + side).size();
        }
    }
    return QString::number(bytes / 1e6, 'f', 1) + " MB";
}

// The window on a generated history, photographed.
int shot(const QString& file, int days, int period, const QString& key, const QString& tip) {
    QTemporaryDir temp;
    const QString path = temp.filePath("history.sqlite");
    if (days > 0) {
        generate(path, days, 5);
    }
    history::ProgressWindow window(path);
    window.periodFilter->setCurrentIndex(period);
    window.move(20, 20);
    window.show();
    QEventLoop loop;
    QObject::connect(&window, &history::ProgressWindow::loaded, &loop, [&] {
        if (!window.loading()) {
            loop.quit();
        }
    });
    loop.exec();
    if (!key.isEmpty()) {
        window.keyFilter->setCurrentIndex(window.keyFilter->findText(key));
        loop.exec();
    }
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
    if (!tip.isEmpty()) {
        // The tooltip a hover shows, where the pointer would be.
        QWidget* over = nullptr;
        QPoint at;
        if (tip == "stave") {
            over = window.staveMap;
            at = window.staveMap->bandOf(2).center().toPoint();
        } else if (tip == "neck") {
            over = window.fretMap;
            at = window.fretMap->boxOf(1, 3).center().toPoint();
        }
        if (over != nullptr) {
            QHelpEvent help(QEvent::ToolTip, at, over->mapToGlobal(at));
            QCoreApplication::sendEvent(over, &help);
        }
        QTimer::singleShot(700, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QImage image;
    if (QGuiApplication::platformName() == "xcb" && window.screen() != nullptr) {
        image = window.screen()->grabWindow(0).toImage();
    } else {
        image = window.grab().toImage();
    }
    if (!image.save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return 1;
    }
    std::printf("%s: %dx%d, %zu sessions shown\n", qPrintable(file), image.width(), image.height(),
                window.progress().sessions.size());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int runs = 5;
    QString only;
    QString dirArg;
    bool keep = false;
    QString shotFile;
    int shotDays = 365;
    int shotPeriod = 3;
    QString shotKey;
    QString shotTip;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            only = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
            dirArg = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(argv[i], "--keep") == 0) {
            keep = true;
        } else if (std::strcmp(argv[i], "--shot") == 0 && i + 1 < argc) {
            shotFile = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(argv[i], "--days") == 0 && i + 1 < argc) {
            shotDays = std::max(0, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--period") == 0 && i + 1 < argc) {
            shotPeriod = std::clamp(std::atoi(argv[++i]), 0, 3);
        } else if (std::strcmp(argv[i], "--key") == 0 && i + 1 < argc) {
            shotKey = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(argv[i], "--tip") == 0 && i + 1 < argc) {
            shotTip = QString::fromLocal8Bit(argv[++i]);
        } else {
            std::fprintf(stderr,
                         "bench_history [--runs N] [--only month|year|five] [--dir DIR] [--keep]\n"
                         "bench_history --shot FILE.png [--days N] [--period 0..3] [--key K] "
                         "[--tip stave|neck]\n");
            return 2;
        }
    }
    QApplication app(argc, argv);
    if (!shotFile.isEmpty()) {
        return shot(shotFile, shotDays, shotPeriod, shotKey, shotTip);
    }
    platform::setMessageBoxHook(
        [](const QString& text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });
    QTemporaryDir temp(dirArg.isEmpty() ? QDir::tempPath() + "/bench_history-XXXXXX"
                                        : dirArg + "/bench_history-XXXXXX");
    temp.setAutoRemove(!keep);
    std::printf("Files in %s%s\n", qPrintable(temp.path()), keep ? " (kept)" : "");

    struct Size {
        const char* name;
        int days;
    };
    const Size sizes[] = {{"month", 30}, {"year", 365}, {"five", 5 * 365}};
    QString yearFile;

    std::printf("\n| history | sessions | beats | tallies | generated in s | file size |\n");
    std::printf("|---|---|---|---|---|---|\n");
    std::vector<std::pair<const Size*, QString>> files;
    for (const Size& size : sizes) {
        if (!only.isEmpty() && only != size.name) {
            continue;
        }
        const QString path = temp.filePath(QString::fromLatin1(size.name) + ".sqlite");
        const auto t0 = Clock::now();
        const int64_t beats = generate(path, size.days, 7u + static_cast<uint32_t>(size.days));
        const double seconds = msSince(t0) / 1000;
        int64_t tallies = 0;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "count");
            db.setDatabaseName(path);
            db.open();
            QSqlQuery q(db);
            q.exec("SELECT COUNT(*) FROM tallies");
            tallies = q.next() ? q.value(0).toLongLong() : 0;
        }
        QSqlDatabase::removeDatabase("count");
        std::printf("| %s | %d | %lld | %lld | %.1f | %s |\n", size.name, size.days,
                    static_cast<long long>(beats), static_cast<long long>(tallies), seconds,
                    qPrintable(fileSize(path)));
        std::fflush(stdout);
        files.emplace_back(&size, path);
        if (QLatin1String(size.name) == QLatin1String("year")) {
            yearFile = path;
        }
    }

    std::printf("\nOpening the Progress window: construction to the first results shown and "
                "painted, ms (median / max of %d; cold: the file dropped from the page cache "
                "before each)\n\n",
                runs);
    std::printf("| history | filter | warm | cold | query alone (warm) |\n|---|---|---|---|---|\n");
    const char* const periods[] = {"last session", "7 days", "30 days", "all time"};
    for (const auto& [size, path] : files) {
        struct Case {
            int period;
            QString key;
        };
        const Case cases[] = {{3, {}}, {2, {}}, {1, {}}, {0, {}}, {3, QStringLiteral("G")}};
        openWindow(path, 3); // once, to load the libraries and the fonts
        for (const Case& c : cases) {
            std::vector<double> warm;
            std::vector<double> cold;
            std::vector<double> query;
            for (int r = 0; r < runs; ++r) {
                warm.push_back(openWindow(path, c.period, c.key));
                dropFromCache(path);
                cold.push_back(openWindow(path, c.period, c.key));
                history::ProgressFilter filter;
                filter.period = static_cast<history::Period>(c.period);
                if (!c.key.isEmpty()) {
                    filter.key = c.key;
                }
                const auto t0 = Clock::now();
                const history::Progress p = history::loadProgress(path, filter);
                query.push_back(msSince(t0));
            }
            const Figures w = figures(warm);
            const Figures k = figures(cold);
            const Figures q = figures(query);
            std::printf("| %s | %s%s | %.0f / %.0f | %.0f / %.0f | %.0f / %.0f |\n", size->name,
                        periods[c.period], c.key.isEmpty() ? "" : qPrintable(", key " + c.key),
                        w.median, w.max, k.median, k.max, q.median, q.max);
            std::fflush(stdout);
        }
    }

    if (!yearFile.isEmpty()) {
        // The writer's open at the first session (on its thread): the file checked (quick_check
        // reads every page) and, for a file of the schema before the tallies, brought up to date.
        const QString old = temp.filePath("year-v2.sqlite");
        QFile::copy(yearFile, old);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "downgrade");
            db.setDatabaseName(old);
            db.open();
            QSqlQuery q(db);
            for (const char* sql : {"DROP TABLE tallies", "DROP INDEX sessions_by_key",
                                    "CREATE INDEX beats_by_written ON beats(written, verdict)",
                                    "CREATE INDEX beats_by_place ON beats(place, verdict)",
                                    "PRAGMA user_version = 2", "VACUUM"}) {
                if (!q.exec(sql)) {
                    std::fprintf(stderr, "%s: %s\n", sql, qPrintable(q.lastError().text()));
                }
            }
            q = QSqlQuery();
            db.close();
        }
        QSqlDatabase::removeDatabase("downgrade");
        std::printf("\nOpening the one-year history for writing (the writer's thread)\n\n");
        std::printf("| file | ms |\n|---|---|\n");
        for (const auto& [label, file] :
             {std::pair{"schema 3 (this build's), warm", yearFile},
              std::pair{"schema 2, brought up to date (tallies made from the beats)", old}}) {
            const auto t0 = Clock::now();
            history::Store store(file);
            const bool ok = store.open();
            std::printf("| %s | %.0f%s |\n", label, msSince(t0), ok ? "" : " (failed)");
        }
        QFile::remove(old);

        // Storing bars as the window does, one every 2 s at tempo 120, here as fast as the
        // worker takes them (every 2 ms, so that it is busy writing while the bars are queued).
        std::vector<double> enqueue;
        std::vector<double> worker;
        {
            history::Writer writer(yearFile);
            history::SessionRecord s;
            s.started = QDateTime::currentDateTimeUtc();
            s.key = "C";
            s.fret = "At the Nut";
            s.string = "Low E-String";
            s.tempoStart = 120;
            const auto token = writer.beginSession(s);
            writer.flush();
            std::mt19937 random(3);
            for (int bar = 0; bar < 2000; ++bar) {
                std::vector<history::BeatRecord> beats;
                for (int i = 0; i < 4; ++i) {
                    history::BeatRecord b;
                    b.time = QDateTime::currentDateTimeUtc();
                    b.written = "F#1";
                    b.place = 8;
                    b.expectedMidi = 30;
                    b.playedMidi = 30 + static_cast<int>(random() % 3);
                    b.verdict =
                        *b.playedMidi == 30 ? listen::Verdict::Right : listen::Verdict::Wrong;
                    b.offsetMs = 3.0;
                    beats.push_back(b);
                }
                const auto t0 = Clock::now();
                writer.storeBar(token, std::move(beats));
                enqueue.push_back(msSince(t0));
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            writer.endSession(token, QDateTime::currentDateTimeUtc(), 120);
            writer.flush(60000);
        }
        {
            // The worker's side: one transaction per bar, into the year's file.
            history::Store store(yearFile);
            store.open();
            history::SessionRecord s;
            s.started = QDateTime::currentDateTimeUtc();
            const auto id = store.beginSession(s);
            for (int bar = 0; bar < 300; ++bar) {
                std::vector<history::BeatRecord> beats(4);
                for (auto& b : beats) {
                    b.time = QDateTime::currentDateTimeUtc();
                    b.written = "A1";
                    b.place = 10;
                    b.expectedMidi = 33;
                    b.playedMidi = 33;
                    b.verdict = listen::Verdict::Right;
                }
                const auto t0 = Clock::now();
                store.storeBar(*id, beats);
                worker.push_back(msSince(t0));
            }
        }
        std::sort(enqueue.begin(), enqueue.end());
        const auto p99 = enqueue[static_cast<size_t>(0.99 * (enqueue.size() - 1))];
        const Figures e = figures(enqueue);
        const Figures w = figures(worker);
        std::printf("\nStoring a bar (4 beats) into the one-year history\n\n");
        std::printf("| where | median ms | p99 ms | max ms |\n|---|---|---|---|\n");
        std::printf("| event thread: Writer::storeBar (queues the bar), %zu bars | %.4f | %.4f | "
                    "%.4f |\n",
                    enqueue.size(), e.median, p99, e.max);
        std::sort(worker.begin(), worker.end());
        std::printf("| worker thread: Store::storeBar (one transaction), %zu bars | %.3f | %.3f | "
                    "%.3f |\n",
                    worker.size(), w.median,
                    worker[static_cast<size_t>(0.99 * (worker.size() - 1))], w.max);
    }
    return 0;
}
