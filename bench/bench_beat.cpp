// How closely the running window keeps to its own beat: the real window (offscreen), the real
// Timer1, the capture MIDI recording when each message leaves for the device.  Each beat is due
// at the moment the previous tick returned plus the interval that tick left on Timer1 (the first
// one at Start plus the interval then); its deviation is the first message's send time less
// that.  Prints tables; asserts nothing.
//
//   bench_beat [--fast N] [--slow N] [--idle-only | --loaded-only]
//     N beats at tempi 120 and 200 (default 100) and at 30 and 60 (default 30), in click and
//     in note mode, once on the idle machine and once with every core spun by a busy child.
#include "bench/bench_support.h"
#include "platform/clock.h"
#include "platform/midi_capture.h"
#include "platform/msgbox.h"
#include "ui/stavebass.h"

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QScrollBar>
#include <QTimer>

#include <cstring>

namespace {

struct Tick {
    int beat = 0;
    int64_t due = 0;    // ns, by the loop's own rule
    int64_t arrive = 0; // ns, the timer event reaches Timer1
    int64_t ret = 0;    // ns, the tick has returned
    int64_t send = -1;  // ns, the first message of the tick
    int interval = 0;   // ms, left on Timer1 by the tick
};

// Notes each timer event's arrival, before QTimer turns it into its timeout.
class ArrivalFilter : public QObject {
public:
    int64_t last = 0;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Timer) {
            last = platform::monotonicNanos();
        }
        return QObject::eventFilter(watched, event);
    }
};

struct Row {
    bool notes;
    int tempo;
    std::vector<Tick> ticks;
};

Row run(stavebass& w, platform::MidiCapture& capture, bool notes, int tempo, int beats) {
    Row row{notes, tempo, {}};
    w.Stop_Click();
    w.Check4->setCheckState(notes ? Qt::Unchecked : Qt::Checked);
    w.temposcroll->setValue(tempo);
    w.temposcroll_Change();
    capture.clear();
    capture.messages.reserve(static_cast<std::size_t>(beats) * 4);

    ArrivalFilter arrival;
    w.Timer1->installEventFilter(&arrival);
    QEventLoop loop;
    row.ticks.reserve(static_cast<std::size_t>(beats));
    int64_t nextDue = 0;
    int pendingBeat = 1;
    // Connected after the window's own handler, so it runs when the tick has returned.
    const auto hook = QObject::connect(w.Timer1, &QTimer::timeout, &loop, [&] {
        Tick t;
        t.beat = pendingBeat;
        t.due = nextDue;
        t.arrive = arrival.last;
        t.ret = platform::monotonicNanos();
        t.interval = w.Timer1->interval();
        nextDue = t.ret + static_cast<int64_t>(t.interval) * 1000000;
        pendingBeat = w.beatNumber;
        row.ticks.push_back(t);
        if (static_cast<int>(row.ticks.size()) >= beats) {
            w.Timer1->stop();
            loop.quit();
        }
    });
    w.Start_Click();
    nextDue = platform::monotonicNanos() + static_cast<int64_t>(w.Timer1->interval()) * 1000000;
    loop.exec();
    QObject::disconnect(hook);
    w.Timer1->removeEventFilter(&arrival);
    w.Stop_Click();

    // Each message belongs to the tick that was running when it left.
    std::size_t m = 0;
    for (Tick& t : row.ticks) {
        while (m < capture.messages.size() && capture.messages[m].nanos < t.arrive) {
            ++m;
        }
        if (m < capture.messages.size() && capture.messages[m].nanos <= t.ret) {
            t.send = capture.messages[m].nanos;
        }
    }
    return row;
}

void printRow(const Row& row) {
    std::vector<double> dev, late, intervals;
    int64_t first = -1, last = -1;
    std::size_t sent = 0;
    for (const Tick& t : row.ticks) {
        late.push_back(static_cast<double>(t.arrive - t.due) / 1e6);
        intervals.push_back(t.interval);
        if (t.send < 0) {
            continue; // a beat with nothing to sound (note mode before the first bar is made)
        }
        dev.push_back(static_cast<double>(t.send - t.due) / 1e6);
        if (first < 0) {
            first = t.send;
        }
        last = t.send;
        ++sent;
    }
    const bench::Stats d = bench::stats(dev);
    const bench::Stats l = bench::stats(late);
    const bench::Stats iv = bench::stats(intervals);
    // Beats per minute of the sounded beats, and what the rule's own due times give.
    const double bpm =
        sent > 1 ? 60e9 * static_cast<double>(sent - 1) / static_cast<double>(last - first) : 0;
    const auto& tk = row.ticks;
    const double ruleBpm = tk.size() > 2 ? 60e9 * static_cast<double>(tk.size() - 2) /
                                               static_cast<double>(tk.back().due - tk[1].due)
                                         : 0;
    std::printf("%-6s %5d %6zu %5zu %8.0f | %7.3f %7.3f %7.3f | %7.3f %7.3f %7.3f | %7.2f %7.2f\n",
                row.notes ? "note" : "click", row.tempo, tk.size(), sent, iv.median, d.median,
                d.p99, d.max, l.median, l.p99, l.max, bpm, ruleBpm);
    std::fflush(stdout);
}

void pass(stavebass& w, platform::MidiCapture& capture, const char* title, int fast, int slow) {
    std::printf("\nBeat timing, %s\n", title);
    std::printf("%-6s %5s %6s %5s %8s | %-23s | %-23s | %-15s\n", "mode", "tempo", "beats", "sent",
                "interval", "send - due (ms)", "timer event - due (ms)", "beats/minute");
    std::printf("%-6s %5s %6s %5s %8s | %7s %7s %7s | %7s %7s %7s | %7s %7s\n", "", "", "", "",
                "ms", "median", "p99", "max", "median", "p99", "max", "sent", "rule");
    for (bool notes : {false, true}) {
        for (int tempo : {30, 60, 120, 200}) {
            printRow(run(w, capture, notes, tempo, tempo >= 120 ? fast : slow));
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    int fast = 100;
    int slow = 30;
    bool idle = true;
    bool loaded = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--fast") == 0 && i + 1 < argc) {
            fast = std::max(3, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--slow") == 0 && i + 1 < argc) {
            slow = std::max(3, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--idle-only") == 0) {
            loaded = false;
        } else if (std::strcmp(argv[i], "--loaded-only") == 0) {
            idle = false;
        }
    }
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    bench::useProgramFolder();
    QStringList boxes;
    platform::setMessageBoxHook([&](const QString& text) { boxes << text; });
    platform::MidiCapture capture;
    platform::setMidi(&capture);
    {
        stavebass w;
        // Let the intro hand over to the main window.
        bench::runEvents(100);
        std::printf("Beat timing of the running window (%s platform, capture MIDI, %s)\n",
                    qPrintable(QApplication::platformName()),
                    w.isVisible() ? "window shown" : "window NOT shown");
        std::printf("due: the previous tick's return + the interval it left on Timer1 "
                    "(the first beat: Start + the interval)\n");
        if (idle) {
            pass(w, capture, "idle machine", fast, slow);
        }
        if (loaded) {
            const long cores = sysconf(_SC_NPROCESSORS_ONLN);
            bench::CoreLoad load(static_cast<int>(cores));
            char title[96];
            std::snprintf(title, sizeof title,
                          "every core loaded (%zu busy-loop child processes, normal priority)",
                          load.size());
            pass(w, capture, title, fast, slow);
        }
        if (!boxes.isEmpty()) {
            std::printf("message boxes: %lld, the first: %s\n",
                        static_cast<long long>(boxes.size()), qPrintable(boxes.first()));
        }
    }
    platform::setMidi(nullptr);
    platform::setMessageBoxHook({});
    return 0;
}
