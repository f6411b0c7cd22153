// The built-in synthesiser without its audio output: FluidSynth settings, a synthesiser and a
// General MIDI soundfont.  Device -1 puts an audio driver on top of it (fluid_audio.h); tests and
// benchmarks render it offline.
//
// A soundfont is parsed into a second synthesiser of the engine's own (the parser) and then handed
// over, so that the synthesiser that plays is never held up by a parse: a large soundfont can be
// parsed on a thread of its own while the old one (or silence) plays on.  Channels get their
// preset only when they are asked to play one (a program change, the first note on a channel that
// has none, the drum kit of the clicks as soon as a soundfont is there), so only the presets that
// are played load their samples: the first beat waits for the presets it plays, and for nothing
// else.
#pragma once

#include "layers/platform.h"

#include <fluidsynth.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {

// The soundfont the player chose, "" for none.  The window passes it in from its settings; it
// comes first among the candidates, and one that has vanished or does not load is passed over.
void setChosenSoundfont(const std::string& path);
std::string chosenSoundfont();

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

    // What a soundfont load came to.
    struct LoadReport {
        bool ok = false;
        std::string soundfont; // the file in use, "" when none is
        std::string error;     // why nothing loaded, or why the refused file was refused
        std::string refused;   // the chosen file that was passed over, "" when none was
    };
    using Done = std::function<void(const LoadReport&)>;

    FluidEngine() = default;
    ~FluidEngine();
    FluidEngine(const FluidEngine&) = delete;
    FluidEngine& operator=(const FluidEngine&) = delete;

    // Creates the settings and the synthesiser and loads the first soundfont of the candidates
    // that loads (see soundfontCandidates).  A sample rate of 0 keeps FluidSynth's own default.
    // On failure the engine stays unloaded, error says what went wrong and failure() tells which
    // kind of failure it was.
    bool load(std::string& error, double sampleRate = 0.0);
    // The same with exactly this soundfont file, none other.
    bool loadFile(const std::string& soundfont, std::string& error, double sampleRate = 0.0);
    // The same, but only the synthesiser is made before this returns: the soundfont is parsed on
    // a thread of its own and handed over when it is ready (soundfontReady), and the report goes
    // to the hook of setSoundfontHook.  Until then notes make no sound; programs, controllers and
    // pitch bends sent meanwhile hold when the soundfont comes.  False only when no candidate can
    // be a soundfont at all, or the synthesiser cannot be made.
    bool loadInBackground(std::string& error, double sampleRate = 0.0);
    bool soundfontReady() const { return ready_.load(); }
    // Waits for a background load or swap to end; false when it had not after timeoutMs.
    bool waitForSoundfont(int timeoutMs);
    // Loads path in place of the soundfont in use, parsed on the engine's thread while the old one
    // plays on; done gets the report on that thread.  A file that does not load leaves the old
    // soundfont in place.  The channels keep their programs and controllers.
    void swapSoundfont(const std::string& path, Done done);
    // The same, waiting for the end; error says why the file was refused.
    bool swapSoundfont(const std::string& path, std::string& error);
    LoadReport lastReport() const;
    void unload();
    bool loaded() const { return synth_ != nullptr; }
    Failure failure() const { return failure_; }

    // Plays a packed short message (status in the low byte, then data 1 and data 2).  False for
    // a message that is not a complete MIDI message (no status byte, a data byte above 127, a
    // system-exclusive byte).
    bool send(uint32_t message);
    // Gives a channel that has none yet the preset of its program (program 0 when none was asked
    // for), loading its samples.  send() does it for every note; notes that reach the
    // synthesiser some other way (a FluidSynth sequencer) need it first, or stay silent.
    void ensurePreset(int channel);
    // Ends every note at once and puts the channels back to their start-up state: controllers
    // reset, bank 0, the drum kit on channel 10 and on the others no preset until one is played
    // (a note then plays program 0).
    void silence();
    // Renders frames of stereo audio with no audio driver.
    void render(float* left, float* right, int frames);

    double sampleRate() const;
    std::string soundfontPath() const;
    fluid_settings_t* settings() { return settings_; }
    fluid_synth_t* synth() { return synth_; }

    // The files looked at, in order: the player's chosen soundfont, CLEFWORK_SOUNDFONT, then the
    // General MIDI soundfonts of the Debian packages the program depends on (fluid-soundfont-gm,
    // timgm6mb-soundfont).  Never default-GM.sf2: whichever soundfont was installed last takes
    // that name over.  A chosen file that is missing or does not load is passed over; of the
    // others the first readable one is the one that loads (or fails).
    static std::vector<std::string> soundfontCandidates();
    // The file load() would start with, or "" when there is none.
    static std::string findSoundfont();
    // True when path names a readable file with a soundfont's header (the parse may still fail).
    static bool looksLikeSoundfont(const std::string& path);
    // The last error FluidSynth logged since the previous call, or "".  FluidSynth's own log
    // goes here instead of to stderr (information and debug messages are dropped).
    static std::string takeLogError();
    static void silenceLog();
    // Called on the loading thread before each parse (tests hold a parse back with it); an empty
    // function removes it.
    static void setBeforeParseHook(std::function<void()> hook);

private:
    // Every load begins here: nothing loaded, no failure, no error.
    void startAfresh(std::string& error);
    bool createSynth(std::string& error, double sampleRate);
    // Which files to try, in order; false (report and failure_ set) when none can be tried.
    bool plan(std::vector<std::string>& files, LoadReport& report);
    // Parses the files in turn until one hands over; on the caller's thread.
    LoadReport attachFirst(const std::vector<std::string>& files, LoadReport report);
    // Parses path into the parser and hands it over in place of the soundfont in use.
    bool attach(const std::string& path, std::string& why);
    void startJob(std::function<void()> job);
    void joinJob();

    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
    // The parser outlives synth_: the soundfonts read their samples through its loader.
    fluid_settings_t* parserSettings_ = nullptr;
    fluid_synth_t* parser_ = nullptr;
    int soundfontId_ = -1; // in synth_
    Failure failure_ = Failure::None;
    std::atomic<bool> ready_{false};
    mutable std::mutex mutex_; // soundfont_, report_, job state
    std::string soundfont_;
    LoadReport report_;
    std::thread job_;
    bool jobRunning_ = false;
};

// Called on the loading thread when a background load (loadInBackground) has ended.  An empty
// function removes it.
void setSoundfontHook(std::function<void(const FluidEngine::LoadReport&)> hook);

// The engine of the open built-in synthesiser (device -1), nullptr while it is closed.  Only the
// event thread sets and reads it.
FluidEngine* builtInSynth();
void setBuiltInSynth(FluidEngine* engine);

// True when the packed message has a status byte and data bytes that MIDI allows; the number
// of bytes it occupies goes to size (1 to 3).
bool shortMessageSize(uint32_t message, std::size_t& size);

} // namespace platform
