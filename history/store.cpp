#include "history/store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>
#include <QThread>
#include <QtSql/QSqlDriver>
#include <QtSql/QSqlQuery>
#include <QtSql/QSqlRecord>
#include <algorithm>
#include <atomic>
#include <sqlite3.h>

namespace history {

namespace {

// SQLite's primary result codes, as Qt SQL reports them in nativeErrorCode().
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteReadOnly = 8;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteFull = 13;
constexpr int kSqliteCantOpen = 14;
constexpr int kSqliteNotADb = 26;

// How long SQLite itself waits for another writer, and how often we try again after that.
constexpr int kBusyTimeoutMs = 2000;
constexpr int kBusyRetries = 5;
// The largest -shm file kept as it was when a damaged file is moved aside (a year's log indexes
// in a few MB).
constexpr qint64 kMaxShmKept = 64 << 20;

int sqliteCode(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? (code & 0xff) : -1;
}

bool isBusy(const QSqlError& error) {
    const int code = sqliteCode(error);
    return code == kSqliteBusy || code == kSqliteLocked;
}

bool isCorrupt(const QSqlError& error) {
    const int code = sqliteCode(error);
    return code == kSqliteNotADb || code == kSqliteCorrupt;
}

// The schema, one step from each version to the next.  Step i takes a file at version i to
// version i + 1; a new file (version 0) runs them all.  Never edit a step once it has been
// released: add a new one and raise kSchemaVersion.
//
// Version 1 is the first schema this store wrote: sessions, and beats without the fretboard
// position.  Version 2 adds where each beat was played (fret and string, when the input knows
// it) for the fretboard chart; each session's count of beats and of beats read right, kept with
// every bar so that accuracy per session needs no pass over the beats; and the indexes by
// written name and by place for the most-missed notes and the stave heat map.
//
// Version 3 adds the tallies: per session, how many beats of each written note got each verdict
// and each played pitch (and fretboard position), kept with every bar.  A half-hour session
// holds about 4,000 beats but only a hundred or two tallies, so the Progress window reads a
// year of history from some 60,000 rows instead of 1.5 million.  A value the beat does not have
// (no played pitch, no position) is -1 there, so that it can be part of the key.  The indexes of
// version 2 by written name and by place served nothing but those charts and are dropped.
const std::vector<std::vector<const char*>>& migrationSteps() {
    static const std::vector<std::vector<const char*>> steps = {
        // 0 -> 1
        {
            R"(CREATE TABLE sessions (
                id INTEGER PRIMARY KEY,
                started TEXT NOT NULL,
                ended TEXT,
                "key" TEXT NOT NULL,
                fret TEXT NOT NULL,
                string TEXT NOT NULL,
                distance TEXT NOT NULL,
                diatonic INTEGER NOT NULL,
                odds TEXT NOT NULL,
                alternate INTEGER NOT NULL,
                pitch TEXT NOT NULL,
                tempo_start INTEGER NOT NULL,
                tempo_end INTEGER NOT NULL,
                input TEXT NOT NULL))",
            R"(CREATE TABLE beats (
                id INTEGER PRIMARY KEY,
                session_id INTEGER NOT NULL REFERENCES sessions(id),
                time TEXT NOT NULL,
                written TEXT NOT NULL,
                place INTEGER NOT NULL,
                expected_midi INTEGER NOT NULL,
                played_midi INTEGER,
                verdict TEXT NOT NULL,
                offset_ms REAL))",
            "CREATE INDEX sessions_by_started ON sessions(started)",
            "CREATE INDEX beats_by_session ON beats(session_id)",
            "CREATE INDEX beats_by_time ON beats(time)",
        },
        // 1 -> 2
        {
            "ALTER TABLE beats ADD COLUMN played_fret INTEGER",
            "ALTER TABLE beats ADD COLUMN played_string INTEGER",
            "ALTER TABLE sessions ADD COLUMN beat_count INTEGER NOT NULL DEFAULT 0",
            "ALTER TABLE sessions ADD COLUMN right_count INTEGER NOT NULL DEFAULT 0",
            R"(UPDATE sessions SET
                beat_count = (SELECT COUNT(*) FROM beats WHERE session_id = sessions.id),
                right_count = (SELECT COUNT(*) FROM beats
                               WHERE session_id = sessions.id AND verdict = 'right'))",
            "CREATE INDEX beats_by_written ON beats(written, verdict)",
            "CREATE INDEX beats_by_place ON beats(place, verdict)",
        },
        // 2 -> 3
        {
            R"(CREATE TABLE tallies (
                session_id INTEGER NOT NULL,
                written TEXT NOT NULL,
                place INTEGER NOT NULL,
                verdict TEXT NOT NULL,
                expected_midi INTEGER NOT NULL,
                played_midi INTEGER NOT NULL,
                played_fret INTEGER NOT NULL,
                played_string INTEGER NOT NULL,
                beats INTEGER NOT NULL,
                PRIMARY KEY (session_id, written, place, verdict, expected_midi, played_midi,
                             played_fret, played_string)) WITHOUT ROWID)",
            R"(INSERT INTO tallies
                SELECT session_id, written, place, verdict, expected_midi,
                       COALESCE(played_midi, -1), COALESCE(played_fret, -1),
                       COALESCE(played_string, -1), COUNT(*)
                FROM beats
                GROUP BY session_id, written, place, verdict, expected_midi,
                         COALESCE(played_midi, -1), COALESCE(played_fret, -1),
                         COALESCE(played_string, -1))",
            "DROP INDEX beats_by_written",
            "DROP INDEX beats_by_place",
            R"(CREATE INDEX sessions_by_key ON sessions("key", started))",
        },
    };
    return steps;
}

QString nextConnectionName() {
    static std::atomic<int> counter{0};
    return QStringLiteral("clefwork-history-%1").arg(++counter);
}

template <typename T> QVariant nullable(const std::optional<T>& value) {
    return value ? QVariant::fromValue(*value) : QVariant(QMetaType::fromType<T>());
}

} // namespace

QString verdictName(listen::Verdict verdict) {
    switch (verdict) {
    case listen::Verdict::Right:
        return QStringLiteral("right");
    case listen::Verdict::Early:
        return QStringLiteral("early");
    case listen::Verdict::Late:
        return QStringLiteral("late");
    case listen::Verdict::Octave:
        return QStringLiteral("octave");
    case listen::Verdict::Wrong:
        return QStringLiteral("wrong");
    case listen::Verdict::Missed:
        return QStringLiteral("missed");
    }
    return QStringLiteral("missed");
}

std::optional<listen::Verdict> verdictFromName(const QString& name) {
    using listen::Verdict;
    for (Verdict v : {Verdict::Right, Verdict::Early, Verdict::Late, Verdict::Octave,
                      Verdict::Wrong, Verdict::Missed}) {
        if (verdictName(v) == name) {
            return v;
        }
    }
    return std::nullopt;
}

QString defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/clefwork/history.sqlite");
}

QString isoTime(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODateWithMs);
}

Store::Store(QString path) : path_(std::move(path)) {}

Store::~Store() {
    close();
}

void Store::close() {
    if (connection_.isEmpty()) {
        return;
    }
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
    connection_.clear();
    open_ = false;
}

void Store::fail(const QSqlError& error, const QString& what) {
    const int code = sqliteCode(error);
    if (code == kSqliteFull) {
        failure_ = Failure::DiskFull;
    } else if (code == kSqliteReadOnly) {
        failure_ = Failure::ReadOnly;
    } else if (code == kSqliteCantOpen) {
        failure_ = Failure::CannotOpen;
    } else if (code == kSqliteBusy || code == kSqliteLocked) {
        failure_ = Failure::Busy;
    } else {
        failure_ = Failure::Other;
    }
    error_ = what + QStringLiteral(": ") + error.text();
}

QString Store::failureMessage() const {
    const QString file = QDir::toNativeSeparators(path_);
    switch (failure_) {
    case Failure::None:
        return {};
    case Failure::CannotOpen:
        return QObject::tr("Practice history is off: %1 cannot be opened (%2).").arg(file, error_);
    case Failure::ReadOnly:
        return QObject::tr("Practice history is off: %1 is read-only.").arg(file);
    case Failure::DiskFull:
        return QObject::tr("Practice history is off: the disk holding %1 is full.").arg(file);
    case Failure::Busy:
        return QObject::tr("Practice history is off: %1 is kept busy by another program.")
            .arg(file);
    case Failure::NewerSchema:
        return QObject::tr("Practice history is off: %1 was written by a newer Clefwork.")
            .arg(file);
    case Failure::NotOurs:
        return QObject::tr("Practice history is off: %1 is not a Clefwork practice history (it "
                           "seems to belong to another program). It was left as it is.")
            .arg(file);
    case Failure::Other:
        return QObject::tr("Practice history is off: %1 (%2).").arg(file, error_);
    }
    return {};
}

bool Store::exec(const QString& sql) {
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    if (!query.exec(sql)) {
        fail(query.lastError(), sql.simplified().left(60));
        lastError_ = query.lastError();
        return false;
    }
    return true;
}

bool Store::openConnection() {
    close();
    const QFileInfo info(path_);
    if (!QDir().mkpath(info.absolutePath())) {
        failure_ = Failure::CannotOpen;
        error_ = QObject::tr("cannot make the folder %1").arg(info.absolutePath());
        return false;
    }
    // A log left beside the file (a crash, or another program) must survive a file that turns
    // out damaged or foreign; the open rebuilds the -shm index, so that is kept as it was too.
    const QFileInfo log(path_ + QStringLiteral("-wal"));
    const bool withLog = log.exists() && log.size() > 0;
    const QFileInfo shm(path_ + QStringLiteral("-shm"));
    shmExisted_ = shm.exists();
    shmBefore_.reset();
    if (withLog && shmExisted_ && shm.size() <= kMaxShmKept) {
        QFile file(shm.filePath());
        if (file.open(QIODevice::ReadOnly)) {
            shmBefore_ = file.readAll();
        }
    }
    connection_ = nextConnectionName();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path_);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    if (!db.open()) {
        fail(db.lastError(), QStringLiteral("open"));
        if (failure_ == Failure::Other) {
            failure_ = Failure::CannotOpen;
        }
        return false;
    }
    // Without a log there is nothing to fold in, and closing removes the empty log it made.
    setCheckpointOnClose(!withLog);
    return true;
}

void Store::setCheckpointOnClose(bool on) {
    const QVariant handle = QSqlDatabase::database(connection_, false).driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0) {
        if (sqlite3* h = *static_cast<sqlite3* const*>(handle.data())) {
            sqlite3_db_config(h, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, on ? 0 : 1, nullptr);
        }
    }
}

// Whether the file is a Clefwork history (or empty), read without writing anything: its
// application_id, its schema version and its tables.  A file that is not is left alone.
bool Store::isClefworks(bool& corrupt) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    const auto number = [&](const QString& pragma, int& out) {
        QSqlQuery q(db);
        if (!q.exec(pragma) || !q.next()) {
            corrupt = isCorrupt(q.lastError());
            fail(q.lastError(), pragma);
            return false;
        }
        out = q.value(0).toInt();
        return true;
    };
    int applicationId = 0;
    int version = 0;
    QStringList tables;
    // The three are read in one transaction, so that they come from one state of the file:
    // read one by one, another Clefwork making the same new file could commit its schema in
    // between, and its tables without its version would look like another program's file.
    const bool snapshot = db.transaction();
    const bool read = [&] {
        if (!number(QStringLiteral("PRAGMA application_id"), applicationId) ||
            !number(QStringLiteral("PRAGMA user_version"), version)) {
            return false;
        }
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND "
                                   "name NOT LIKE 'sqlite!_%' ESCAPE '!'"))) {
            corrupt = isCorrupt(q.lastError());
            fail(q.lastError(), QStringLiteral("sqlite_master"));
            return false;
        }
        while (q.next()) {
            tables << q.value(0).toString();
        }
        return true;
    }();
    if (snapshot) {
        db.rollback(); // nothing was written
    }
    if (!read) {
        return false;
    }
    const bool ourId = applicationId == kApplicationId;
    const bool ourTables =
        tables.contains(QLatin1String("sessions")) && tables.contains(QLatin1String("beats"));
    bool ours = false;
    if (applicationId != 0 && !ourId) {
        ours = false;
    } else if (version == 0) {
        ours = tables.isEmpty(); // a new file; every Clefwork history has its version set
    } else if (version <= kSchemaVersion) {
        ours = ourTables && (version < 3 || tables.contains(QLatin1String("tallies")));
    } else {
        ours = ourId || ourTables;
    }
    if (!ours) {
        failure_ = Failure::NotOurs;
        error_ = QStringLiteral("application_id %1, user_version %2, tables %3")
                     .arg(applicationId)
                     .arg(version)
                     .arg(tables.join(QLatin1Char(' ')));
        return false;
    }
    if (version > kSchemaVersion) {
        failure_ = Failure::NewerSchema;
        error_ = QStringLiteral("schema version %1").arg(version);
        return false;
    }
    return true;
}

// Checks the file, sets its journal and brings the schema up to date.  `corrupt` tells the
// caller to move the file aside and start again.
bool Store::checkAndMigrate(bool& corrupt) {
    corrupt = false;
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    // Nothing is written before the file is known to be ours.
    if (!isClefworks(corrupt)) {
        return false;
    }
    {
        // quick_check rather than integrity_check: it reads every page but skips matching each
        // index against its table, which would cost seconds on a year of history.
        QSqlQuery check(db);
        if (!check.exec(QStringLiteral("PRAGMA quick_check"))) {
            corrupt = isCorrupt(check.lastError());
            fail(check.lastError(), QStringLiteral("quick_check"));
            return false;
        }
        if (!check.next() || check.value(0).toString() != QLatin1String("ok")) {
            corrupt = true;
            failure_ = Failure::Other;
            error_ = QStringLiteral("quick_check: ") + check.value(0).toString();
            return false;
        }
    }
    // Going over to WAL takes the file for itself a moment, and SQLite does not wait for that
    // in its busy handler: a second Clefwork opening the same new file meanwhile is told "locked"
    // at once.  Wait for it here, as long as the busy timeout.
    for (int waited = 0;; waited += 20) {
        QSqlQuery query(db);
        if (query.exec(QStringLiteral("PRAGMA journal_mode=WAL"))) {
            break;
        }
        if (!isBusy(query.lastError()) || waited >= kBusyTimeoutMs) {
            corrupt = isCorrupt(query.lastError());
            fail(query.lastError(), QStringLiteral("journal_mode"));
            return false;
        }
        query.finish();
        QThread::msleep(20);
    }
    if (!exec(QStringLiteral("PRAGMA synchronous=NORMAL"))) {
        return false;
    }
    // Every open takes the write lock once, even when there is nothing to migrate, so that a
    // file we may read but not write is found now and not at the first bar.
    return inWriteTransaction([&] {
        QSqlQuery version(db);
        if (!version.exec(QStringLiteral("PRAGMA user_version")) || !version.next()) {
            fail(version.lastError(), QStringLiteral("user_version"));
            return false;
        }
        const int from = version.value(0).toInt();
        version.finish();
        if (from > kSchemaVersion) {
            failure_ = Failure::NewerSchema;
            error_ = QStringLiteral("schema version %1").arg(from);
            return false;
        }
        const auto& steps = migrationSteps();
        for (int v = from; v < kSchemaVersion; ++v) {
            for (const char* sql : steps[static_cast<size_t>(v)]) {
                if (!exec(QString::fromUtf8(sql))) {
                    return false;
                }
            }
        }
        return exec(QStringLiteral("PRAGMA application_id=%1").arg(kApplicationId)) &&
               exec(QStringLiteral("PRAGMA user_version=%1").arg(kSchemaVersion));
    });
}

bool Store::moveAside() {
    close();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path_ + QStringLiteral(".corrupt-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n) {
        target = path_ + QStringLiteral(".corrupt-") + stamp + QStringLiteral("-%1").arg(n);
    }
    if (!QFile::rename(path_, target)) {
        failure_ = Failure::CannotOpen;
        error_ = QObject::tr("the damaged file could not be moved aside");
        return false;
    }
    // The log goes with it untouched (closing did not fold it in).  The -shm index was rebuilt
    // by the open: the one that came with the file goes with it, one this open made is dropped.
    const QString log = path_ + QStringLiteral("-wal");
    if (QFileInfo::exists(log) && !QFile::rename(log, target + QStringLiteral("-wal"))) {
        QFile::remove(log);
    }
    const QString shm = path_ + QStringLiteral("-shm");
    if (shmBefore_) {
        QFile kept(target + QStringLiteral("-shm"));
        if (kept.open(QIODevice::WriteOnly)) {
            kept.write(*shmBefore_);
        }
        QFile::remove(shm);
    } else if (!shmExisted_) {
        QFile::remove(shm);
    } else if (QFileInfo::exists(shm) && !QFile::rename(shm, target + QStringLiteral("-shm"))) {
        QFile::remove(shm);
    }
    movedAside_ = target;
    return true;
}

bool Store::open() {
    failure_ = Failure::None;
    error_.clear();
    movedAside_.clear();
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!openConnection()) {
            return false;
        }
        bool corrupt = false;
        bool checked = checkAndMigrate(corrupt);
        // Another Clefwork opening the same new file may hold it for itself a moment (going
        // over to WAL), and SQLite tells the reads of the checks "locked" at once rather than
        // waiting: try them again, as long as the busy timeout.
        for (int waited = 0; !checked && failure_ == Failure::Busy && waited < kBusyTimeoutMs;
             waited += 20) {
            QThread::msleep(20);
            failure_ = Failure::None;
            error_.clear();
            checked = checkAndMigrate(corrupt);
        }
        if (checked) {
            failure_ = Failure::None;
            error_.clear();
            open_ = true;
            setCheckpointOnClose(true);
            shmBefore_.reset();
            return true;
        }
        if (!corrupt || attempt > 0 || !moveAside()) {
            close();
            return false;
        }
    }
    return false;
}

void Store::setMaxPageCount(int pages) {
    if (open_) {
        exec(QStringLiteral("PRAGMA max_page_count=%1").arg(pages));
    }
}

// BEGIN IMMEDIATE takes the write lock at once, so that two Clefworks on one file wait for each
// other in SQLite's busy handler instead of failing half way through a bar.
bool Store::inWriteTransaction(const std::function<bool()>& body) {
    for (int attempt = 0;; ++attempt) {
        lastError_ = QSqlError();
        QSqlQuery begin(QSqlDatabase::database(connection_, false));
        bool ok = begin.exec(QStringLiteral("BEGIN IMMEDIATE"));
        QSqlError error = begin.lastError();
        if (ok) {
            ok = body() && exec(QStringLiteral("COMMIT"));
            if (!ok) {
                error = lastError_;
                const Failure failure = failure_;
                const QString message = error_;
                exec(QStringLiteral("ROLLBACK"));
                failure_ = failure;
                error_ = message;
            }
        } else {
            fail(error, QStringLiteral("BEGIN"));
        }
        if (ok) {
            return true;
        }
        if (!isBusy(error) || attempt + 1 >= kBusyRetries) {
            return false;
        }
        QThread::msleep(20);
    }
}

namespace {
// A setting the window could not read is kept as an empty text: the columns take no NULL.
QString text(const QString& value) {
    return value.isNull() ? QStringLiteral("") : value;
}
} // namespace

std::optional<int64_t> Store::beginSession(const SessionRecord& s) {
    if (!open_) {
        return std::nullopt;
    }
    int64_t id = 0;
    const bool ok = inWriteTransaction([&] {
        QSqlQuery q(QSqlDatabase::database(connection_, false));
        q.prepare(QStringLiteral(
            R"(INSERT INTO sessions (started, ended, "key", fret, string, distance, diatonic,
                   odds, alternate, pitch, tempo_start, tempo_end, input)
               VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?))"));
        q.addBindValue(isoTime(s.started));
        q.addBindValue(s.ended.isValid() ? QVariant(isoTime(s.ended))
                                         : QVariant(QMetaType::fromType<QString>()));
        q.addBindValue(text(s.key));
        q.addBindValue(text(s.fret));
        q.addBindValue(text(s.string));
        q.addBindValue(text(s.distance));
        q.addBindValue(s.diatonic ? 1 : 0);
        q.addBindValue(text(s.odds));
        q.addBindValue(s.alternate ? 1 : 0);
        q.addBindValue(text(s.pitch));
        q.addBindValue(s.tempoStart);
        q.addBindValue(s.tempoEnd != 0 ? s.tempoEnd : s.tempoStart);
        q.addBindValue(text(s.input));
        if (!q.exec()) {
            fail(q.lastError(), QStringLiteral("insert session"));
            lastError_ = q.lastError();
            return false;
        }
        id = q.lastInsertId().toLongLong();
        return true;
    });
    return ok ? std::optional<int64_t>(id) : std::nullopt;
}

bool Store::storeBar(int64_t sessionId, const std::vector<BeatRecord>& beats) {
    if (!open_) {
        return false;
    }
    if (beats.empty()) {
        return true;
    }
    return inWriteTransaction([&] {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        QSqlQuery q(db);
        q.prepare(QStringLiteral(
            R"(INSERT INTO beats (session_id, time, written, place, expected_midi, played_midi,
                   verdict, offset_ms, played_fret, played_string)
               VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?))"));
        QDateTime last;
        int right = 0;
        for (const BeatRecord& b : beats) {
            right += b.verdict == listen::Verdict::Right ? 1 : 0;
            q.addBindValue(QVariant::fromValue<qint64>(sessionId));
            q.addBindValue(isoTime(b.time));
            q.addBindValue(b.written);
            q.addBindValue(b.place);
            q.addBindValue(b.expectedMidi);
            q.addBindValue(nullable(b.playedMidi));
            q.addBindValue(verdictName(b.verdict));
            q.addBindValue(nullable(b.offsetMs));
            q.addBindValue(nullable(b.fret));
            q.addBindValue(nullable(b.string));
            if (!q.exec()) {
                fail(q.lastError(), QStringLiteral("insert beat"));
                lastError_ = q.lastError();
                return false;
            }
            if (!last.isValid() || b.time > last) {
                last = b.time;
            }
        }
        if (!addTallies(db, sessionId, beats)) {
            return false;
        }
        QSqlQuery end(db);
        end.prepare(QStringLiteral(
            R"(UPDATE sessions SET
                   ended = CASE WHEN ended IS NULL OR ended < ? THEN ? ELSE ended END,
                   beat_count = beat_count + ?, right_count = right_count + ?
               WHERE id = ?)"));
        end.addBindValue(isoTime(last));
        end.addBindValue(isoTime(last));
        end.addBindValue(static_cast<int>(beats.size()));
        end.addBindValue(right);
        end.addBindValue(QVariant::fromValue<qint64>(sessionId));
        if (!end.exec()) {
            fail(end.lastError(), QStringLiteral("update session"));
            lastError_ = end.lastError();
            return false;
        }
        return true;
    });
}

// The bar's beats counted into the session's tallies, one statement per distinct tally.
bool Store::addTallies(QSqlDatabase db, int64_t sessionId, const std::vector<BeatRecord>& beats) {
    struct Key {
        QString written;
        int place;
        QString verdict;
        int expected;
        int played;
        int fret;
        int string;
        bool operator==(const Key&) const = default;
    };
    std::vector<std::pair<Key, int>> counts;
    for (const BeatRecord& b : beats) {
        const Key key{b.written,
                      b.place,
                      verdictName(b.verdict),
                      b.expectedMidi,
                      b.playedMidi.value_or(-1),
                      b.fret.value_or(-1),
                      b.string.value_or(-1)};
        const auto found = std::find_if(counts.begin(), counts.end(),
                                        [&](const auto& c) { return c.first == key; });
        if (found != counts.end()) {
            ++found->second;
        } else {
            counts.emplace_back(key, 1);
        }
    }
    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        R"(INSERT INTO tallies (session_id, written, place, verdict, expected_midi, played_midi,
               played_fret, played_string, beats)
           VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)
           ON CONFLICT (session_id, written, place, verdict, expected_midi, played_midi,
                        played_fret, played_string) DO UPDATE SET beats = beats + excluded.beats)"));
    for (const auto& [key, count] : counts) {
        q.addBindValue(QVariant::fromValue<qint64>(sessionId));
        q.addBindValue(key.written);
        q.addBindValue(key.place);
        q.addBindValue(key.verdict);
        q.addBindValue(key.expected);
        q.addBindValue(key.played);
        q.addBindValue(key.fret);
        q.addBindValue(key.string);
        q.addBindValue(count);
        if (!q.exec()) {
            fail(q.lastError(), QStringLiteral("tallies"));
            lastError_ = q.lastError();
            return false;
        }
    }
    return true;
}

bool Store::endSession(int64_t sessionId, const QDateTime& ended, int tempoEnd) {
    if (!open_) {
        return false;
    }
    return inWriteTransaction([&] {
        QSqlQuery q(QSqlDatabase::database(connection_, false));
        q.prepare(QStringLiteral("UPDATE sessions SET ended = ?, tempo_end = ? WHERE id = ?"));
        q.addBindValue(isoTime(ended));
        q.addBindValue(tempoEnd);
        q.addBindValue(QVariant::fromValue<qint64>(sessionId));
        if (!q.exec()) {
            fail(q.lastError(), QStringLiteral("end session"));
            lastError_ = q.lastError();
            return false;
        }
        return true;
    });
}

namespace {

// One field as RFC 4180 wants it: quoted when it holds a comma, a quote or a line break, with
// quotes doubled.
QString csvField(const QString& text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r'))) {
        return text;
    }
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

ReadConnection::ReadConnection(const QString& path) : name_(nextConnectionName()) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
    db.setDatabaseName(path);
    db.setConnectOptions(
        QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    db.open();
}

ReadConnection::~ReadConnection() {
    {
        QSqlDatabase db = QSqlDatabase::database(name_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name_);
}

QSqlDatabase ReadConnection::db() const {
    return QSqlDatabase::database(name_, false);
}

bool exportCsv(const QString& dbPath, const QString& csvPath, QString& error, int64_t* rows) {
    int64_t written = 0;
    if (!QFileInfo::exists(dbPath)) {
        error = QObject::tr("There is no practice history at %1.").arg(dbPath);
        return false;
    }
    const ReadConnection reader(dbPath);
    QSqlDatabase db = reader.db();
    if (!db.isOpen()) {
        error = db.lastError().text();
        return false;
    }
    QSaveFile file(csvPath);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!q.exec(QStringLiteral(
                R"(SELECT s.id AS session, s.started, s.ended, s."key", s.fret, s.string,
                       s.distance, s.diatonic, s.odds, s.alternate, s.pitch, s.tempo_start,
                       s.tempo_end, s.input, b.time, b.written, b.place, b.expected_midi,
                       b.played_midi, b.verdict, b.offset_ms, b.played_fret, b.played_string
                   FROM beats b JOIN sessions s ON s.id = b.session_id
                   ORDER BY b.session_id, b.id)"))) {
            error = q.lastError().text();
            return false;
        }
        const QSqlRecord record = q.record();
        const int columns = record.count();
        QStringList fields;
        for (int c = 0; c < columns; ++c) {
            fields << csvField(record.fieldName(c));
        }
        QByteArray out = fields.join(QLatin1Char(',')).toUtf8() + "\r\n";
        while (q.next()) {
            fields.clear();
            for (int c = 0; c < columns; ++c) {
                const QVariant v = q.value(c);
                fields << (v.isNull() ? QString() : csvField(v.toString()));
            }
            out += fields.join(QLatin1Char(',')).toUtf8() + "\r\n";
            ++written;
            if (out.size() > (1 << 20)) {
                file.write(out);
                out.clear();
            }
        }
        if (q.lastError().isValid()) {
            error = q.lastError().text();
            return false;
        }
        file.write(out);
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    if (rows != nullptr) {
        *rows = written;
    }
    return true;
}

std::vector<SessionSummary> sessionSummaries(QSqlDatabase db) {
    std::vector<SessionSummary> out;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral(
            R"(SELECT id, started, "key", tempo_start, tempo_end, beat_count, right_count
               FROM sessions ORDER BY started, id)"))) {
        return out;
    }
    while (q.next()) {
        SessionSummary s;
        s.id = q.value(0).toLongLong();
        s.started = QDateTime::fromString(q.value(1).toString(), Qt::ISODateWithMs);
        s.key = q.value(2).toString();
        s.tempoStart = q.value(3).toInt();
        s.tempoEnd = q.value(4).toInt();
        s.beats = q.value(5).toInt();
        s.right = q.value(6).toInt();
        out.push_back(s);
    }
    return out;
}

std::vector<PlaceCount> countsByPlace(QSqlDatabase db) {
    std::vector<PlaceCount> out;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral(
            "SELECT place, SUM(beats), SUM(CASE WHEN verdict = 'right' THEN beats ELSE 0 END) "
            "FROM tallies GROUP BY place ORDER BY place"))) {
        return out;
    }
    while (q.next()) {
        out.push_back({q.value(0).toInt(), q.value(1).toInt(), q.value(2).toInt()});
    }
    return out;
}

} // namespace history
