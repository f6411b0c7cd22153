#include "history/progress.h"

#include "engine/notes.h"
#include "ui/tunertext.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QtSql/QSqlDriver>
#include <QtSql/QSqlQuery>
#include <algorithm>
#include <map>
#include <sqlite3.h>
#include <string_view>
#include <tuple>
#include <unordered_map>

namespace history {

namespace {

constexpr int kOpenString[4] = {0, 5, 10, 15}; // E A D G, semitones above the open low E
constexpr int kHighestFret = 24;
constexpr int kReach = 5; // frets above the index finger that the hand reaches

int schemaVersion(const QSqlDatabase& db) {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next()) {
        return -1;
    }
    return q.value(0).toInt();
}

// The sessions the filter takes, as a condition on `s` and the values it binds.
std::pair<QString, QVariantList> sessionCondition(const ProgressFilter& filter) {
    QStringList terms;
    QVariantList values;
    if (filter.key) {
        terms << QStringLiteral(R"(s."key" = ?)");
        values << *filter.key;
    }
    const QDateTime now = filter.now.isValid() ? filter.now : QDateTime::currentDateTimeUtc();
    switch (filter.period) {
    case Period::All:
        break;
    case Period::Week:
        terms << QStringLiteral("s.started >= ?");
        values << isoTime(now.addDays(-7));
        break;
    case Period::Month:
        terms << QStringLiteral("s.started >= ?");
        values << isoTime(now.addDays(-30));
        break;
    case Period::LastSession:
        // The last session with beats (of the key, when one is chosen).
        terms << QStringLiteral(
                     R"(s.id = (SELECT id FROM sessions WHERE beat_count > 0%1
                        ORDER BY started DESC, id DESC LIMIT 1))")
                     .arg(filter.key ? QStringLiteral(R"( AND "key" = ?)") : QString());
        if (filter.key) {
            values << *filter.key;
        }
        break;
    }
    return {terms.isEmpty() ? QStringLiteral("1") : terms.join(QStringLiteral(" AND ")), values};
}

using listen::Verdict;

// A statement of SQLite's own interface, on a connection Qt opened.
class Statement {
public:
    Statement(sqlite3* db, const QString& sql, const QVariantList& values) : db_(db) {
        if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement_, nullptr) !=
            SQLITE_OK) {
            statement_ = nullptr;
            return;
        }
        int i = 1;
        for (const QVariant& v : values) {
            const QByteArray text = v.toString().toUtf8();
            sqlite3_bind_text(statement_, i++, text.constData(), static_cast<int>(text.size()),
                              SQLITE_TRANSIENT);
        }
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    int step() { return statement_ == nullptr ? SQLITE_ERROR : sqlite3_step(statement_); }
    int integer(int column) const { return sqlite3_column_int(statement_, column); }
    std::string_view text(int column) const {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
        return text == nullptr
                   ? std::string_view()
                   : std::string_view(
                         text, static_cast<size_t>(sqlite3_column_bytes(statement_, column)));
    }
    QString error() const { return QString::fromUtf8(sqlite3_errmsg(db_)); }

private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* statement_ = nullptr;
};

// A written name ("F#1", at most three characters) as a number, for keys.
uint32_t pack(std::string_view name) {
    uint32_t packed = 0;
    for (size_t i = 0; i < name.size() && i < 4; ++i) {
        packed = packed << 8 | static_cast<unsigned char>(name[i]);
    }
    return packed;
}

Verdict verdictOf(std::string_view name) {
    if (name == "right") {
        return Verdict::Right;
    }
    if (name == "early") {
        return Verdict::Early;
    }
    if (name == "late") {
        return Verdict::Late;
    }
    if (name == "octave") {
        return Verdict::Octave;
    }
    if (name == "wrong") {
        return Verdict::Wrong;
    }
    return Verdict::Missed;
}

bool run(QSqlQuery& q, const QString& sql, const QVariantList& values, Progress& out) {
    q.setForwardOnly(true);
    if (!q.prepare(sql)) {
        out.ok = false;
        out.error =
            QObject::tr("The practice history could not be read (%1).").arg(q.lastError().text());
        return false;
    }
    for (const QVariant& v : values) {
        q.addBindValue(v);
    }
    if (!q.exec()) {
        out.ok = false;
        out.error =
            QObject::tr("The practice history could not be read (%1).").arg(q.lastError().text());
        return false;
    }
    return true;
}

} // namespace

int64_t Progress::beats() const {
    int64_t n = 0;
    for (const PlaceCount& p : places) {
        n += p.beats;
    }
    return n;
}

int64_t Progress::right() const {
    int64_t n = 0;
    for (const PlaceCount& p : places) {
        n += p.right;
    }
    return n;
}

QString playedWrittenName(const QString& written, int expectedMidi, int playedMidi) {
    // heardName() names a pitch heard at bass pitch, written an octave above its sound.
    const std::optional<int> number = notes::writtenNumber(written.toStdString());
    const int shift = number ? *number - 12 - expectedMidi : 0;
    return heardName(playedMidi + shift);
}

std::optional<int> indexFretOf(const QString& fretPosition) {
    const QString text = fretPosition.trimmed();
    if (text.compare(QLatin1String("At the Nut"), Qt::CaseInsensitive) == 0) {
        return 0;
    }
    static const QRegularExpression nth(QStringLiteral(R"(^(\d+)\s*(st|nd|rd|th)?\s+Fret$)"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = nth.match(text);
    if (m.hasMatch()) {
        return m.captured(1).toInt();
    }
    return std::nullopt;
}

std::optional<int> mainStringOf(const QString& stringChoice) {
    static const QRegularExpression named(QStringLiteral(R"(^(Low\s+)?([EADG])-String$)"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = named.match(stringChoice.trimmed());
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    return static_cast<int>(QStringLiteral("EADG").indexOf(m.captured(2).toUpper()));
}

std::pair<int, int> likelyPosition(int semitones, std::optional<int> indexFret,
                                   std::optional<int> mainString) {
    std::optional<std::tuple<int, int, int, int>> best; // (distance, string gap, fret, string)
    for (int s = 0; s < 4; ++s) {
        const int fret = semitones - kOpenString[s];
        if (fret < 0 || fret > kHighestFret) {
            continue;
        }
        std::tuple<int, int, int, int> rank;
        if (indexFret) {
            const int low = *indexFret;
            const int high = *indexFret + kReach;
            const int distance = fret < low ? low - fret : fret > high ? fret - high : 0;
            rank = {distance, mainString ? std::abs(s - *mainString) : 0, fret, s};
        } else {
            rank = {fret, mainString ? std::abs(s - *mainString) : 0, fret, s};
        }
        if (!best || rank < *best) {
            best = rank;
        }
    }
    if (!best) {
        // Above the 24th fret of the G string, or below the open E: the nearest end of the neck.
        return semitones < 0 ? std::pair{0, 0} : std::pair{3, semitones - kOpenString[3]};
    }
    return {std::get<3>(*best), std::get<2>(*best)};
}

Progress loadProgress(const QString& path, const ProgressFilter& filter) {
    Progress out;
    if (!QFileInfo::exists(path)) {
        return out; // an empty history
    }
    int version = -1;
    {
        const ReadConnection connection(path);
        if (!connection.db().isOpen()) {
            out.ok = false;
            out.error = QObject::tr("The practice history at %1 cannot be opened (%2).")
                            .arg(path, connection.db().lastError().text());
            return out;
        }
        version = schemaVersion(connection.db());
    }
    if (version > kSchemaVersion) {
        out.ok = false;
        out.error =
            QObject::tr("The practice history at %1 was written by a newer Clefwork.").arg(path);
        return out;
    }
    if (version < kSchemaVersion) {
        // An older file (or one that is not a history at all): the store brings it up to date,
        // or moves a damaged one aside, as it does before writing.
        Store store(path);
        if (!store.open()) {
            out.ok = false;
            out.error = store.failureMessage();
            return out;
        }
        if (!store.movedAside().isEmpty()) {
            out.notice = QObject::tr("The practice history was damaged. It was moved to %1 and "
                                     "a new one started.")
                             .arg(store.movedAside());
        }
    }
    {
        const ReadConnection connection(path);
        QSqlDatabase db = connection.db();
        QSqlQuery q(db);
        if (!run(q, QStringLiteral("SELECT COALESCE(SUM(beat_count), 0) FROM sessions"), {}, out)) {
            return out;
        }
        out.historyBeats = q.next() ? q.value(0).toLongLong() : 0;
        if (!run(q, QStringLiteral(R"(SELECT DISTINCT "key" FROM sessions WHERE beat_count > 0
                                   ORDER BY "key")"),
                 {}, out)) {
            return out;
        }
        while (q.next()) {
            out.keys << q.value(0).toString();
        }

        const auto [condition, values] = sessionCondition(filter);
        if (!run(q,
                 QStringLiteral(
                     R"(SELECT s.id, s.started, s."key", s.tempo_start, s.tempo_end, s.beat_count,
                               s.right_count
                        FROM sessions s WHERE s.beat_count > 0 AND %1 ORDER BY s.started, s.id)")
                     .arg(condition),
                 values, out)) {
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
            out.sessions.push_back(s);
        }

        // One pass over the tallies of the sessions taken; the three charts are summed from its
        // rows here.  Through SQLite's own interface on Qt's connection: a year is some 60,000
        // rows, five years 300,000, and QSqlQuery's values cost about 1.3 us a row where
        // sqlite3_column costs 0.3; SQLite's own GROUP BY sorts them first, which costs more than
        // the sums.
        const QVariant handle = db.driver()->handle();
        if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0 ||
            *static_cast<sqlite3* const*>(handle.data()) == nullptr) {
            out.ok = false;
            out.error = QObject::tr("The practice history could not be read (no SQLite).");
            return out;
        }
        Statement tallies(*static_cast<sqlite3* const*>(handle.data()),
                          QStringLiteral(R"(SELECT t.written, t.place, t.verdict, t.expected_midi,
                                                   t.played_midi, t.played_fret, t.played_string,
                                                   s.fret, s.string, t.beats
                                            FROM sessions s JOIN tallies t ON t.session_id = s.id
                                            WHERE %1)")
                              .arg(condition),
                          values);
        std::map<int, PlaceCount> places;
        std::unordered_map<uint32_t, MissedNote> notes;         // by packed written name
        std::unordered_map<uint64_t, int> instead;              // by written, expected, played
        std::map<std::pair<int, int>, PositionCount> positions; // by string, fret
        std::unordered_map<uint32_t, std::optional<int>> semitonesOf; // by packed written name
        // The hand of the rows' session: rows come session by session.
        QByteArray fretText;
        QByteArray stringText;
        std::optional<int> indexFret;
        std::optional<int> mainString;
        int step = SQLITE_DONE;
        while ((step = tallies.step()) == SQLITE_ROW) {
            const std::string_view written = tallies.text(0);
            const uint32_t packed = pack(written);
            const int place = tallies.integer(1);
            const Verdict verdict = verdictOf(tallies.text(2));
            const int expected = tallies.integer(3);
            const int played = tallies.integer(4);
            const int playedFret = tallies.integer(5);
            const int playedString = tallies.integer(6);
            const int beats = tallies.integer(9);
            const bool right = verdict == Verdict::Right;

            PlaceCount& p = places[place];
            p.place = place;
            p.beats += beats;
            p.right += right ? beats : 0;

            MissedNote& n = notes[packed];
            if (n.written.isEmpty()) {
                n.written =
                    QString::fromUtf8(written.data(), static_cast<qsizetype>(written.size()));
            }
            n.beats += beats;
            if (verdict == Verdict::Wrong || verdict == Verdict::Octave) {
                (verdict == Verdict::Wrong ? n.wrong : n.octave) += beats;
                if (played >= 0) {
                    instead[static_cast<uint64_t>(packed) << 16 |
                            static_cast<uint64_t>(expected & 0xff) << 8 |
                            static_cast<uint64_t>(played & 0xff)] += beats;
                }
            } else if (verdict == Verdict::Missed) {
                n.missed += beats;
            }

            // Where the note asked for lies on the neck: where it was played when the input
            // said so and the pitch was the one asked for, otherwise where the hand was.
            std::pair<int, int> at;
            const bool pitchRight =
                verdict == Verdict::Right || verdict == Verdict::Early || verdict == Verdict::Late;
            if (pitchRight && playedFret >= 0 && playedString >= 1 && playedString <= 4) {
                at = {4 - playedString, playedFret};
            } else {
                auto semitones = semitonesOf.find(packed);
                if (semitones == semitonesOf.end()) {
                    const std::optional<int> number = notes::writtenNumber(written);
                    semitones =
                        semitonesOf
                            .emplace(packed, number ? std::optional(*number - 40) : std::nullopt)
                            .first;
                }
                if (!semitones->second) {
                    continue;
                }
                const std::string_view fret = tallies.text(7);
                const std::string_view string = tallies.text(8);
                if (fret != std::string_view(fretText.constData(),
                                             static_cast<size_t>(fretText.size())) ||
                    string != std::string_view(stringText.constData(),
                                               static_cast<size_t>(stringText.size()))) {
                    fretText = QByteArray(fret.data(), static_cast<qsizetype>(fret.size()));
                    stringText = QByteArray(string.data(), static_cast<qsizetype>(string.size()));
                    indexFret = indexFretOf(QString::fromUtf8(fretText));
                    mainString = mainStringOf(QString::fromUtf8(stringText));
                }
                at = likelyPosition(*semitones->second, indexFret, mainString);
            }
            PositionCount& c = positions[at];
            c.string = at.first;
            c.fret = at.second;
            c.beats += beats;
            c.right += right ? beats : 0;
        }
        if (step != SQLITE_DONE) {
            out.ok = false;
            out.error =
                QObject::tr("The practice history could not be read (%1).").arg(tallies.error());
            return out;
        }
        std::map<QString, std::vector<std::pair<QString, int>>> insteadByName;
        for (const auto& [key, count] : instead) {
            const auto packed = static_cast<uint32_t>(key >> 16);
            const QString& written = notes[packed].written;
            insteadByName[written].emplace_back(
                playedWrittenName(written, static_cast<int>((key >> 8) & 0xff),
                                  static_cast<int>(key & 0xff)),
                count);
        }

        for (const auto& [place, count] : places) {
            out.places.push_back(count);
        }
        for (const auto& [at, count] : positions) {
            out.positions.push_back(count);
        }
        for (auto& [packed, note] : notes) {
            if (note.misread() == 0) {
                continue;
            }
            // Several pitches may be read as one name (a wrong note at another pitch setting).
            std::map<QString, int> named;
            for (const auto& [name, count] : insteadByName[note.written]) {
                named[name] += count;
            }
            for (const auto& [name, count] : named) {
                note.playedInstead.emplace_back(name, count);
            }
            std::stable_sort(note.playedInstead.begin(), note.playedInstead.end(),
                             [](const auto& a, const auto& b) { return a.second > b.second; });
            out.missed.push_back(std::move(note));
        }
        // Most misread first; equal ones in name order, so that the list does not change by
        // chance.
        std::sort(out.missed.begin(), out.missed.end(),
                  [](const MissedNote& a, const MissedNote& b) { return a.written < b.written; });
        std::stable_sort(
            out.missed.begin(), out.missed.end(),
            [](const MissedNote& a, const MissedNote& b) { return a.misread() > b.misread(); });
        if (out.missed.size() > static_cast<size_t>(kMostMissed)) {
            out.missed.resize(kMostMissed);
        }
        return out;
    }
}

} // namespace history
