// Practice history: every session and every judged beat, kept in SQLite through Qt SQL.
//
// `Store` is the synchronous store, used by one thread at a time (its connection belongs to the
// thread that opened it).  The window never uses it directly: it talks to `Writer`
// (history/writer.h), which runs a Store on a worker thread.  The Progress window and the export
// open their own connections.
#pragma once

#include "layers/history.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "listen/matcher.h"

namespace history {

// The schema this build writes.  See the migration steps in store.cpp for what each version is.
inline constexpr int kSchemaVersion = 3;
// SQLite's application_id in the header of a Clefwork history: "CLFW".  Files written before it
// was set hold 0 and are known by their tables.
inline constexpr int kApplicationId = 0x434C4657;

// One practice session: a Start with listening on, to the last Stop.  Texts are as the
// settings' lists show them.
struct SessionRecord {
    QDateTime started; // UTC
    QDateTime ended;   // UTC; invalid until known
    QString key;
    QString fret;
    QString string;
    QString distance;
    bool diatonic = false;
    QString odds;
    bool alternate = false;
    QString pitch;
    int tempoStart = 0;
    int tempoEnd = 0;
    QString input; // the input's id, e.g. "audio:default" or "midi:..."
};

// One judged beat.
struct BeatRecord {
    QDateTime time;  // UTC, when the beat was due
    QString written; // the written name with its octave digit, e.g. "F#1"
    int place = 0;   // the line or space on the stave, as a step number from the caller
    int expectedMidi = 0;
    std::optional<int> playedMidi; // none when missed
    listen::Verdict verdict = listen::Verdict::Missed;
    std::optional<double> offsetMs; // only when the note was timed
    std::optional<int> fret;        // where it was played, when the input knows it: the fret
    std::optional<int> string;      // and the string as players number them, 1 the G .. 4 the low E
};

// "right", "early", "late", "octave", "wrong", "missed": the verdict as stored.
QString verdictName(listen::Verdict verdict);
std::optional<listen::Verdict> verdictFromName(const QString& name);

// ~/.local/share/clefwork/history.sqlite
QString defaultPath();

// Timestamps as stored: UTC ISO-8601 with milliseconds, "2026-12-09T15:01:02.345Z".
QString isoTime(const QDateTime& time);

// What went wrong, by the kind of thing the player should be told.
// NotOurs: the file at the history's path belongs to another program; it is left as it is.
enum class Failure { None, CannotOpen, ReadOnly, DiskFull, Busy, NewerSchema, NotOurs, Other };

class Store {
public:
    explicit Store(QString path);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Opens the file, sets WAL, and brings the schema up to date.  A corrupt file is moved aside
    // (see movedAside()) and a fresh one started.  False on failure: see failure() and error().
    bool open();
    bool isOpen() const { return open_; }
    void close();

    // Each of these is one transaction; a busy file is retried for a while.  False on failure.
    std::optional<int64_t> beginSession(const SessionRecord& session);
    // Also moves the session's end to the bar's last beat, so that a session cut short by a
    // crash still has an end.
    bool storeBar(int64_t sessionId, const std::vector<BeatRecord>& beats);
    bool endSession(int64_t sessionId, const QDateTime& ended, int tempoEnd);

    Failure failure() const { return failure_; }
    QString error() const { return error_; }
    // Where a corrupt file was moved by the last open(), or empty.
    QString movedAside() const { return movedAside_; }
    const QString& path() const { return path_; }

    // A plain sentence for the player about the last failure.
    QString failureMessage() const;

    // Test seam: the most pages the file may grow to on this connection (SQLite's
    // max_page_count), so that the disk filling up can be shown with a real SQLITE_FULL.
    void setMaxPageCount(int pages);

private:
    bool openConnection();
    bool checkAndMigrate(bool& corrupt);
    bool isClefworks(bool& corrupt);
    // Whether closing the connection folds the write-ahead log into the file.  Off until the
    // file is known to be Clefwork's and sound, so that a damaged or foreign file and its log
    // are left as they were.
    void setCheckpointOnClose(bool on);
    bool moveAside();
    bool exec(const QString& sql);
    bool inWriteTransaction(const std::function<bool()>& body);
    bool addTallies(QSqlDatabase db, int64_t sessionId, const std::vector<BeatRecord>& beats);
    void fail(const QSqlError& error, const QString& what);

    QString path_;
    QString connection_;
    bool open_ = false;
    Failure failure_ = Failure::None;
    QString error_;
    QString movedAside_;
    // The -shm file as it was before this open, when a log came with the file: the open rebuilds
    // it, and a damaged file is moved aside with it as it was.
    bool shmExisted_ = false;
    std::optional<QByteArray> shmBefore_;
    QSqlError lastError_; // of the last statement that failed inside a transaction
};

// A read-only connection of its own to the history at `path`, removed when it goes out of scope.
class ReadConnection {
public:
    explicit ReadConnection(const QString& path);
    ~ReadConnection();
    ReadConnection(const ReadConnection&) = delete;
    ReadConnection& operator=(const ReadConnection&) = delete;
    QSqlDatabase db() const;

private:
    QString name_;
};

// Writes the whole history at `dbPath` to `csvPath`, one row per beat with its session's
// columns, a header row first, quoted as RFC 4180 says.  False with `error` set on failure.
// `rows`, when given, is set to the beats written (the header not counted).
bool exportCsv(const QString& dbPath, const QString& csvPath, QString& error,
               int64_t* rows = nullptr);

// For the Progress window: a session with how it went.
struct SessionSummary {
    int64_t id = 0;
    QDateTime started;
    QString key;
    int tempoStart = 0;
    int tempoEnd = 0;
    int beats = 0;
    int right = 0;
};
std::vector<SessionSummary> sessionSummaries(QSqlDatabase db);

// For the stave heat map: per written place, how many beats and how many read right, over the
// whole history (from the tallies; history/progress.h filters by key and period).
struct PlaceCount {
    int place = 0;
    int beats = 0;
    int right = 0;
};
std::vector<PlaceCount> countsByPlace(QSqlDatabase db);

} // namespace history
