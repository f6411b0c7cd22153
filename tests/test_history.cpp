// The practice history store: round trip, migration, damaged and unwritable files, a full disk,
// two writers on one file (in one process and in two), kill -9 mid-session, and the CSV export.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimeZone>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>
#include <QtSql/QSqlRecord>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <set>
#include <unistd.h>

#include "history/store.h"
#include "history/writer.h"

// Readable failures for values read back from the database.
void PrintTo(const QVariant& value, std::ostream* os) {
    *os << (value.isNull() ? std::string("NULL") : value.toString().toStdString());
}

using history::BeatRecord;
using history::SessionRecord;
using listen::Verdict;

namespace {

// A connection of the test's own to look at a file.
class Db {
public:
    explicit Db(const QString& path) : name_(QStringLiteral("test-%1").arg(++counter_)) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        db.setDatabaseName(path);
        EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
    }
    ~Db() {
        {
            QSqlDatabase db = QSqlDatabase::database(name_, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name_);
    }
    QSqlDatabase db() const { return QSqlDatabase::database(name_, false); }
    // Every row of a query, each as a list of values.
    std::vector<QVariantList> rows(const QString& sql) const {
        QSqlQuery q(db());
        EXPECT_TRUE(q.exec(sql)) << sql.toStdString() << ": " << q.lastError().text().toStdString();
        std::vector<QVariantList> out;
        while (q.next()) {
            QVariantList row;
            for (int c = 0; c < q.record().count(); ++c) {
                row << q.value(c);
            }
            out.push_back(row);
        }
        return out;
    }
    QVariant value(const QString& sql) const {
        const auto all = rows(sql);
        return all.empty() || all[0].empty() ? QVariant() : all[0][0];
    }
    bool exec(const QString& sql) const {
        QSqlQuery q(db());
        return q.exec(sql);
    }

private:
    static inline int counter_ = 0;
    QString name_;
};

QDateTime at(int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(1'796'000'000'000 + ms, Qt::UTC);
}

SessionRecord session(const QString& key = QStringLiteral("C major")) {
    SessionRecord s;
    s.started = at(0);
    s.key = key;
    s.fret = QStringLiteral("0-5");
    s.string = QStringLiteral("E A D G");
    s.distance = QStringLiteral("Any");
    s.diatonic = true;
    s.odds = QStringLiteral("Even");
    s.alternate = false;
    s.pitch = QStringLiteral("Bass");
    s.tempoStart = 60;
    s.input = QStringLiteral("audio:default");
    return s;
}

// Four beats whose place is `bar`, so a test can tell the bars apart in the file.
std::vector<BeatRecord> bar(int number) {
    std::vector<BeatRecord> beats;
    const Verdict verdicts[] = {Verdict::Right, Verdict::Late, Verdict::Missed, Verdict::Wrong};
    for (int i = 0; i < 4; ++i) {
        BeatRecord b;
        b.time = at(number * 4000 + i * 1000);
        b.written = QStringLiteral("F#1");
        b.place = number;
        b.expectedMidi = 30;
        b.verdict = verdicts[i];
        if (b.verdict != Verdict::Missed) {
            b.playedMidi = b.verdict == Verdict::Wrong ? 31 : 30;
            b.offsetMs = b.verdict == Verdict::Late ? 95.5 : -3.0;
        }
        if (i == 0) {
            b.fret = 2;
            b.string = 4;
        }
        beats.push_back(b);
    }
    return beats;
}

class History : public ::testing::Test {
protected:
    QString file(const QString& name = QStringLiteral("history.sqlite")) const {
        return dir.filePath(name);
    }
    QTemporaryDir dir;
};

TEST_F(History, SessionsAndBeatsComeBackAsWritten) {
    history::Store store(file());
    ASSERT_TRUE(store.open()) << store.error().toStdString();
    const auto id = store.beginSession(session());
    ASSERT_TRUE(id.has_value());
    ASSERT_TRUE(store.storeBar(*id, bar(1)));
    ASSERT_TRUE(store.storeBar(*id, bar(2)));
    ASSERT_TRUE(store.endSession(*id, at(20000), 72));
    // Settings the window could not read are kept as empty texts, not refused.
    SessionRecord unread;
    unread.started = at(30000);
    EXPECT_TRUE(store.beginSession(unread).has_value()) << store.error().toStdString();
    store.close();

    Db db(file());
    EXPECT_EQ(db.value("PRAGMA journal_mode").toString(), "wal");
    EXPECT_EQ(db.value("PRAGMA user_version").toInt(), history::kSchemaVersion);
    const auto sessions = db.rows(
        R"(SELECT started, ended, "key", fret, string, distance, diatonic, odds, alternate,
                  pitch, tempo_start, tempo_end, input FROM sessions ORDER BY id)");
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_EQ(sessions[1][2], "");
    EXPECT_EQ(sessions[0], (QVariantList{"2026-11-30T00:53:20.000Z", "2026-11-30T00:53:40.000Z",
                                         "C major", "0-5", "E A D G", "Any", 1, "Even", 0, "Bass",
                                         60, 72, "audio:default"}));

    const auto beats =
        db.rows("SELECT time, written, place, expected_midi, played_midi, verdict, offset_ms, "
                "played_fret, played_string FROM beats ORDER BY id");
    ASSERT_EQ(beats.size(), 8u);
    EXPECT_EQ(beats[0],
              (QVariantList{"2026-11-30T00:53:24.000Z", "F#1", 1, 30, 30, "right", -3.0, 2, 4}));
    EXPECT_EQ(beats[1][5], "late");
    EXPECT_DOUBLE_EQ(beats[1][6].toDouble(), 95.5);
    EXPECT_TRUE(beats[1][7].isNull());
    EXPECT_TRUE(beats[2][4].isNull()) << "a miss has no played pitch";
    EXPECT_TRUE(beats[2][6].isNull()) << "a miss has no offset";
    EXPECT_EQ(beats[3][4].toInt(), 31);
    EXPECT_EQ(beats[7][2].toInt(), 2);

    const auto summaries = history::sessionSummaries(db.db());
    ASSERT_EQ(summaries.size(), 2u);
    EXPECT_EQ(summaries[0].beats, 8);
    EXPECT_EQ(summaries[0].right, 2);
    EXPECT_EQ(summaries[0].tempoEnd, 72);
    const auto places = history::countsByPlace(db.db());
    ASSERT_EQ(places.size(), 2u);
    EXPECT_EQ(places[1].place, 2);
    EXPECT_EQ(places[1].beats, 4);
    EXPECT_EQ(places[1].right, 1);
}

TEST(HistoryVerdicts, EachVerdictHasItsOwnStoredName) {
    const std::pair<Verdict, const char*> table[] = {
        {Verdict::Right, "right"},   {Verdict::Early, "early"}, {Verdict::Late, "late"},
        {Verdict::Octave, "octave"}, {Verdict::Wrong, "wrong"}, {Verdict::Missed, "missed"},
    };
    for (const auto& [verdict, name] : table) {
        EXPECT_EQ(history::verdictName(verdict), name);
        EXPECT_EQ(history::verdictFromName(name), verdict);
    }
    EXPECT_FALSE(history::verdictFromName("Right").has_value());
}

TEST_F(History, ABarMovesTheSessionsEndSoACrashStillLeavesOne) {
    history::Store store(file());
    ASSERT_TRUE(store.open());
    const auto id = store.beginSession(session());
    ASSERT_TRUE(store.storeBar(*id, bar(3)));
    store.close();
    Db db(file());
    EXPECT_EQ(db.value("SELECT ended FROM sessions").toString(), "2026-11-30T00:53:35.000Z");
    EXPECT_EQ(db.value("SELECT tempo_end FROM sessions").toInt(), 60);
}

TEST_F(History, AFileOfTheFirstSchemaIsBroughtUpToDateKeepingItsHistory) {
    {
        // Written by hand as the first schema left it: no fretboard position in beats.
        Db db(file());
        for (const char* sql : {
                 R"(CREATE TABLE sessions (id INTEGER PRIMARY KEY, started TEXT NOT NULL,
                    ended TEXT, "key" TEXT NOT NULL, fret TEXT NOT NULL, string TEXT NOT NULL,
                    distance TEXT NOT NULL, diatonic INTEGER NOT NULL, odds TEXT NOT NULL,
                    alternate INTEGER NOT NULL, pitch TEXT NOT NULL,
                    tempo_start INTEGER NOT NULL, tempo_end INTEGER NOT NULL,
                    input TEXT NOT NULL))",
                 R"(CREATE TABLE beats (id INTEGER PRIMARY KEY,
                    session_id INTEGER NOT NULL REFERENCES sessions(id), time TEXT NOT NULL,
                    written TEXT NOT NULL, place INTEGER NOT NULL,
                    expected_midi INTEGER NOT NULL, played_midi INTEGER, verdict TEXT NOT NULL,
                    offset_ms REAL))",
                 "CREATE INDEX sessions_by_started ON sessions(started)",
                 "CREATE INDEX beats_by_session ON beats(session_id)",
                 "CREATE INDEX beats_by_time ON beats(time)",
                 R"(INSERT INTO sessions VALUES (1, '2025-01-02T10:00:00.000Z',
                    '2025-01-02T10:30:00.000Z', 'G major', 'Any', 'All', '5', 0, 'Even', 1,
                    'Bass', 80, 96, 'midi:1'))",
                 R"(INSERT INTO beats VALUES (1, 1, '2025-01-02T10:00:01.000Z', 'G1', -3, 31,
                    31, 'right', 4.0))",
                 R"(INSERT INTO beats VALUES (2, 1, '2025-01-02T10:00:02.000Z', 'A1', -2, 33,
                    NULL, 'missed', NULL))",
                 "PRAGMA user_version = 1",
             }) {
            ASSERT_TRUE(db.exec(QString::fromUtf8(sql))) << sql;
        }
    }
    history::Store store(file());
    ASSERT_TRUE(store.open()) << store.error().toStdString();
    const auto id = store.beginSession(session());
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(*id, 2);
    ASSERT_TRUE(store.storeBar(*id, bar(1)));
    store.close();

    Db db(file());
    EXPECT_EQ(db.value("PRAGMA user_version").toInt(), history::kSchemaVersion);
    EXPECT_EQ(db.rows("SELECT id, \"key\", tempo_end FROM sessions ORDER BY id")[0],
              (QVariantList{1, "G major", 96}));
    // The counts per session are made for the old sessions and kept for the new.
    EXPECT_EQ(db.rows("SELECT beat_count, right_count FROM sessions ORDER BY id"),
              (std::vector<QVariantList>{{2, 1}, {4, 1}}));
    const auto old = db.rows("SELECT written, place, played_midi, verdict, played_fret FROM beats "
                             "WHERE session_id = 1 ORDER BY id");
    ASSERT_EQ(old.size(), 2u);
    EXPECT_EQ(old[0][0], "G1");
    EXPECT_EQ(old[0][1].toInt(), -3);
    EXPECT_TRUE(old[1][2].isNull());
    EXPECT_TRUE(old[0][4].isNull()) << "the old beats have no fretboard position";
    EXPECT_EQ(db.value("SELECT played_fret FROM beats WHERE session_id = 2 ORDER BY id").toInt(),
              2);
    // The tallies the Progress window reads are made for the old beats and kept for the new.
    EXPECT_EQ(db.rows("SELECT written, place, verdict, played_midi, beats FROM tallies "
                      "WHERE session_id = 1 ORDER BY written"),
              (std::vector<QVariantList>{{"A1", -2, "missed", -1, 1}, {"G1", -3, "right", 31, 1}}));
    EXPECT_EQ(db.value("SELECT SUM(beats) FROM tallies WHERE session_id = 2").toInt(), 4);
}

TEST_F(History, AnEmptyFileOrNoFileBecomesAFreshHistory) {
    for (bool zeroBytes : {false, true}) {
        const QString path = file(zeroBytes ? "empty.sqlite" : "sub/dir/none.sqlite");
        if (zeroBytes) {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        history::Store store(path);
        ASSERT_TRUE(store.open()) << store.error().toStdString();
        EXPECT_TRUE(store.movedAside().isEmpty());
        ASSERT_TRUE(store.beginSession(session()).has_value());
        store.close();
        Db db(path);
        EXPECT_EQ(db.value("PRAGMA user_version").toInt(), history::kSchemaVersion);
    }
}

TEST_F(History, AWriterGivenNothingToWriteMakesNoFile) {
    {
        history::Writer writer(file());
        EXPECT_TRUE(writer.flush());
    }
    EXPECT_FALSE(QFile::exists(file()));
}

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Another program's SQLite file, or one from a newer Clefwork, at the history's path: left as it
// is byte for byte (no tables added, no version set, no write-ahead log), and history is off.
TEST_F(History, AFileThatIsNotOursIsLeftAsItIs) {
    struct Case {
        const char* what;
        std::vector<const char*> sql;
        history::Failure failure;
    } cases[] = {
        {"another program's tables",
         {"CREATE TABLE contacts (name TEXT, phone TEXT)",
          "INSERT INTO contacts VALUES ('a', '1')"},
         history::Failure::NotOurs},
        {"its own schema version",
         {"CREATE TABLE notes (x)", "PRAGMA user_version = 2"},
         history::Failure::NotOurs},
        {"another program's write-ahead log",
         {"PRAGMA journal_mode = WAL", "CREATE TABLE t (x)", "PRAGMA user_version = 1"},
         history::Failure::NotOurs},
        {"another application id over tables like ours",
         {"CREATE TABLE sessions (x)", "CREATE TABLE beats (x)", "PRAGMA user_version = 1",
          "PRAGMA application_id = 1234"},
         history::Failure::NotOurs},
        {"a version set on an empty file", {"PRAGMA user_version = 3"}, history::Failure::NotOurs},
        {"a newer Clefwork",
         {"CREATE TABLE sessions (x)", "CREATE TABLE beats (x)", "PRAGMA user_version = 99"},
         history::Failure::NewerSchema},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir here;
        const QString path = here.filePath("history.sqlite");
        {
            Db db(path);
            for (const char* sql : c.sql) {
                ASSERT_TRUE(db.exec(sql)) << sql;
            }
        }
        const QByteArray before = bytesOf(path);
        ASSERT_FALSE(before.isEmpty());
        history::Writer writer(path);
        QSignalSpy failed(&writer, &history::Writer::failed);
        writer.storeBar(writer.beginSession(session()), bar(1));
        ASSERT_TRUE(writer.flush());
        ASSERT_TRUE(failed.wait(2000));
        EXPECT_FALSE(writer.historyOn());
        const QString message = failed.at(0).at(0).toString();
        EXPECT_TRUE(message.contains(c.failure == history::Failure::NotOurs ? "not a Clefwork"
                                                                            : "newer Clefwork") &&
                    message.contains("history.sqlite"))
            << message.toStdString();
        writer.stop();
        EXPECT_EQ(bytesOf(path), before) << "the file is left as it was";
        EXPECT_EQ(QDir(here.path()).entryList(QDir::Files), QStringList{"history.sqlite"});
    }
}

// A damaged history whose last bars are still in its write-ahead log (a crash): the file, the
// log and its index go aside exactly as they were, nothing folded in.
TEST_F(History, ADamagedFileGoesAsideWithItsLogUntouched) {
    const QString live = file("live.sqlite");
    const QString path = file();
    {
        history::Store store(live);
        ASSERT_TRUE(store.open());
        const auto id = store.beginSession(session());
        for (int i = 0; i < 100; ++i) {
            ASSERT_TRUE(store.storeBar(*id, bar(i)));
        }
        {
            Db db(live);
            ASSERT_TRUE(db.exec("PRAGMA wal_checkpoint(TRUNCATE)"));
        }
        for (int i = 100; i < 105; ++i) {
            ASSERT_TRUE(store.storeBar(*id, bar(i)));
        }
        // What a crash now leaves on the disk.
        for (const char* suffix : {"", "-wal", "-shm"}) {
            ASSERT_TRUE(QFile::copy(live + suffix, path + suffix)) << suffix;
        }
    }
    ASSERT_GT(QFileInfo(path + "-wal").size(), 0);
    {
        // Scribble over the inside of the pages after the first, in the file only.
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        for (qint64 page = 1; page * 4096 < f.size(); ++page) {
            f.seek(page * 4096 + 100);
            f.write(QByteArray(64, '\xff'));
        }
    }
    std::map<QString, QByteArray> before;
    for (const char* suffix : {"", "-wal", "-shm"}) {
        before[suffix] = bytesOf(path + suffix);
    }
    history::Writer writer(path);
    QSignalSpy moved(&writer, &history::Writer::movedAside);
    writer.storeBar(writer.beginSession(session()), bar(1));
    ASSERT_TRUE(writer.flush());
    ASSERT_TRUE(moved.wait(2000));
    const QString old = moved.at(0).at(1).toString();
    for (const auto& [suffix, bytes] : before) {
        SCOPED_TRACE(suffix.toStdString());
        EXPECT_EQ(bytesOf(old + suffix), bytes);
    }
    writer.stop();
    Db db(path);
    EXPECT_EQ(db.value("SELECT COUNT(*) FROM beats").toInt(), 4) << "a fresh history goes on";
}

// Damages a history in one of two ways.
enum class Damage { NotADatabase, BrokenPage };

TEST_F(History, ADamagedFileIsMovedAsideAndAFreshOneStarted) {
    for (Damage damage : {Damage::NotADatabase, Damage::BrokenPage}) {
        SCOPED_TRACE(static_cast<int>(damage));
        QTemporaryDir here;
        const QString path = here.filePath("history.sqlite");
        if (damage == Damage::NotADatabase) {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(8192, 'x'));
        } else {
            {
                history::Store store(path);
                ASSERT_TRUE(store.open());
                const auto id = store.beginSession(session());
                for (int i = 0; i < 200; ++i) {
                    ASSERT_TRUE(store.storeBar(*id, bar(i)));
                }
            }
            {
                Db db(path);
                ASSERT_TRUE(db.exec("PRAGMA wal_checkpoint(TRUNCATE)"));
                ASSERT_TRUE(db.exec("PRAGMA journal_mode=DELETE"));
            }
            // Scribble over the inside of the pages after the first, keeping the header.
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::ReadWrite));
            ASSERT_GT(f.size(), 4 * 4096);
            for (qint64 page = 1; page * 4096 < f.size(); ++page) {
                f.seek(page * 4096 + 100);
                f.write(QByteArray(64, '\xff'));
            }
        }
        const QByteArray original = [&] {
            QFile f(path);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();

        history::Writer writer(path);
        QSignalSpy moved(&writer, &history::Writer::movedAside);
        QSignalSpy failed(&writer, &history::Writer::failed);
        const auto token = writer.beginSession(session());
        writer.storeBar(token, bar(1));
        ASSERT_TRUE(writer.flush());
        ASSERT_TRUE(moved.wait(2000));
        EXPECT_EQ(failed.count(), 0);
        const QString old = moved.at(0).at(1).toString();
        EXPECT_TRUE(moved.at(0).at(0).toString().contains(old));
        EXPECT_TRUE(
            QRegularExpression(R"(history\.sqlite\.corrupt-\d{8}-\d{6}$)").match(old).hasMatch())
            << old.toStdString();
        QFile kept(old);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), original) << "the damaged file is kept as it was";
        writer.stop();
        Db db(path);
        EXPECT_EQ(db.value("PRAGMA integrity_check").toString(), "ok");
        EXPECT_EQ(db.value("SELECT COUNT(*) FROM beats").toInt(), 4);
    }
}

// Opens a read-only history through a Writer; true when it said so once and went on.
bool readOnlyGoesOnWithoutHistory(const QString& path) {
    history::Writer writer(path);
    QSignalSpy failed(&writer, &history::Writer::failed);
    const auto token = writer.beginSession(session());
    for (int i = 0; i < 5; ++i) {
        writer.storeBar(token, bar(i));
    }
    writer.flush();
    failed.wait(2000);
    QTest::qWait(50);
    const bool said = failed.count() == 1 && failed.at(0).at(0).toString().contains("read-only");
    if (!said) {
        std::fprintf(stderr, "signals %d: %s\n", static_cast<int>(failed.count()),
                     failed.isEmpty() ? "" : qPrintable(failed.at(0).at(0).toString()));
    }
    return said && !writer.historyOn();
}

TEST_F(History, AReadOnlyFileSaysSoOnceAndPracticeGoesOn) {
    {
        history::Store store(file());
        ASSERT_TRUE(store.open());
        ASSERT_TRUE(store.beginSession(session()).has_value());
    }
    ASSERT_TRUE(
        QFile::setPermissions(file(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    if (geteuid() != 0) {
        EXPECT_TRUE(readOnlyGoesOnWithoutHistory(file()));
    } else {
        // Root may write any file: look at it as an ordinary user, in a child process.
        ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                          QFile::ExeOwner | QFile::ReadOther |
                                                          QFile::ExeOther));
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("CLEFWORK_HISTORY_CHILD", "readonly");
        env.insert("CLEFWORK_HISTORY_DB", file());
        child.setProcessEnvironment(env);
        child.setChildProcessModifier([] {
            if (setgid(65534) != 0 || setuid(65534) != 0) {
                _exit(3);
            }
        });
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=HistoryChild.ReadOnly"});
        ASSERT_TRUE(child.waitForFinished(20000));
        const QByteArray out = child.readAllStandardOutput() + child.readAllStandardError();
        EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
        EXPECT_TRUE(out.contains("[       OK ] HistoryChild.ReadOnly")) << out.toStdString();
    }
    Db db(file());
    EXPECT_EQ(db.value("SELECT COUNT(*) FROM beats").toInt(), 0);
}

TEST_F(History, AFolderThatCannotBeMadeSaysSoOnce) {
    QFile blocker(file("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    history::Writer writer(file("blocker/history.sqlite"));
    QSignalSpy failed(&writer, &history::Writer::failed);
    writer.storeBar(writer.beginSession(session()), bar(1));
    writer.flush();
    ASSERT_TRUE(failed.wait(2000));
    QTest::qWait(50);
    EXPECT_EQ(failed.count(), 1);
    EXPECT_TRUE(failed.at(0).at(0).toString().contains("cannot be opened"));
}

TEST_F(History, AFullDiskSaysSoOnceAndKeepsTheBarsBeforeIt) {
    // SQLite's own page limit gives a real SQLITE_FULL without filling a disk.
    history::Writer writer(file(), history::Writer::Options{1});
    QSignalSpy failed(&writer, &history::Writer::failed);
    const auto token = writer.beginSession(session());
    for (int i = 0; i < 300; ++i) {
        writer.storeBar(token, bar(i));
    }
    writer.flush();
    ASSERT_TRUE(failed.wait(2000));
    writer.storeBar(token, bar(999));
    writer.flush();
    QTest::qWait(50);
    EXPECT_EQ(failed.count(), 1);
    EXPECT_TRUE(failed.at(0).at(0).toString().contains("full"))
        << failed.at(0).at(0).toString().toStdString();
    EXPECT_FALSE(writer.historyOn());
    writer.stop();

    Db db(file());
    EXPECT_EQ(db.value("PRAGMA integrity_check").toString(), "ok");
    const auto counts = db.rows("SELECT place, COUNT(*) FROM beats GROUP BY place ORDER BY place");
    ASSERT_FALSE(counts.empty());
    ASSERT_LT(counts.size(), 300u);
    for (size_t i = 0; i < counts.size(); ++i) {
        EXPECT_EQ(counts[i], (QVariantList{static_cast<int>(i), 4})) << "bars whole and in order";
    }
}

TEST_F(History, TwoWritersOnOneFileBothKeepTheirSessions) {
    history::Writer a(file());
    history::Writer b(file());
    QSignalSpy failedA(&a, &history::Writer::failed);
    QSignalSpy failedB(&b, &history::Writer::failed);
    const auto ta = a.beginSession(session("A"));
    const auto tb = b.beginSession(session("B"));
    for (int i = 0; i < 40; ++i) {
        a.storeBar(ta, bar(i));
        b.storeBar(tb, bar(i));
    }
    a.endSession(ta, at(200000), 70);
    b.endSession(tb, at(200000), 80);
    ASSERT_TRUE(a.flush(10000));
    ASSERT_TRUE(b.flush(10000));
    QTest::qWait(20);
    EXPECT_EQ(failedA.count() + failedB.count(), 0)
        << (failedA.isEmpty() ? failedB : failedA).at(0).at(0).toString().toStdString();
    a.stop();
    b.stop();
    Db db(file());
    EXPECT_EQ(db.rows(R"(SELECT s."key", s.tempo_end, COUNT(b.id) FROM sessions s
                         JOIN beats b ON b.session_id = s.id GROUP BY s.id ORDER BY s."key")"),
              (std::vector<QVariantList>{{"A", 70, 160}, {"B", 80, 160}}));
}

TEST_F(History, TwoProcessesOnOneFileBothKeepTheirSessions) {
    // Two Clefworks practising at once: two processes, each with its writer, on one file.
    const qint64 start = QDateTime::currentMSecsSinceEpoch() + 1500;
    std::vector<std::unique_ptr<QProcess>> children;
    for (const char* key : {"A", "B"}) {
        auto child = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("CLEFWORK_HISTORY_CHILD", "session");
        env.insert("CLEFWORK_HISTORY_DB", file());
        env.insert("CLEFWORK_HISTORY_KEY", key);
        env.insert("CLEFWORK_HISTORY_START", QString::number(start));
        child->setProcessEnvironment(env);
        child->setProcessChannelMode(QProcess::MergedChannels);
        child->start(QCoreApplication::applicationFilePath(),
                     {"--gtest_filter=HistoryChild.WritesOneSession"});
        ASSERT_TRUE(child->waitForStarted(5000));
        children.push_back(std::move(child));
    }
    for (auto& child : children) {
        ASSERT_TRUE(child->waitForFinished(60000));
        const QByteArray out = child->readAll();
        EXPECT_EQ(child->exitCode(), 0) << out.toStdString();
        EXPECT_TRUE(out.contains("[       OK ] HistoryChild.WritesOneSession"))
            << out.toStdString();
    }
    Db db(file());
    EXPECT_EQ(db.value("PRAGMA integrity_check").toString(), "ok");
    // Each session whole: its 150 bars of 4 beats, its counts, its tallies and its end.
    EXPECT_EQ(
        db.rows(R"(SELECT s."key", s.tempo_end, s.beat_count, COUNT(b.id),
                                COUNT(DISTINCT b.place),
                                (SELECT SUM(beats) FROM tallies t WHERE t.session_id = s.id)
                         FROM sessions s JOIN beats b ON b.session_id = s.id
                         GROUP BY s.id ORDER BY s."key")"),
        (std::vector<QVariantList>{{"A", 90, 600, 600, 150, 600}, {"B", 90, 600, 600, 150, 600}}));
    // Whether their bars interleave is up to the scheduler (under a sanitizer one child may
    // finish before the other starts), so it is not asserted.
}

// The kill -9 test's child: writes bars until it is killed, saying each bar once it is in.
TEST(HistoryChild, WritesUntilKilled) {
    if (qgetenv("CLEFWORK_HISTORY_CHILD") != "kill") {
        GTEST_SKIP() << "run by History.KillNineLosesAtMostTheBarInProgress";
    }
    history::Writer writer(qEnvironmentVariable("CLEFWORK_HISTORY_DB"));
    const auto token = writer.beginSession(session());
    for (int i = 0;; ++i) {
        writer.storeBar(token, bar(i));
        ASSERT_TRUE(writer.flush());
        ASSERT_TRUE(writer.historyOn());
        std::printf("bar %d\n", i);
        std::fflush(stdout);
    }
}

// The two-process test's child: one whole session, written as fast as the file lets it while
// the other child writes its own.
TEST(HistoryChild, WritesOneSession) {
    if (qgetenv("CLEFWORK_HISTORY_CHILD") != "session") {
        GTEST_SKIP() << "run by History.TwoProcessesOnOneFileBothKeepTheirSessions";
    }
    history::Writer writer(qEnvironmentVariable("CLEFWORK_HISTORY_DB"));
    QSignalSpy failed(&writer, &history::Writer::failed);
    // Both children begin at the same moment.
    const qint64 start = qEnvironmentVariable("CLEFWORK_HISTORY_START").toLongLong();
    while (QDateTime::currentMSecsSinceEpoch() < start) {
        QThread::msleep(1);
    }
    const auto token = writer.beginSession(session(qEnvironmentVariable("CLEFWORK_HISTORY_KEY")));
    for (int i = 0; i < 150; ++i) {
        writer.storeBar(token, bar(i));
        QThread::msleep(3); // a bar every 3 ms: both write over the same half second
    }
    writer.endSession(token, at(700000), 90);
    ASSERT_TRUE(writer.flush(30000));
    QTest::qWait(20);
    EXPECT_EQ(failed.count(), 0) << (failed.isEmpty()
                                         ? std::string()
                                         : failed.at(0).at(0).toString().toStdString());
    EXPECT_TRUE(writer.historyOn());
}

TEST(HistoryChild, ReadOnly) {
    if (qgetenv("CLEFWORK_HISTORY_CHILD") != "readonly") {
        GTEST_SKIP() << "run by History.AReadOnlyFileSaysSoOnceAndPracticeGoesOn";
    }
    EXPECT_TRUE(readOnlyGoesOnWithoutHistory(qEnvironmentVariable("CLEFWORK_HISTORY_DB")));
}

TEST_F(History, KillNineLosesAtMostTheBarInProgress) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("CLEFWORK_HISTORY_CHILD", "kill");
    env.insert("CLEFWORK_HISTORY_DB", file());
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=HistoryChild.WritesUntilKilled"});
    ASSERT_TRUE(child.waitForStarted(5000));
    QByteArray out;
    std::set<int> reported;
    QElapsedTimer timer;
    timer.start();
    while (reported.size() < 30 && timer.elapsed() < 10000) {
        child.waitForReadyRead(200);
        out += child.readAllStandardOutput();
        reported.clear();
        for (const QByteArray& line : out.split('\n')) {
            if (line.startsWith("bar ")) {
                reported.insert(line.mid(4).toInt());
            }
        }
    }
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    ASSERT_TRUE(child.waitForFinished(5000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
    // Lines the child wrote before it died may still be in the pipe.
    out += child.readAllStandardOutput();
    for (const QByteArray& line : out.split('\n')) {
        if (line.startsWith("bar ")) {
            reported.insert(line.mid(4).toInt());
        }
    }
    ASSERT_GE(reported.size(), 30u) << out.toStdString();

    Db db(file());
    EXPECT_EQ(db.value("PRAGMA integrity_check").toString(), "ok");
    const auto counts = db.rows("SELECT place, COUNT(*) FROM beats GROUP BY place ORDER BY place");
    const int last = *reported.rbegin();
    // Every reported bar is there, whole; at most the one in progress more.
    ASSERT_GE(counts.size(), reported.size());
    ASSERT_LE(counts.size(), reported.size() + 1);
    for (size_t i = 0; i < counts.size(); ++i) {
        EXPECT_EQ(counts[i], (QVariantList{static_cast<int>(i), 4}));
    }
    EXPECT_LE(counts.back()[0].toInt(), last + 1);
}

// Splits RFC 4180 text into rows of fields.
std::vector<QStringList> parseCsv(const QString& text) {
    std::vector<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row << field;
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            row << field;
            field.clear();
            rows.push_back(row);
            row.clear();
            ++i;
        } else {
            field += c;
        }
    }
    EXPECT_TRUE(field.isEmpty() && row.isEmpty()) << "the last row ends with CRLF";
    return rows;
}

TEST_F(History, TheCsvHoldsEveryBeatAsTheDatabaseDoes) {
    {
        history::Store store(file());
        ASSERT_TRUE(store.open());
        const auto first = store.beginSession(session(R"(A "minor", natural)"));
        auto tricky = session();
        tricky.input = QStringLiteral("midi:Port 1\nsecond line");
        const auto second = store.beginSession(tricky);
        ASSERT_TRUE(store.storeBar(*first, bar(1)));
        ASSERT_TRUE(store.storeBar(*second, bar(2)));
        ASSERT_TRUE(store.storeBar(*first, bar(3)));
        ASSERT_TRUE(store.endSession(*first, at(50000), 66));
    }
    QString error;
    ASSERT_TRUE(history::exportCsv(file(), file("out.csv"), error)) << error.toStdString();
    QFile csv(file("out.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const auto rows = parseCsv(QString::fromUtf8(csv.readAll()));

    Db db(file());
    const auto expected =
        db.rows(R"(SELECT s.id, s.started, s.ended, s."key", s.fret, s.string, s.distance,
                       s.diatonic, s.odds, s.alternate, s.pitch, s.tempo_start, s.tempo_end,
                       s.input, b.time, b.written, b.place, b.expected_midi, b.played_midi,
                       b.verdict, b.offset_ms, b.played_fret, b.played_string
                   FROM beats b JOIN sessions s ON s.id = b.session_id
                   ORDER BY s.id, b.id)");
    ASSERT_EQ(rows.size(), expected.size() + 1);
    EXPECT_EQ(rows[0].size(), 23);
    EXPECT_EQ(rows[0].first(), "session");
    EXPECT_EQ(rows[0][3], "key");
    EXPECT_EQ(rows[0].last(), "played_string");
    for (size_t r = 0; r < expected.size(); ++r) {
        ASSERT_EQ(rows[r + 1].size(), expected[r].size());
        for (qsizetype c = 0; c < rows[r + 1].size(); ++c) {
            const QVariant& v = expected[r][c];
            EXPECT_EQ(rows[r + 1][c], v.isNull() ? QString() : v.toString())
                << "row " << r << " column " << rows[0][c].toStdString();
        }
    }
    EXPECT_EQ(rows[1][3], R"(A "minor", natural)");
    EXPECT_EQ(rows[9][13], "midi:Port 1\nsecond line");
    EXPECT_EQ(rows[8][16], "3") << "the first session's beats come first";

    EXPECT_FALSE(history::exportCsv(file("none.sqlite"), file("x.csv"), error));
    EXPECT_FALSE(error.isEmpty());
}

} // namespace
