// The work of one tick, per beat kind: beat 1 (labels and the stave redrawn), beats 2 and 3,
// beat 4 (the bar hand-over and a new waiting bar).  The real window (offscreen) with the
// capture MIDI; onTimer1() is called directly, many thousands of times, with no waiting.
//
// Two figures per kind:
//   Elapsed  what the stopwatch itself measured (whole milliseconds), with the real clock and
//            the real Reset, which first waits for a fresh millisecond;
//   work     steady_clock around onTimer1(), with a millisecond source that moves on at every
//            read, so that Reset returns at once: the tick's own work without that wait.
// And the repaint that beat 1 asks for, run by the event loop after the tick.
// Prints tables; asserts nothing.
//
//   bench_tick [--bars N]   (default 2000 bars, 8000 ticks, per setting)
#include "bench/bench_support.h"
#include "platform/clock.h"
#include "platform/midi_capture.h"
#include "platform/msgbox.h"
#include "ui/editcombo.h"
#include "ui/stavebass.h"

#include <QApplication>
#include <QCheckBox>
#include <QTimer>

#include <array>
#include <chrono>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

double usSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

struct Setting {
    const char* name;
    bool notes;
    bool diatonic;
    int accidentals; // accif entry, -1 none chosen
};

void applySetting(stavebass& w, const Setting& s) {
    w.Stop_Click();
    w.Check4->setCheckState(s.notes ? Qt::Unchecked : Qt::Checked);
    w.Check1->setCheckState(s.diatonic ? Qt::Checked : Qt::Unchecked);
    w.accif->setListIndex(s.accidentals);
    w.Start_Click();
    w.Timer1->stop(); // ticks are called directly
}

// kind 0: beat 1, 1: beats 2 and 3, 2: beat 4
int kindOf(int beat) {
    return beat == 1 ? 0 : beat == 4 ? 2 : 1;
}
const char* const kindNames[3] = {"beat 1 (labels, redraw)", "beats 2, 3", "beat 4 (createbar2+1)"};

void measure(QApplication& app, stavebass& w, platform::MidiCapture& capture, const Setting& s,
             int bars) {
    const int ticks = bars * 4;
    std::array<std::vector<double>, 3> elapsed, work;
    std::vector<double> repaint;

    // The stopwatch's own figure, real clock.
    applySetting(w, s);
    for (int i = 0; i < ticks / 4; ++i) { // a quarter as many: each Reset waits up to 1 ms
        const int kind = kindOf(w.beatNumber);
        w.onTimer1();
        const int32_t el = w.beatTimeLeft > 1 ? w.timerInterval - w.beatTimeLeft : w.timerInterval;
        elapsed[static_cast<std::size_t>(kind)].push_back(el * 1000.0);
        capture.clear();
    }

    // The work alone: Reset returns at once.
    uint32_t count = 1000;
    platform::setClock([&count] { return count++; });
    applySetting(w, s);
    for (int i = 0; i < ticks; ++i) {
        const int kind = kindOf(w.beatNumber);
        const auto start = Clock::now();
        w.onTimer1();
        work[static_cast<std::size_t>(kind)].push_back(usSince(start));
        if (kind == 0) {
            const auto paintStart = Clock::now();
            app.processEvents();
            repaint.push_back(usSince(paintStart));
        }
        if (capture.messages.size() > 4096) {
            capture.clear();
        }
    }
    platform::setClock({});
    capture.clear();

    for (std::size_t k = 0; k < 3; ++k) {
        const bench::Stats e = bench::stats(elapsed[k]);
        const bench::Stats t = bench::stats(work[k]);
        std::printf("%-34s %-24s %6zu %8.0f %8.0f | %6zu %8.1f %8.1f %8.1f\n", s.name, kindNames[k],
                    e.count, e.median, e.max, t.count, t.median, t.p99, t.max);
    }
    const bench::Stats r = bench::stats(repaint);
    std::printf("%-34s %-24s %6s %8s %8s | %6zu %8.1f %8.1f %8.1f\n", s.name,
                "repaint after beat 1", "", "", "", r.count, r.median, r.p99, r.max);
    std::fflush(stdout);
}

// Beat 1's two steps and beat 4's two generators on their own, on the record as the ticks left it.
void parts(QApplication& app, stavebass& w, int repeats) {
    struct Part {
        const char* name;
        void (stavebass::*call)();
    };
    const Part list[] = {{"updatenotelabels", &stavebass::updatenotelabels},
                         {"drawbars", &stavebass::drawbars},
                         {"createbar2", &stavebass::createbar2},
                         {"createbar1", &stavebass::createbar1},
                         {"indexnotefind", &stavebass::indexnotefind}};
    std::printf("\nSteps on their own (us), %d calls each\n", repeats);
    std::printf("%-20s %8s %8s %8s\n", "step", "median", "p99", "max");
    for (const Part& part : list) {
        std::vector<double> us;
        for (int i = 0; i < repeats; ++i) {
            const auto start = Clock::now();
            (w.*part.call)();
            us.push_back(usSince(start));
            app.processEvents();
        }
        const bench::Stats s = bench::stats(us);
        std::printf("%-20s %8.1f %8.1f %8.1f\n", part.name, s.median, s.p99, s.max);
    }
}

} // namespace

int main(int argc, char** argv) {
    int bars = 2000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--bars") == 0 && i + 1 < argc) {
            bars = std::max(4, std::atoi(argv[++i]));
        }
    }
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    bench::useProgramFolder();
    QStringList boxes;
    platform::setMessageBoxHook([&](const QString& text) { boxes << text; });
    platform::MidiCapture capture;
    platform::setMidi(&capture);
    {
        stavebass w;
        bench::runEvents(50); // the intro hands over; the window is shown
        std::printf("Tick work per beat kind (%s platform, capture MIDI, window %s, %d bars per "
                    "setting)\n",
                    qPrintable(QApplication::platformName()), w.isVisible() ? "shown" : "hidden",
                    bars);
        std::printf("%-34s %-24s %-24s | %-33s\n", "", "", "Elapsed, real clock (us)",
                    "work without the Reset wait (us)");
        std::printf("%-34s %-24s %6s %8s %8s | %6s %8s %8s %8s\n", "setting", "beat kind", "ticks",
                    "median", "max", "ticks", "median", "p99", "max");
        const Setting settings[] = {
            {"notes, diatonic (as at start)", true, true, -1},
            {"clicks, diatonic", false, true, -1},
            {"notes, chromatic, accidentals max", true, false, 3},
        };
        for (const Setting& s : settings) {
            measure(app, w, capture, s, bars);
        }
        parts(app, w, std::max(100, bars / 4));
        std::printf("(Elapsed is whole milliseconds, shown x1000; it counts the work from the "
                    "millisecond edge that Reset waits for)\n");
        if (!boxes.isEmpty()) {
            std::printf("message boxes: %lld, the first: %s\n",
                        static_cast<long long>(boxes.size()), qPrintable(boxes.first()));
        }
    }
    platform::setMidi(nullptr);
    platform::setMessageBoxHook({});
    return 0;
}
