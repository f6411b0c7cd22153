// The built-in synthesiser's figures, rendered offline: the time from a note-on to its first
// audible sample at several audio periods, and the start-up time and memory with each installed
// soundfont.  Prints tables; asserts nothing.
#include "platform/fluid_engine.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using platform::FluidEngine;

namespace {

constexpr double rate = FluidEngine::fileSampleRate;
constexpr float audible = 0.001f; // -60 dBFS

long vmRssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

struct Sound {
    const char* name;
    bool bass;
    uint32_t noteOn;
};

const Sound sounds[] = {
    {"accent click 36", false, 0x7F2499},
    {"beat click 37", false, 0x7F2599},
    {"bass note 40", true, 0x7F2890},
};

// Frames from the note-on to the first audible sample, rendering in periods of the given size;
// the note-on is sent at a period boundary, as the synthesiser sees it from the event thread.
long framesToSound(FluidEngine& engine, const Sound& sound, int period) {
    std::vector<float> left(static_cast<std::size_t>(period));
    std::vector<float> right(static_cast<std::size_t>(period));
    if (sound.bass) {
        engine.send(0x0000B0);
        engine.send(0x0022C0);
    }
    for (int i = 0; i < 8; ++i) { // let the synthesiser settle
        engine.render(left.data(), right.data(), period);
    }
    engine.send(sound.noteOn);
    for (long done = 0; done < static_cast<long>(rate); done += period) {
        engine.render(left.data(), right.data(), period);
        for (int i = 0; i < period; ++i) {
            if (std::fabs(left[static_cast<std::size_t>(i)]) > audible ||
                std::fabs(right[static_cast<std::size_t>(i)]) > audible) {
                return done + i;
            }
        }
    }
    return -1;
}

void latencyTable(const std::string& soundfont) {
    std::printf("\nNote-on to first sample above -60 dBFS (offline, %.0f Hz, %s)\n", rate,
                soundfont.c_str());
    std::printf("%-16s %7s %10s %12s %14s\n", "sound", "period", "period ms", "to sound ms",
                "with buffer ms");
    for (const Sound& sound : sounds) {
        for (int period : {64, FluidEngine::periodSize, 256}) {
            FluidEngine engine;
            std::string error;
            if (!engine.load(error, rate)) {
                std::printf("%s\n", error.c_str());
                return;
            }
            const long frames = framesToSound(engine, sound, period);
            const double periodMs = period * 1000.0 / rate;
            const double toSound = static_cast<double>(frames) * 1000.0 / rate;
            std::printf("%-16s %7d %10.2f %12.2f %14.2f%s\n", sound.name, period, periodMs, toSound,
                        toSound + FluidEngine::periods * periodMs,
                        period == FluidEngine::periodSize ? "  <- in use" : "");
        }
    }
    std::printf("(the last column adds the %d periods of the output buffer: the worst case with "
                "a driver)\n",
                FluidEngine::periods);
}

// One soundfont's start-up in a child process, so that each starts from the same memory.
void startupRow(const std::string& path) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) {
        std::printf("fork failed\n");
        return;
    }
    if (child > 0) {
        int status = 0;
        waitpid(child, &status, 0);
        return;
    }
    setenv("CLEFWORK_SOUNDFONT", path.c_str(), 1);
    const long before = vmRssKb();
    const auto start = std::chrono::steady_clock::now();
    FluidEngine engine;
    std::string error;
    const bool ok = engine.load(error, rate);
    const double loadMs = msSince(start);
    const long loaded = vmRssKb();
    // The presets in use load their samples on selection.
    const auto select = std::chrono::steady_clock::now();
    engine.send(0x0000B0);
    engine.send(0x0022C0);
    const double selectMs = msSince(select);
    std::vector<float> left(4800), right(4800);
    engine.send(0x7F2499);
    engine.send(0x7F2890);
    engine.render(left.data(), right.data(), 4800);
    const long playing = vmRssKb();
    // Render speed with a note and a click sounding.
    const auto renderStart = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i) {
        engine.render(left.data(), right.data(), 4800);
    }
    const double speed = 10.0 * 1000.0 / msSince(renderStart);
    const auto size = std::filesystem::file_size(path) / (1024 * 1024);
    std::printf("%-38s %6ju %9.1f %9.1f %9.1f %9.1f %9.0fx%s\n", path.c_str(),
                static_cast<uintmax_t>(size), loadMs, selectMs, (loaded - before) / 1024.0,
                (playing - before) / 1024.0, speed, ok ? "" : ("  " + error).c_str());
    std::fflush(stdout);
    _exit(0);
}

} // namespace

int main() {
    FluidEngine::silenceLog();
    const std::string folder = "/usr/share/sounds/sf2/";
    std::vector<std::string> installed;
    for (const char* name : {"default-GM.sf2", "FluidR3_GM.sf2", "TimGM6mb.sf2"}) {
        if (std::filesystem::exists(folder + name)) {
            installed.push_back(folder + name);
        }
    }
    const std::string chosen = FluidEngine::findSoundfont();
    if (chosen.empty()) {
        std::printf("No soundfont installed: nothing to measure.\n");
        return 0;
    }
    std::printf("Start-up of the synthesiser (dynamic sample loading on)\n");
    std::printf("%-38s %6s %9s %9s %9s %9s %10s\n", "soundfont", "MiB", "load ms", "select ms",
                "RSS+ MiB", "playing", "render");
    for (const std::string& path : installed) {
        startupRow(path);
    }
    std::printf("(RSS+: VmRSS growth after the load; playing: after selecting the bass and "
                "sounding a note and a click; render: speed against real time)\n");
    latencyTable(chosen);
    for (const std::string& path : installed) {
        if (std::filesystem::canonical(path) != std::filesystem::canonical(chosen) &&
            path.find("TimGM6mb") != std::string::npos) {
            setenv("CLEFWORK_SOUNDFONT", path.c_str(), 1);
            latencyTable(path);
        }
    }
    return 0;
}
