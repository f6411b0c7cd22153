// Start-up: from the process's start and from main() to the main window's Show (the intro's
// hand-over) and to the built-in synthesiser's soundfont being ready (it is parsed off the event
// thread), with the real MIDI devices (the built-in synthesiser writing to a WAV through the file
// driver), for each installed soundfont; cold (page cache dropped, where this machine lets us)
// and warm; and the peak memory after 100 bars.  Each figure comes from a child process of its
// own, with a settings folder of its own (no soundfont chosen).  Prints tables; asserts nothing.
//
//   bench_startup [--warm N] [--soundfont PATH]...  the driver: spawns itself once per run
//                                                   (default 5 warm); each PATH is measured too
//   bench_startup --child [--ticks N]               one start-up; prints one RESULT line
#include "bench/bench_support.h"
#include "platform/clock.h"
#include "platform/fluid_engine.h"
#include "platform/msgbox.h"
#include "ui/stavebass.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstring>
#include <filesystem>

namespace {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

class ShowFilter : public QObject {
public:
    QEventLoop loop;
    Clock::time_point shown{};
    bool seen = false;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!seen && event->type() == QEvent::Show && qobject_cast<stavebass*>(watched)) {
            shown = Clock::now();
            seen = true;
            QTimer::singleShot(0, &loop, &QEventLoop::quit);
        }
        return QObject::eventFilter(watched, event);
    }
};

int child(int argc, char** argv, Clock::time_point mainEntry, double ageAtMain) {
    int ticks = 0;
    bool metronome = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--ticks") == 0 && i + 1 < argc) {
            ticks = std::max(0, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--metronome") == 0) {
            metronome = true;
        }
    }
    QApplication app(argc, argv);
    bench::useProgramFolder();
    QStringList boxes;
    platform::setMessageBoxHook([&](const QString& text) { boxes << text; });
    ShowFilter filter;
    app.installEventFilter(&filter);
    const auto appMade = Clock::now();
    double loadMs = 0;
    double readyMs = -1;
    long hwmShown = 0;
    long hwmTicks = 0;
    {
        const auto before = Clock::now();
        stavebass w;
        loadMs = msBetween(before, Clock::now());
        QTimer::singleShot(10000, &filter.loop, &QEventLoop::quit); // never hang
        filter.loop.exec();
        hwmShown = bench::statusKb("VmHWM");
        if (platform::FluidEngine* synth = platform::builtInSynth()) {
            synth->waitForSoundfont(30000);
            if (synth->soundfontReady()) {
                readyMs = msBetween(mainEntry, Clock::now());
            }
        }
        if (ticks > 0) {
            if (!metronome) {
                w.Check4->setCheckState(Qt::Unchecked); // notes: the synthesiser plays them
            }
            w.Start_Click();
            w.Timer1->stop();
            for (int i = 0; i < ticks; ++i) {
                w.onTimer1();
                if (i % 4 == 0) {
                    app.processEvents(); // the repaint of beat 1
                }
            }
            hwmTicks = bench::statusKb("VmHWM");
        }
    }
    const double toShow = filter.seen ? msBetween(mainEntry, filter.shown) : -1;
    std::printf("RESULT %.1f %.1f %.1f %.1f %ld %ld %d %.1f\n", ageAtMain,
                msBetween(mainEntry, appMade), loadMs, toShow, hwmShown, hwmTicks,
                static_cast<int>(boxes.size()), readyMs);
    for (const QString& box : boxes) {
        std::printf("BOX %s\n", qPrintable(box.simplified()));
    }
    return 0;
}

struct Result {
    bool ok = false;
    double age = 0, app = 0, load = 0, show = 0, ready = -1;
    long hwmShown = 0, hwmTicks = 0;
    int boxes = 0;
    std::string boxText;
};

Result spawn(const std::string& self, const std::string& extra) {
    Result r;
    const std::string cmd = "'" + self + "' --child " + extra + " 2>/dev/null";
    FILE* pipe = popen(cmd.c_str(), "r");
    if (pipe == nullptr) {
        return r;
    }
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        if (std::sscanf(line, "RESULT %lf %lf %lf %lf %ld %ld %d %lf", &r.age, &r.app, &r.load,
                        &r.show, &r.hwmShown, &r.hwmTicks, &r.boxes, &r.ready) == 8) {
            r.ok = true;
        } else if (std::strncmp(line, "BOX ", 4) == 0) {
            r.boxText += line + 4;
        }
    }
    pclose(pipe);
    return r;
}

bool dropCaches() {
    sync();
    FILE* f = std::fopen("/proc/sys/vm/drop_caches", "w");
    if (f == nullptr) {
        return false;
    }
    const bool ok = std::fputs("3\n", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

void printResult(const char* font, const char* kind, const Result& r) {
    if (!r.ok) {
        std::printf("%-16s %-6s   (the child failed)\n", font, kind);
        return;
    }
    std::printf("%-16s %-6s %9.1f %9.1f %9.1f %9.1f %10.1f %9.1f %9.1f\n", font, kind, r.age, r.app,
                r.load, r.show, r.age + r.show, r.age + r.ready, r.hwmShown / 1024.0);
    if (r.boxes > 0) {
        std::printf("    message box: %s", r.boxText.c_str());
    }
}

int driver(int argc, char** argv) {
    int warm = 5;
    std::vector<std::string> extra;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--warm") == 0 && i + 1 < argc) {
            warm = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--soundfont") == 0 && i + 1 < argc) {
            extra.emplace_back(argv[++i]);
        }
    }
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    const std::string wav = "/tmp/clefwork-bench-startup-" + std::to_string(getpid()) + ".wav";
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("CLEFWORK_AUDIO_DRIVER", "file", 1);
    setenv("CLEFWORK_AUDIO_FILE", wav.c_str(), 1);
    // A settings folder of the bench's own: no soundfont chosen, CLEFWORK_SOUNDFONT decides.
    const std::filesystem::path config = std::filesystem::temp_directory_path() /
                                         ("clefwork-bench-config-" + std::to_string(getpid()));
    std::filesystem::create_directories(config);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);

    std::printf("Start-up to the main window shown (offscreen, real MIDI devices, built-in "
                "synthesiser with the file driver)\n");
    std::printf("%-16s %-6s %9s %9s %9s %9s %10s %9s %9s\n", "soundfont", "run", "exec->main",
                "->app", "load", "main->show", "total ms", "sf ready", "VmHWM MiB");
    struct Font {
        std::string label;
        std::string path;
    };
    std::vector<Font> fonts = {{"FluidR3_GM", "/usr/share/sounds/sf2/FluidR3_GM.sf2"},
                               {"TimGM6mb", "/usr/share/sounds/sf2/TimGM6mb.sf2"}};
    for (const std::string& path : extra) {
        fonts.push_back({std::filesystem::path(path).stem().string().substr(0, 16), path});
    }
    bool coldPossible = true;
    struct Memory {
        std::string label;
        long notes, clicks;
    };
    std::vector<Memory> memory;
    for (const Font& font : fonts) {
        if (!std::filesystem::exists(font.path)) {
            std::printf("%-16s not installed\n", font.label.c_str());
            continue;
        }
        setenv("CLEFWORK_SOUNDFONT", font.path.c_str(), 1);
        if (dropCaches()) {
            printResult(font.label.c_str(), "cold", spawn(self, ""));
        } else {
            coldPossible = false;
        }
        std::vector<double> totals, readies;
        for (int i = 0; i < warm; ++i) {
            const Result r = spawn(self, "");
            char kind[16];
            std::snprintf(kind, sizeof kind, "warm%d", i + 1);
            printResult(font.label.c_str(), kind, r);
            if (r.ok) {
                totals.push_back(r.age + r.show);
                readies.push_back(r.age + r.ready);
            }
        }
        const bench::Stats s = bench::stats(totals);
        const bench::Stats ready = bench::stats(readies);
        std::printf("%-16s %-6s %50s %10.1f %9.1f   (medians of %zu; max %.1f, %.1f)\n",
                    font.label.c_str(), "warm", "", s.median, ready.median, s.count, s.max,
                    ready.max);
        const Result m = spawn(self, "--ticks 400");
        const Result clicks = spawn(self, "--ticks 400 --metronome");
        memory.push_back({font.label, m.ok ? m.hwmTicks : -1, clicks.ok ? clicks.hwmTicks : -1});
    }
    if (!coldPossible) {
        std::printf("cold: not possible here (/proc/sys/vm/drop_caches cannot be written)\n");
    }
    std::printf(
        "(exec->main: process start to main() by /proc/self/stat, 10 ms steps; ->app: "
        "main() to the QApplication made; load: the window's constructor, which runs "
        "the load; main->show: main() to the main window's Show event; total: process start "
        "to the Show; sf ready: process start to the soundfont parsed and in the "
        "synthesiser, the first beat's presets loaded)\n");
    std::printf("\nPeak resident memory (VmHWM) after 100 bars (400 ticks called directly)\n");
    std::printf("%-16s %13s %13s\n", "soundfont", "note mode", "metronome");
    for (const Memory& m : memory) {
        std::printf("%-16s %9.1f MiB %9.1f MiB\n", m.label.c_str(), m.notes / 1024.0,
                    m.clicks / 1024.0);
    }
    std::filesystem::remove(wav);
    std::filesystem::remove_all(config);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const auto mainEntry = Clock::now();
    const double ageAtMain = bench::processAgeMs();
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0) {
        return child(argc, argv, mainEntry, ageAtMain);
    }
    return driver(argc, argv);
}
