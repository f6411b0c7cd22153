// Judging each beat while listening: the beat's time and pitch go to the matcher after its tick,
// the notes heard as they arrive, and the verdicts show on the note heads and in the score.
// Nothing of it runs inside a tick, and nothing at all while listening is off.
#include "engine/notes.h"
#include "listen/calibration.h"
#include "platform/clock.h"
#include "sound/midi_out.h"
#include "stave/stave_table.h"
#include "ui/clientarea.h"
#include "ui/editcombo.h"
#include "ui/stavebass.h"
#include "ui/tunertext.h"

#include <QAction>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>

namespace {

// The line or space a name is written on: diatonic steps above E0 (the bottom line G0 is 2),
// counted where the note is written, so an 8va note an octave down.
int writtenPlace(const std::string& name) {
    static const std::string letters = "EFGABCD";
    const std::optional<StavePlace> place = staveLookup(name);
    if (name.size() < 2 || letters.find(name[0]) == std::string::npos) {
        return 0;
    }
    const int octave = name.back() - '0' - (place && place->ottava ? 1 : 0);
    return static_cast<int>(letters.find(name[0])) + 7 * octave;
}

QColor colourOf(listen::Verdict v) {
    switch (v) {
    case listen::Verdict::Right:
        return {0, 170, 0};
    case listen::Verdict::Early:
    case listen::Verdict::Late:
        return {255, 160, 0};
    case listen::Verdict::Octave:
        return {0, 90, 255};
    case listen::Verdict::Wrong:
    case listen::Verdict::Missed:
        break;
    }
    return {220, 0, 0};
}

// The head of a note sprite, relative to the sprite's top left corner.
QRect headOf(int16_t type) {
    switch (type) {
    case 1:
    case 2:
        return {7, 0, 29, 20};
    case 3:
        return {8, 97, 29, 20};
    case 4:
        return {8, 110, 29, 19};
    default:
        return {};
    }
}

} // namespace

stavebass::BeatHeard stavebass::beatabouttosound() {
    BeatHeard beat;
    if (!listener || !listener->listening()) {
        return beat;
    }
    beat.listening = true;
    beat.position = beatNumber;
    beat.clicked = !playNotes;
    if (beatNumber < 1 || beatNumber > 4) {
        return beat;
    }
    const auto p = static_cast<std::size_t>(beatNumber);
    // At beat 1 the tick draws the bar when a waiting bar has been laid out.
    const bool drawn = beatNumber == 1 ? !nextBarCopy[1].empty() : barDrawn;
    // In note mode the pitch Clefwork sounds; with the metronome, the written note's, which it
    // would sound.
    const int pitch =
        playNotes ? currentBarPitches[p] : notes::writtenNumber(currentBar[p]).value_or(0);
    const int16_t type = currentBarLayout[kType][p];
    beat.counts = drawn && pitch != 0 && type >= 1 && type <= 4;
    // Taken now: the fourth beat's tick hands the waiting bar over into currentBar.
    beat.written = QString::fromStdString(currentBar[p]);
    beat.expectedMidi = pitch + notes::pitchShift(aspitch->listIndex());
    return beat;
}

void stavebass::judgebeat(const BeatHeard& beat) {
    if (beat.position == 1) {
        storehistory(); // the bar before, as judged so far
        ++barSerial;
        barDrawn = !nextBarCopy[1].empty();
        for (std::size_t p = 1; p <= 4; ++p) {
            markedHeads[p] = {currentBarLayout[kType][p], currentBarLayout[kHeight][p]};
        }
        marks = {};
        score.newBar();
        showscore();
        Image3->update();
    }
    // The beat's time is when its sound plays: the scheduled time, or when the tick sent its
    // first message to a device that plays at once.
    const int64_t time = beatDueMonotonic != 0           ? beatDueMonotonic
                         : MIDI_OUT::firstSendNanos != 0 ? MIDI_OUT::firstSendNanos
                                                         : platform::monotonicNanos();
    if (beat.clicked) {
        // The input may hear the click: where, as the calibration heard the beat.
        listener->ownClick(time + matcher.latencyNanos(), beat.position == 1,
                           beat.counts ? beat.expectedMidi : 0);
    }
    if (!beat.counts) {
        return;
    }
    const int64_t id = beatSerial++;
    beatPlaces[id] = {barSerial, beat.position, beat.written, beat.expectedMidi,
                      QDateTime::currentDateTimeUtc()};
    while (beatPlaces.size() > 32) {
        beatPlaces.erase(beatPlaces.begin());
    }
    // The beat lasts until the next one.
    const int64_t period =
        beatClock.running() ? beatClock.period() : engine::BeatClock::beatNanos(tempo);
    applyjudgements(matcher.addBeat({id, time, period, beat.expectedMidi}));
    judgelater();
}

void stavebass::applyjudgements(const std::vector<listen::Judgement>& judged) {
    for (const listen::Judgement& j : judged) {
        const auto place = beatPlaces.find(j.beatId);
        const bool thisBar = place != beatPlaces.end() && place->second.bar == barSerial;
        if (place != beatPlaces.end() && historyOpen) {
            history::BeatRecord record;
            record.time = place->second.due;
            record.written = place->second.written;
            record.place = writtenPlace(place->second.written.toStdString());
            record.expectedMidi = place->second.expectedMidi;
            if (j.verdict != listen::Verdict::Missed) {
                record.playedMidi = j.playedMidi;
                record.offsetMs = j.offsetMs;
            }
            record.verdict = j.verdict;
            barRecords.push_back(record);
        }
        score.add(j, thisBar);
        if (place != beatPlaces.end()) {
            trainerverdict(place->second.bar, j.verdict);
        }
        if (thisBar) {
            Mark mark;
            mark.verdict = j.verdict;
            if (j.verdict == listen::Verdict::Wrong || j.verdict == listen::Verdict::Octave) {
                mark.played = heardName(j.playedMidi);
            }
            marks[static_cast<std::size_t>(place->second.position)] = mark;
            Image3->update();
        }
    }
    if (!judged.empty()) {
        showscore();
    }
}

void stavebass::judgelater() {
    if (judgeTimer == nullptr) {
        judgeTimer = new QTimer(this);
        judgeTimer->setSingleShot(true);
        connect(judgeTimer, &QTimer::timeout, this, [this] {
            applyjudgements(matcher.advance(platform::monotonicNanos()));
            judgelater();
        });
    }
    const int64_t deadline = matcher.nextDeadlineNanos();
    if (deadline == 0) {
        judgeTimer->stop();
        return;
    }
    const int64_t waitMs = (deadline - platform::monotonicNanos()) / 1'000'000 + 1;
    judgeTimer->start(static_cast<int>(std::clamp<int64_t>(waitMs, 0, 10'000)));
}

void stavebass::newsession() {
    endhistory();
    matcher.reset();
    // A hand-edited or damaged setting would otherwise move every beat out of reach.
    const double latencyMs =
        listen::usableLatencyMs(QSettings(QStringLiteral("clefwork"), QStringLiteral("clefwork"))
                                    .value(QStringLiteral("listen/latencyMs"), 0.0)
                                    .toDouble());
    matcher.setLatencyNanos(static_cast<int64_t>(latencyMs * 1e6));
    score = listen::Score{};
    marks = {};
    beatPlaces.clear();
    if (judgeTimer != nullptr) {
        judgeTimer->stop();
    }
    showscore();
    Image3->update();
    beginhistory();
}

std::function<QString()>& stavebass::historyPath() {
    static std::function<QString()> path = [] { return history::defaultPath(); };
    return path;
}

void stavebass::beginhistory() {
    if (!historyWriter) {
        historyWriter = std::make_unique<history::Writer>(historyPath()());
        // Each arrives once: practice goes on without history, or with a fresh file.  They come
        // as listening starts, when a box would take the Space meant for the beat.
        connect(historyWriter.get(), &history::Writer::failed, this,
                [this](const QString& message) { historynotice(message); });
        connect(historyWriter.get(), &history::Writer::movedAside, this,
                [this](const QString& message, const QString&) { historynotice(message); });
    }
    history::SessionRecord session;
    session.started = QDateTime::currentDateTimeUtc();
    session.key = Keysignature->text();
    session.fret = fretposition->text();
    session.string = Stringchoice->text();
    session.distance = intervaldistance->text();
    session.diatonic = diatonicOnly;
    session.odds = accif->text();
    session.alternate = alternateFromIndex;
    session.pitch = aspitch->text();
    session.tempoStart = tempo;
    session.tempoEnd = tempo;
    session.input = listener ? listener->inputId() : QString();
    if (session.input.isNull()) {
        session.input = QLatin1String("");
    }
    historySession = historyWriter->beginSession(session);
    historyOpen = true;
    barRecords.clear();
}

void stavebass::storehistory() {
    if (historyOpen && !barRecords.empty()) {
        historyWriter->storeBar(historySession, std::move(barRecords));
    }
    barRecords.clear();
}

void stavebass::endhistory() {
    if (!historyOpen) {
        return;
    }
    storehistory();
    historyWriter->endSession(historySession, QDateTime::currentDateTimeUtc(), tempo);
    historyOpen = false;
}

void stavebass::showscore() {
    if (scoreLabel != nullptr) {
        scoreLabel->setText(QString::fromStdString(score.text()));
    }
}

void stavebass::paintmarks(QPainter& painter) {
    if (!listener || !listener->listening()) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    for (std::size_t p = 1; p <= 4; ++p) {
        if (!marks[p]) {
            continue;
        }
        const QRect head = headOf(markedHeads[p].first);
        if (head.isEmpty()) {
            continue;
        }
        // In the stave view's own coordinates.
        const QRect at =
            head.translated(currentBarX[p] - kStaveLeft, markedHeads[p].second - kStaveTop);
        const QColor colour = colourOf(marks[p]->verdict);
        // A coloured head inside a ring of the same colour: plain on the black head, and
        // clear of the lines around it.
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(at.adjusted(2, 2, -2, -2));
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(colour, 3));
        painter.drawEllipse(at.adjusted(-4, -4, 4, 4));
        if (!marks[p]->played.isEmpty()) {
            // The name played, on a white plate: above a stem-down head, below a stem-up one,
            // where the stem is not, and clear of the neighbours' signs.
            QFont font = painter.font();
            font.setPixelSize(14);
            font.setBold(true);
            painter.setFont(font);
            const QFontMetrics metrics(font);
            const int wide = metrics.horizontalAdvance(marks[p]->played) + 6;
            const int high = metrics.height();
            const bool stemUp = markedHeads[p].first >= 3;
            const QRect plate(at.center().x() - wide / 2,
                              stemUp ? at.bottom() + 7 : at.top() - 7 - high, wide, high);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(255, 255, 255, 230));
            painter.drawRoundedRect(plate, 3, 3);
            painter.setPen(colour);
            painter.drawText(plate, Qt::AlignCenter, marks[p]->played);
        }
    }
    painter.restore();
}
