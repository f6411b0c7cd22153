// The soundfonts that tests listening to the synthesiser play: named files, never whatever the
// system's default soundfont happens to be.
#pragma once

#include <filesystem>
#include <string>

namespace testing_support {

inline const std::string fluidR3Soundfont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
inline const std::string timGMSoundfont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// FluidR3 GM where it is installed, else TimGM6mb, else "" (the test then skips).
inline std::string namedSoundfont() {
    for (const std::string& file : {fluidR3Soundfont, timGMSoundfont}) {
        if (std::filesystem::exists(file)) {
            return file;
        }
    }
    return {};
}

// The other of the two, "" when only one is installed.
inline std::string otherSoundfont() {
    const std::string named = namedSoundfont();
    if (named == fluidR3Soundfont && std::filesystem::exists(timGMSoundfont)) {
        return timGMSoundfont;
    }
    return {};
}

} // namespace testing_support
