// The audio output of the built-in synthesiser.  FluidSynth does not fall back from one audio
// driver to the next, so the drivers are tried in turn: PulseAudio (PipeWire desktops serve it
// too), ALSA, JACK (only where a JACK server shows signs of running: its client would otherwise
// try to start one), SDL2; or only the one that CLEFWORK_AUDIO_DRIVER names.
#pragma once

#include "layers/platform.h"

#include "platform/fluid_engine.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct AudioEnvironment {
    std::string forcedDriver; // CLEFWORK_AUDIO_DRIVER, "" for none
    std::string wavFile;      // CLEFWORK_AUDIO_FILE, where the file driver writes
    bool jackServerSeen = false;

    // Read from the process environment and /dev/shm.
    static AudioEnvironment fromProcess();
};

// The drivers to try, in order.
std::vector<std::string> audioDriverOrder(const AudioEnvironment& env);

// A message and the reason behind it, within `limit` bytes (an error box holds 127 characters):
// the reason is cut at the last whole word that fits, with "...", never the message.
std::string withReason(const std::string& message, const std::string& why, std::size_t limit = 127);
// The sample rate the synthesiser is to be created with for these drivers (0: FluidSynth's own
// default, which the sound servers resample as needed).
double audioSampleRate(const AudioEnvironment& env);

// A copy of what the built-in synthesiser plays, for the listener's loopback input.
class SynthTap {
public:
    virtual ~SynthTap() = default;
    // frames of the output mixed to mono, on the audio thread, with the monotonic time at which
    // the first of them was rendered.
    virtual void synthRendered(const float* mono, std::size_t frames, int sampleRate,
                               int64_t firstSampleNanos) = 0;
};

// Puts tap (nullptr: none) on the built-in synthesiser's output, now and at every later start.
// A running output restarts in the mode that copies its audio, or back in its plain mode; the old
// tap is not called after this returns.  False (error says why) when the running output cannot be
// copied; it then plays on as before.  Without a tap the output is exactly the plain driver.
bool setSynthTap(SynthTap* tap, std::string& error);

class FluidAudio {
public:
    FluidAudio();
    ~FluidAudio();
    FluidAudio(const FluidAudio&) = delete;
    FluidAudio& operator=(const FluidAudio&) = delete;

    // Starts the first driver that works for the engine's synthesiser.  On failure error holds
    // a text naming the drivers tried.
    bool start(FluidEngine& engine, const AudioEnvironment& env, std::string& error);
    // Stops the driver and its thread; nothing more is rendered.
    void stop();
    bool running() const { return driver_ != nullptr || tappedFile_ != nullptr; }
    const std::string& driverName() const { return name_; }

private:
    friend bool setSynthTap(SynthTap* tap, std::string& error);
    struct TappedFile;

    bool startDriver(SynthTap* tap, std::string& error);
    void stopDriver();
    void startTappedFile(const AudioEnvironment& env);
    static int renderTapped(void* data, int len, int nfx, float** fx, int nout, float** out);
    void deliverTap(float** out, int channels, int frames);

    fluid_audio_driver_t* driver_ = nullptr;
    std::string name_;
    bool sdlStarted_ = false;
    // What start() was given, for a restart when a tap comes or goes.
    FluidEngine* engine_ = nullptr;
    AudioEnvironment env_;
    // The tap in use (touched by the audio thread only while a driver runs) and, for the file
    // driver, the writer that stands in for it while tapped.
    SynthTap* tap_ = nullptr;
    int tapRate_ = 0;
    int64_t tapStartNanos_ = 0;
    int64_t framesTapped_ = 0;
    std::unique_ptr<TappedFile> tappedFile_;
};

} // namespace platform
