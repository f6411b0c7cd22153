// How closely the running window keeps to its own beat: the real window (offscreen), the real
// Timer1, the capture MIDI recording when each message leaves for the device.  Each beat is due
// at the moment the previous tick returned plus the interval that tick left on Timer1 (the first
// one at Start plus the interval then); its deviation is the first message's send time less
// that.  Prints tables; asserts nothing.
//
//   bench_beat [--fast N] [--slow N] [--idle-only | --loaded-only]
//     N beats at tempi 120 and 200 (default 100) and at 30 and 60 (default 30), in click and
//     in note mode, once on the idle machine and once with every core spun by a busy child.
//   bench_beat --listen [--fast N] [--slow N]
//     note mode only, each tempo twice in a row: listening off, then on through the loopback
//     input while the built-in synthesiser plays (the capture records each message, then hands
//     it on to the real device; the file audio driver unless CLEFWORK_AUDIO_DRIVER names
//     another).  Adds the process's CPU time and the listener's worker thread's.
#include "bench/bench_support.h"
#include "platform/clock.h"
#include "platform/midi_capture.h"
#include "platform/msgbox.h"
#include "ui/stavebass.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QScrollBar>
#include <QTimer>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

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

// One row; the first column is the label (the mode when none is given).
void printRow(const Row& row, const char* label = nullptr) {
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
    std::vector<double> work;
    for (const Tick& t : row.ticks) {
        work.push_back(static_cast<double>(t.ret - t.arrive) / 1e6);
    }
    const bench::Stats wk = bench::stats(work);
    // Beats per minute of the sounded beats, and what the rule's own due times give.
    const double bpm =
        sent > 1 ? 60e9 * static_cast<double>(sent - 1) / static_cast<double>(last - first) : 0;
    const auto& tk = row.ticks;
    const double ruleBpm = tk.size() > 2 ? 60e9 * static_cast<double>(tk.size() - 2) /
                                               static_cast<double>(tk.back().due - tk[1].due)
                                         : 0;
    std::printf("%-6s %5d %6zu %5zu %8.0f | %7.3f %7.3f %7.3f | %7.3f %7.3f %7.3f | %7.3f %7.3f "
                "%7.3f | %7.2f %7.2f",
                label != nullptr ? label : (row.notes ? "note" : "click"), row.tempo, tk.size(),
                sent, iv.median, d.median, d.p99, d.max, l.median, l.p99, l.max, wk.median, wk.p99,
                wk.max, bpm, ruleBpm);
}

void printHeader(const char* first, const char* extra, const char* extraUnits) {
    std::printf("%-6s %5s %6s %5s %8s | %-23s | %-23s | %-23s | %-15s%s\n", first, "tempo", "beats",
                "sent", "interval", "send - due (ms)", "timer event - due (ms)", "tick work (ms)",
                "beats/minute", extra);
    std::printf("%-6s %5s %6s %5s %8s | %7s %7s %7s | %7s %7s %7s | %7s %7s %7s | %7s %7s%s\n", "",
                "", "", "", "ms", "median", "p99", "max", "median", "p99", "max", "median", "p99",
                "max", "sent", "rule", extraUnits);
}

void pass(stavebass& w, platform::MidiCapture& capture, const char* title, int fast, int slow) {
    std::printf("\nBeat timing, %s\n", title);
    printHeader("mode", "", "");
    for (bool notes : {false, true}) {
        for (int tempo : {30, 60, 120, 200}) {
            printRow(run(w, capture, notes, tempo, tempo >= 120 ? fast : slow));
            std::printf("\n");
            std::fflush(stdout);
        }
    }
}

// The capture that also plays: each message is recorded with its time, then handed on to the
// real device, so that the built-in synthesiser sounds and the loopback has something to hear.
class SoundingCapture : public platform::MidiCapture {
public:
    explicit SoundingCapture(std::unique_ptr<platform::MidiBackend> real)
        : real_(std::move(real)) {}
    uint32_t numDevs() override { return real_->numDevs(); }
    platform::MMRESULT getDevCaps(int32_t deviceId, platform::MidiOutCaps& caps) override {
        return real_->getDevCaps(deviceId, caps);
    }
    platform::MMRESULT open(platform::HMIDIOUT& handle, int32_t deviceId) override {
        if (openHandle != 0) {
            close(openHandle);
        }
        const platform::MMRESULT result = real_->open(realHandle_, deviceId);
        if (result != platform::MMSYSERR_NOERROR) {
            handle = 0;
            return result;
        }
        return MidiCapture::open(handle, deviceId);
    }
    platform::MMRESULT close(platform::HMIDIOUT handle) override {
        if (handle != 0 && handle == openHandle && realHandle_ != 0) {
            real_->close(realHandle_);
            realHandle_ = 0;
        }
        return MidiCapture::close(handle);
    }
    platform::MMRESULT shortMsg(platform::HMIDIOUT handle, uint32_t message) override {
        const platform::MMRESULT result = MidiCapture::shortMsg(handle, message);
        return result != platform::MMSYSERR_NOERROR ? result
                                                    : real_->shortMsg(realHandle_, message);
    }
    std::string errorText(platform::MMRESULT code) override { return real_->errorText(code); }

private:
    std::unique_ptr<platform::MidiBackend> real_;
    platform::HMIDIOUT realHandle_ = 0;
};

struct Cost {
    double processCpuMs = 0;
    double workerCpuMs = 0;
    double wallMs = 0;
};

// Note mode at every tempo, listening off and then on, the same number of beats each.
void listenPass(stavebass& w, platform::MidiCapture& capture, int fast, int slow,
                const QStringList& boxes) {
    std::printf("\nBeat timing in note mode, listening off and on the loopback input\n");
    printHeader("listen", " | CPU % of a core        | notes", " | process  worker | heard/on");
    Cost off;
    Cost on;
    for (int tempo : {30, 60, 120, 200}) {
        for (bool listening : {false, true}) {
            int heard = 0;
            QMetaObject::Connection counter;
            if (listening) {
                w.listenbass->trigger(); // the menu entry: ticked, listening starts
                bench::runEvents(500);   // the synthesiser's output restarts with its tap
                if (!w.listener || !w.listener->listening()) {
                    std::printf("listening did not start%s%s\n", boxes.isEmpty() ? "" : ": ",
                                boxes.isEmpty() ? "" : qPrintable(boxes.last()));
                    return;
                }
                counter = QObject::connect(w.listener.get(), &listen::Listener::noteHeard,
                                           [&heard](const listen::PlayedNote&) { ++heard; });
            }
            const int64_t worker0 = listening ? w.listener->workerCpuNanos() : 0;
            const double cpu0 = bench::cpuMs();
            const int64_t wall0 = platform::monotonicNanos();
            const Row row = run(w, capture, true, tempo, tempo >= 120 ? fast : slow);
            // The last note's onset is decided a little after it sounded.
            bench::runEvents(150);
            Cost cost;
            cost.wallMs = static_cast<double>(platform::monotonicNanos() - wall0) / 1e6;
            cost.processCpuMs = bench::cpuMs() - cpu0;
            if (listening) {
                cost.workerCpuMs =
                    static_cast<double>(w.listener->workerCpuNanos() - worker0) / 1e6;
            }
            int noteOns = 0;
            for (const auto& m : capture.messages) {
                noteOns += (m.message & 0xF0u) == 0x90u && ((m.message >> 16) & 0x7Fu) > 0 ? 1 : 0;
            }
            printRow(row, listening ? "on" : "off");
            std::printf(" | %7.2f %7.2f | %4d/%d\n", 100.0 * cost.processCpuMs / cost.wallMs,
                        100.0 * cost.workerCpuMs / cost.wallMs, heard, noteOns);
            std::fflush(stdout);
            Cost& sum = listening ? on : off;
            sum.processCpuMs += cost.processCpuMs;
            sum.workerCpuMs += cost.workerCpuMs;
            sum.wallMs += cost.wallMs;
            if (listening) {
                QObject::disconnect(counter);
                w.listenbass->trigger(); // unticked: listening stops
                bench::runEvents(300);
            }
        }
    }
    const double offShare = 100.0 * off.processCpuMs / off.wallMs;
    const double onShare = 100.0 * on.processCpuMs / on.wallMs;
    std::printf("\nCPU over every run: process %.2f %% of a core off, %.2f %% on (%+.2f); the "
                "listener's worker thread %.2f %%\n",
                offShare, onShare, onShare - offShare, 100.0 * on.workerCpuMs / on.wallMs);
}

std::string loadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one;
    file >> one;
    return one;
}

} // namespace

int main(int argc, char** argv) {
    int fast = 100;
    int slow = 30;
    bool idle = true;
    bool loaded = true;
    bool listening = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--fast") == 0 && i + 1 < argc) {
            fast = std::max(3, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--slow") == 0 && i + 1 < argc) {
            slow = std::max(3, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--idle-only") == 0) {
            loaded = false;
        } else if (std::strcmp(argv[i], "--loaded-only") == 0) {
            idle = false;
        } else if (std::strcmp(argv[i], "--listen") == 0) {
            listening = true;
        }
    }
    // Listening runs the real synthesiser (its WAV and the chosen input kept in a folder of
    // the run's own) and hears its output, not a file the environment names.
    std::string scratch;
    if (listening) {
        char folder[] = "/tmp/bench_beat.XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
        scratch = folder;
        setenv("CLEFWORK_AUDIO_DRIVER", "file", 0);
        setenv("CLEFWORK_AUDIO_FILE", (scratch + "/synth.wav").c_str(), 0);
        setenv("XDG_CONFIG_HOME", scratch.c_str(), 1);
        setenv("XDG_DATA_HOME", scratch.c_str(), 1); // the history goes there too
        unsetenv("CLEFWORK_LISTEN_FILE");
        QDir().mkpath(QString::fromStdString(scratch + "/clefwork"));
        QFile conf(QString::fromStdString(scratch + "/clefwork/clefwork.conf"));
        if (conf.open(QIODevice::WriteOnly)) {
            conf.write("[listen]\ninput=loopback\n");
        }
    }
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    bench::useProgramFolder();
    QStringList boxes;
    platform::setMessageBoxHook([&](const QString& text) { boxes << text; });
    std::unique_ptr<platform::MidiCapture> owned =
        listening ? std::make_unique<SoundingCapture>(platform::makeSystemMidi())
                  : std::make_unique<platform::MidiCapture>();
    platform::MidiCapture& capture = *owned;
    platform::setMidi(&capture);
    {
        stavebass w;
        // Let the intro hand over to the main window.
        bench::runEvents(100);
        std::printf("Beat timing of the running window (%s platform, %s, %s)\n",
                    qPrintable(QApplication::platformName()),
                    listening ? "capture MIDI handing on to the built-in synthesiser"
                              : "capture MIDI",
                    w.isVisible() ? "window shown" : "window NOT shown");
        std::printf("due: the previous tick's return + the interval it left on Timer1 "
                    "(the first beat: Start + the interval)\n");
        if (listening) {
            std::printf("audio driver %s, load average before the run %s\n",
                        std::getenv("CLEFWORK_AUDIO_DRIVER"), loadAverage().c_str());
            listenPass(w, capture, fast, slow, boxes);
        } else if (idle) {
            pass(w, capture, "idle machine", fast, slow);
        }
        if (loaded && !listening) {
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
    if (!scratch.empty()) {
        QDir(QString::fromStdString(scratch)).removeRecursively();
    }
    return 0;
}
