// The built-in synthesiser without its audio output: FluidSynth settings, a synthesiser and a
// General MIDI soundfont.  Device -1 puts an audio driver on top of it (fluid_audio.h); tests and
// benchmarks render it offline.
#pragma once

#include <fluidsynth.h>

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

class FluidEngine {
public:
    // FluidSynth's default gain (0.2) peaks near -20 dBFS.  Measured offline at velocity 127 with
    // this gain: FluidR3 GM's picked bass (program 34, note 40) peaks at -6.0 dBFS and its accent
    // click (drum key 36) at -7.2 dBFS; TimGM6mb's at -8.2 and -7.8 dBFS.
    static constexpr double gain = 1.0;
    // A short audio period: 128 frames are 2.9 ms at 44.1 kHz.
    static constexpr int periodSize = 128;
    static constexpr int periods = 2;
    // The rate used for the WAV of the file driver.
    static constexpr double fileSampleRate = 48000.0;

    enum class Failure { None, NoSoundfont, Synth };

    FluidEngine() = default;
    ~FluidEngine();
    FluidEngine(const FluidEngine&) = delete;
    FluidEngine& operator=(const FluidEngine&) = delete;

    // Creates the settings and the synthesiser and loads the first soundfont found.  A sample
    // rate of 0 keeps FluidSynth's own default.  On failure the engine stays unloaded, error says
    // what went wrong and failure() tells which kind of failure it was.
    bool load(std::string& error, double sampleRate = 0.0);
    void unload();
    bool loaded() const { return synth_ != nullptr; }
    Failure failure() const { return failure_; }

    // Plays a packed short message (status in the low byte, then data 1 and data 2).  False for
    // a message that is not a complete MIDI message (no status byte, a data byte above 127, a
    // system-exclusive byte).
    bool send(uint32_t message);
    // Ends every note at once and puts the channels back to their start-up state.
    void silence();
    // Renders frames of stereo audio with no audio driver.
    void render(float* left, float* right, int frames);

    double sampleRate() const;
    const std::string& soundfontPath() const { return soundfont_; }
    fluid_settings_t* settings() { return settings_; }
    fluid_synth_t* synth() { return synth_; }

    // The files looked at, in order: CLEFWORK_SOUNDFONT, then Debian's General MIDI soundfonts.
    static std::vector<std::string> soundfontCandidates();
    // The first readable file of soundfontCandidates(), or "" when there is none.
    static std::string findSoundfont();
    // The last error FluidSynth logged since the previous call, or "".  FluidSynth's own log
    // goes here instead of to stderr (information and debug messages are dropped).
    static std::string takeLogError();
    static void silenceLog();

private:
    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
    std::string soundfont_;
    Failure failure_ = Failure::None;
};

// True when the packed message has a status byte and data bytes that MIDI allows; the number
// of bytes it occupies goes to size (1 to 3).
bool shortMessageSize(uint32_t message, std::size_t& size);

} // namespace platform
