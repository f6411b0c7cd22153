// What the window benchmarks share: the program's folder, order statistics, the process's own
// figures from /proc and busy children that load the cores.  Header only: the benchmark
// executables are one source file each.
#pragma once

#include "platform/appdir.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace bench {

// The pictures lie beside the program, one folder up from the benchmarks in the build tree.
inline void useProgramFolder() {
    if (qEnvironmentVariableIsSet("CLEFWORK_DATA_DIR")) {
        return;
    }
    const QString up = QDir::cleanPath(QCoreApplication::applicationDirPath() + "/..");
    if (QFileInfo::exists(up + "/Ckey.bmp")) {
        platform::setAppDir(up);
    }
}

// Runs the event loop for the given time.  (QApplication::quit would close every window, and the
// main window's close closes the MIDI device.)
inline void runEvents(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Stats {
    std::size_t count = 0;
    double median = 0;
    double p99 = 0;
    double max = 0;
    double mean = 0;
};

// Nearest-rank percentiles of the values.
inline Stats stats(std::vector<double> v) {
    Stats s;
    s.count = v.size();
    if (v.empty()) {
        return s;
    }
    std::sort(v.begin(), v.end());
    auto rank = [&](double q) {
        auto i = static_cast<std::size_t>(std::ceil(q * static_cast<double>(v.size())));
        return v[std::clamp<std::size_t>(i, 1, v.size()) - 1];
    };
    s.median = rank(0.5);
    s.p99 = rank(0.99);
    s.max = v.back();
    double sum = 0;
    for (double x : v) {
        sum += x;
    }
    s.mean = sum / static_cast<double>(v.size());
    return s;
}

inline long statusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::strtol(line.c_str() + key.size(), nullptr, 10);
        }
    }
    return -1;
}

inline int64_t nanosOf(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// How long ago the process started, in milliseconds: its start time in /proc/self/stat counts
// clock ticks since boot (10 ms each on this kernel).
inline double processAgeMs() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    // Fields after the command name: state is field 3, starttime field 22.
    std::size_t pos = close + 2;
    for (int field = 3; field < 22; ++field) {
        pos = text.find(' ', pos);
        if (pos == std::string::npos) {
            return -1;
        }
        ++pos;
    }
    const double startTicks = std::strtod(text.c_str() + pos, nullptr);
    const double startMs = startTicks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    return static_cast<double>(nanosOf(CLOCK_BOOTTIME)) / 1e6 - startMs;
}

// User plus system CPU time of the whole process (every thread), in milliseconds.
inline double cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto ms = [](const timeval& tv) {
        return static_cast<double>(tv.tv_sec) * 1000.0 + static_cast<double>(tv.tv_usec) / 1000.0;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// The CPU time (user + system) of each thread of the process so far, by thread id, with the
// thread's name: /proc/self/task/*/stat, in clock ticks (10 ms here).
struct ThreadCpu {
    std::string name;
    double ms = 0;
};

inline std::map<long, ThreadCpu> threadCpuMs() {
    std::map<long, ThreadCpu> threads;
    const double msPerTick = 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/proc/self/task", ec), end; !ec && it != end;
         it.increment(ec)) {
        std::ifstream in(it->path() / "stat");
        std::string stat;
        std::getline(in, stat);
        const std::size_t open = stat.find('(');
        const std::size_t close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open) {
            continue;
        }
        // After the name: state, then fields 4 to 13; utime and stime are fields 14 and 15.
        std::istringstream rest(stat.substr(close + 2));
        std::string field;
        double ticks = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i >= 14) {
                ticks += std::strtod(field.c_str(), nullptr);
            }
        }
        threads[std::strtol(it->path().filename().c_str(), nullptr, 10)] = {
            stat.substr(open + 1, close - open - 1), ticks * msPerTick};
    }
    return threads;
}

// What each thread named alike took between two readings of threadCpuMs, as a share of one core
// over wallMs, largest first.
inline std::vector<std::pair<std::string, double>>
threadShares(const std::map<long, ThreadCpu>& before, const std::map<long, ThreadCpu>& after,
             double wallMs) {
    std::map<std::string, double> byName;
    for (const auto& [tid, now] : after) {
        const auto was = before.find(tid);
        byName[now.name] += now.ms - (was != before.end() ? was->second.ms : 0.0);
    }
    std::vector<std::pair<std::string, double>> shares;
    for (const auto& [name, ms] : byName) {
        shares.emplace_back(name, 100.0 * ms / wallMs);
    }
    std::sort(shares.begin(), shares.end(),
              [](const auto& a, const auto& b) { return a.second > b.second; });
    return shares;
}

// Child processes that spin at normal priority, one per core, until stopped.
class CoreLoad {
public:
    explicit CoreLoad(int children) {
        std::fflush(stdout);
        for (int i = 0; i < children; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                volatile uint64_t n = 0;
                for (;;) {
                    n = n + 1;
                }
            }
            if (pid > 0) {
                pids_.push_back(pid);
            }
        }
    }
    ~CoreLoad() {
        for (pid_t pid : pids_) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    CoreLoad(const CoreLoad&) = delete;
    CoreLoad& operator=(const CoreLoad&) = delete;
    std::size_t size() const { return pids_.size(); }

private:
    std::vector<pid_t> pids_;
};

} // namespace bench
