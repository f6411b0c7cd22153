// The running cost: CPU time (user + system, every thread of the process, the synthesiser's
// audio thread included) per minute of practice at tempo 200 in note mode, with the real Timer1,
// as a share of one core.  Once with the capture MIDI (the window alone) and once with the real
// devices: the built-in synthesiser rendering through the file driver, which writes at the pace
// of real time.  Under each row, each thread's share (by name: FluidSynth's file driver's thread
// is "timer"), from /proc in 10 ms ticks.  Prints a table; asserts nothing.
//
//   bench_cost [--seconds S]   (default 20 per row, scaled to a minute)
#include "bench/bench_support.h"
#include "platform/clock.h"
#include "platform/fluid_engine.h"
#include "platform/midi_capture.h"
#include "platform/msgbox.h"
#include "sound/midi_out.h"
#include "ui/stavebass.h"

#include <QApplication>
#include <QCheckBox>
#include <QScrollBar>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <thread>

namespace {

struct Cost {
    double wallMs = 0;
    double cpuMs = 0;
    std::size_t beats = 0;
    std::vector<std::pair<std::string, double>> threads; // share of one core by thread name
};

Cost practise(int seconds) {
    stavebass w;
    bench::runEvents(100); // the intro hands over
    w.Check4->setCheckState(Qt::Unchecked);
    w.temposcroll->setValue(200);
    w.temposcroll_Change();
    std::size_t beats = 0;
    QObject::connect(w.Timer1, &QTimer::timeout, &w, [&beats] { ++beats; });
    // Two bars first, so that notes sound from the start of the measurement.
    w.Start_Click();
    bench::runEvents(2500);
    beats = 0;
    const auto threads0 = bench::threadCpuMs();
    const double cpu0 = bench::cpuMs();
    const int64_t wall0 = platform::monotonicNanos();
    bench::runEvents(seconds * 1000);
    Cost c;
    c.cpuMs = bench::cpuMs() - cpu0;
    c.wallMs = static_cast<double>(platform::monotonicNanos() - wall0) / 1e6;
    c.threads = bench::threadShares(threads0, bench::threadCpuMs(), c.wallMs);
    c.beats = beats;
    w.Stop_Click();
    return c;
}

void printCost(const char* what, const Cost& c) {
    const double share = 100.0 * c.cpuMs / c.wallMs;
    std::printf("%-44s %8.1f %8zu %9.1f %12.0f %9.2f %%\n", what, c.wallMs / 1000.0, c.beats,
                c.cpuMs, c.cpuMs * 60000.0 / c.wallMs, share);
    for (const auto& [name, threadShare] : c.threads) {
        if (threadShare > 0.0) {
            std::printf("    thread %-37s %45.2f %%\n", name.c_str(), threadShare);
        }
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 20;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::max(1, std::atoi(argv[++i]));
        }
    }
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const std::string wav = "/tmp/clefwork-bench-cost-" + std::to_string(getpid()) + ".wav";
    setenv("CLEFWORK_AUDIO_DRIVER", "file", 1);
    setenv("CLEFWORK_AUDIO_FILE", wav.c_str(), 1);
    QApplication app(argc, argv);
    bench::useProgramFolder();
    QStringList boxes;
    platform::setMessageBoxHook([&](const QString& text) { boxes << text; });

    std::printf("Running cost at tempo 200, note mode, real Timer1 (%s platform), %d s per row\n",
                qPrintable(QApplication::platformName()), seconds);
    std::printf("%-44s %8s %8s %9s %12s %11s\n", "MIDI", "wall s", "beats", "CPU ms", "CPU ms/min",
                "one core");
    {
        platform::MidiCapture capture;
        capture.onSend = [&capture](uint32_t) {
            if (capture.messages.size() > 1024) {
                capture.clear();
            }
        };
        platform::setMidi(&capture);
        printCost("capture (the window alone)", practise(seconds));
        platform::setMidi(nullptr);
        MIDI_OUT::hMidiOut = 0;
    }
    const char* font = std::getenv("CLEFWORK_SOUNDFONT");
    char label[96];
    std::snprintf(label, sizeof label, "built-in synth, file driver (%s)",
                  font != nullptr ? std::filesystem::path(font).filename().c_str() : "default");
    printCost(label, practise(seconds));
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(wav, ec);
    if (!ec) {
        // 16-bit stereo at 48 kHz: did the driver keep to real time?
        std::printf("(the WAV holds %.1f s of sound)\n",
                    static_cast<double>(bytes) / (48000.0 * 4.0));
    }
    std::filesystem::remove(wav, ec);
    // The floor under the synthesiser's thread: a thread that does nothing but wake once an audio
    // period, as every audio driver's thread does (the file driver's every 3 ms).
    {
        const int periodUs = static_cast<int>(std::lround(1e6 * platform::FluidEngine::periodSize /
                                                          platform::FluidEngine::fileSampleRate));
        const auto start = std::chrono::steady_clock::now();
        const auto until = start + std::chrono::seconds(seconds);
        double threadMs = 0;
        std::thread sleeper([&] {
            for (int64_t n = 1;; ++n) {
                const auto due = start + std::chrono::microseconds(n * periodUs);
                if (due > until) {
                    break;
                }
                std::this_thread::sleep_until(due);
            }
            threadMs = static_cast<double>(bench::nanosOf(CLOCK_THREAD_CPUTIME_ID)) / 1e6;
        });
        sleeper.join();
        std::printf("(a thread that only wakes every %.2f ms for %d s: %.2f %% of a core)\n",
                    periodUs / 1000.0, seconds, 100.0 * threadMs / (1000.0 * seconds));
    }
    if (!boxes.isEmpty()) {
        std::printf("message boxes: %lld, the first: %s\n", static_cast<long long>(boxes.size()),
                    qPrintable(boxes.first()));
    }
    platform::setMessageBoxHook({});
    return 0;
}
