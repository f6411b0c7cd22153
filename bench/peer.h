// A reference transcriber beside our detector in the corpus runs (--peer basic-pitch): Basic
// Pitch, run offline by bench/peer/basic_pitch.mjs under Node on the very audio our detector
// hears.  Bench only: the program never runs it, and it needs `cd bench/peer && npm ci`.
// Header only.
#pragma once

#include "listen/detector.h"

#include <unistd.h>

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

namespace bench::peer {

// One file's notes from the script, onsets at the file's rate, and the seconds it took.
struct FileNotes {
    std::vector<listen::DetectedNote> notes;
    double seconds = 0;
};

// The script's output: for each file a line "# PATH seconds=S", a header
// "onset_s,midi,amplitude", then one line a note.  Onsets are rounded to samples at `rateOf(path)`;
// a line that is neither is skipped, and so are notes before any file.
template <typename RateOf>
std::map<std::string, FileNotes> parseNotes(const std::string& text, RateOf rateOf) {
    std::map<std::string, FileNotes> out;
    FileNotes* file = nullptr;
    int rate = 0;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.rfind("# ", 0) == 0) {
            const std::size_t mark = line.rfind(" seconds=");
            const std::string path =
                line.substr(2, mark == std::string::npos ? std::string::npos : mark - 2);
            file = &out[path];
            file->seconds = mark == std::string::npos ? 0 : std::atof(line.c_str() + mark + 9);
            rate = rateOf(path);
            continue;
        }
        double onset = 0, amplitude = 0;
        int midi = 0;
        char tail = 0;
        if (file == nullptr ||
            std::sscanf(line.c_str(), "%lf,%d,%lf%c", &onset, &midi, &amplitude, &tail) != 3) {
            continue;
        }
        listen::DetectedNote n;
        n.onsetSample = std::llround(onset * rate);
        n.midi = midi;
        file->notes.push_back(n);
    }
    return out;
}

// A 32-bit float mono WAV file: what the detector hears, without 16-bit rounding.
inline bool writeFloatWav(const std::string& path, const std::vector<float>& samples, int rate) {
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const auto bytes = static_cast<uint32_t>(samples.size() * 4);
    out.write("RIFF", 4);
    u32(36 + bytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(3);
    u16(1);
    u32(static_cast<uint32_t>(rate));
    u32(static_cast<uint32_t>(rate) * 4);
    u16(4);
    u16(32);
    out.write("data", 4);
    u32(bytes);
    out.write(reinterpret_cast<const char*>(samples.data()),
              static_cast<std::streamsize>(samples.size() * 4));
    return static_cast<bool>(out);
}

// `name` on PATH, or empty.
inline std::string onPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::filesystem::path p = std::filesystem::path(dir.empty() ? "." : dir) / name;
        std::error_code e;
        if (std::filesystem::is_regular_file(p, e) && access(p.c_str(), X_OK) == 0) {
            return p.string();
        }
    }
    return {};
}

inline std::string shellQuoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// The transcriber: node and the script in the source tree, with its packages installed.
struct Runner {
    std::string node, script;
    std::string why; // why it cannot run, when it cannot

    static Runner find(const std::string& sourceDir) {
        Runner r;
        r.node = onPath("node");
        const std::filesystem::path dir = std::filesystem::path(sourceDir) / "bench" / "peer";
        r.script = (dir / "basic_pitch.mjs").string();
        if (r.node.empty()) {
            r.why = "node is not on PATH";
        } else if (!std::filesystem::exists(dir / "node_modules" / "@spotify" / "basic-pitch" /
                                            "package.json")) {
            r.why = "its packages are not installed";
        }
        return r;
    }
    bool ok() const { return why.empty(); }

    // Every file through the script in one process (the model loads once); empty text and
    // `why` set when it fails.
    std::string run(const std::vector<std::string>& files) {
        std::string command = shellQuoted(node) + " " + shellQuoted(script);
        for (const std::string& f : files) {
            command += " " + shellQuoted(f);
        }
        std::string text;
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) {
            why = "node could not be started";
            return {};
        }
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            text.append(buffer, n);
        }
        if (pclose(pipe) != 0) {
            why = "the script failed (its message is above)";
            return {};
        }
        return text;
    }
};

} // namespace bench::peer
