// What the listener hears: one seam over every input.  An input is chosen by an id string (kept
// in the settings) from the list that the backend offers:
//   "audio:<api>:<device name>"  a sound card's input or a microphone, through RtAudio
//   "midi:<port name>"           a readable ALSA sequencer port, through RtMidi
//   "file:<path>"                a WAV file played at real-time pace
//   "loopback"                   the built-in synthesiser's own output
// An open input delivers mono blocks of samples (or MIDI notes) to a sink on a thread of its own,
// each block with the monotonic time of its first sample.  Tests use ScriptedInputs instead of the
// system backend.
#pragma once

#include "layers/platform.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

class MidiInPorts;

enum class InputKind { Audio, Midi, File, Loopback };

struct InputChoice {
    std::string id;    // what to save and to pass to open()
    std::string label; // what the player reads
    InputKind kind = InputKind::Audio;
    int channels = 1; // the inputs a sound card offers (1 for every other kind)
};

// The input channel to capture, counted from 0, for a device of `channels` inputs: one past the
// device's last is its last, anything under 0 its first.
int clampChannel(int channel, int channels);

enum class InputFailure {
    None,
    InUse,           // another program holds the device
    Gone,            // the device vanished (at open or mid-run)
    NoSuchFile,      // the WAV file is missing or unreadable
    NotWav,          // the file is no WAV, or one in a format that cannot be read
    RateUnsupported, // no sample rate the detector can work at
    NoDevice,        // no input of that kind at all
    Other,
};

struct InputError {
    InputFailure kind = InputFailure::None;
    std::string text; // a sentence for the player
};

// A note-on from a MIDI input (velocity > 0), with its arrival time on monotonicNanos().
struct MidiNoteIn {
    int64_t nanos = 0;
    int note = 0;
    int velocity = 0;
};

// Receives what an open input captures.  Called on the input's own thread (one thread at a time),
// never after InputSource::stop() returned.
class InputSink {
public:
    virtual ~InputSink() = default;
    // count mono samples at sampleRate; firstSampleNanos is when the first of them was heard.
    virtual void samples(const float* mono, std::size_t count, int sampleRate,
                         int64_t firstSampleNanos) = 0;
    virtual void note(const MidiNoteIn& note) = 0;
    // The input failed mid-run; it delivers nothing more.
    virtual void failed(const InputError& error) = 0;
    // A file input came to its end (after a short tail of silence).
    virtual void ended() = 0;
    // The input lost sound before the next block (an input overflow): lostFrames samples at
    // sampleRate (0 when it cannot tell how many).
    virtual void overflowed(int64_t lostFrames, int sampleRate) {
        (void)lostFrames;
        (void)sampleRate;
    }
};

class InputSource {
public:
    virtual ~InputSource() = default;
    // Starts capture into sink.  On failure error says why and nothing is delivered.
    virtual bool start(InputSink& sink, InputError& error) = 0;
    // Stops capture; no sink call happens after it returns.  Safe to call more than once.
    virtual void stop() = 0;
    // The input channel to capture, counted from 0 (before start(); a sound card's only, clamped
    // to the channels it has).
    virtual void setChannel(int channel) { (void)channel; }
    // Polled about once a second from the listener's worker while running: false when the device
    // is no longer there (a MIDI port that vanished).
    virtual bool present() { return true; }
    // A live device that delivers nothing for this long is taken as gone (0: never).
    virtual int64_t stallNanos() const { return 0; }
    // The text that failure messages name the input by.
    virtual std::string name() const = 0;
};

class InputBackend {
public:
    virtual ~InputBackend() = default;
    // Every input there is now: audio devices, MIDI ports, the loopback, and the file of
    // CLEFWORK_LISTEN_FILE when it is set.
    virtual std::vector<InputChoice> choices() = 0;
    // The input of that id, not yet started; nullptr with error filled in when it cannot be had.
    virtual std::unique_ptr<InputSource> open(const std::string& id, InputError& error) = 0;
};

// The real inputs, MIDI through the ALSA sequencer (a test may pass other MIDI ports; that
// overload needs platform/midi_input.h).
std::unique_ptr<InputBackend> makeSystemInputs();
std::unique_ptr<InputBackend> makeSystemInputs(std::unique_ptr<MidiInPorts> midiPorts);

// CLEFWORK_LISTEN_FILE as an input id ("file:<path>"), or "" when it is not set.  When it is set
// it takes the place of the saved choice.
std::string listenFileInputId();
// The kind of input an id names (Audio for anything unknown).
InputKind inputKindOf(const std::string& id);

// ---------------------------------------------------------------------------------------------
// WAV files

struct WavData {
    int sampleRate = 0;
    int channels = 0;
    std::vector<float> mono; // the channels mixed
};

// Where a WAV file's sound lies and how it is laid out.
struct WavLayout {
    int format = 0; // 1 integer PCM, 3 float
    int channels = 0;
    int bits = 0;
    int blockAlign = 0; // bytes a frame
    int sampleRate = 0;
    uint64_t dataOffset = 0;
    uint64_t frames = 0; // whole frames in the data chunk, as far as the file holds them
};

// A WAV file read a block at a time: the header when it is opened, the sound as it is asked for,
// so that a file of any length costs a block of memory.
class WavFileReader {
public:
    WavFileReader() = default;
    ~WavFileReader();
    WavFileReader(const WavFileReader&) = delete;
    WavFileReader& operator=(const WavFileReader&) = delete;

    // Opens the file and reads its header.  False with error filled in: no such file, one that
    // cannot be read, a folder, device or pipe (never waited on), no WAV or one it cannot read.
    bool open(const std::string& path, InputError& error);
    void close();
    int sampleRate() const { return layout_.sampleRate; }
    int channels() const { return layout_.channels; }
    uint64_t frames() const { return layout_.frames; }
    // The next frames, up to maxFrames, mixed to mono (or the channel selected); 0 at the end of
    // the sound.
    std::size_t read(float* mono, std::size_t maxFrames);
    // read() gives this channel alone, counted from 0 (-1, or one the file lacks: the mix).
    void selectChannel(int channel) { channel_ = channel; }

private:
    std::size_t readAt(uint64_t offset, char* into, std::size_t n) const;
    int fd_ = -1;
    WavLayout layout_;
    uint64_t next_ = 0; // the next frame to read
    int channel_ = -1;
    std::vector<char> buffer_;
};

// Reads 16-bit, 24-bit and 32-bit integer PCM and 32-bit float WAV files (also in the extensible
// format), mixing the channels to mono.  False with error filled in otherwise.
bool readWavFile(const std::string& path, WavData& wav, InputError& error);
// One channel of it (counted from 0; -1 mixes them all).  A channel the file lacks is an error.
bool readWavChannel(const std::string& path, int channel, WavData& wav, InputError& error);
// The same from bytes in memory (path only names the file in messages).
bool parseWav(const std::string& bytes, const std::string& path, WavData& wav, InputError& error);

// The frames of a block an audio input delivers: what the capture stream asks for and what the
// file input plays a block at a time.
inline constexpr std::size_t kInputBlockFrames = 256;

// A WAV file played at real-time pace, in blocks of kInputBlockFrames read as they are due, then
// half a second of silence.
std::unique_ptr<InputSource> makeFileInput(const std::string& path);

// Sorts an RtAudio failure text into a failure for the device called name.
InputError audioOpenFailure(const std::string& name, const std::string& why);

// The texts every input uses.
namespace input_text {
std::string inUse(const std::string& name);
std::string gone(const std::string& name);
std::string notFound(const std::string& name);
std::string rateUnsupported(const std::string& name);
std::string noInput();
std::string fileMissing(const std::string& path);
std::string notWav(const std::string& path);
} // namespace input_text

// ---------------------------------------------------------------------------------------------
// Scripted inputs for tests: a test lists devices, makes them fail on open, pushes blocks and
// notes into the running input and makes it fail or vanish mid-run.

class ScriptedInputs : public InputBackend {
public:
    struct Device {
        InputChoice choice;
        InputError openError;  // kind None: opens fine
        InputError startError; // kind None: starts fine
    };

    ScriptedInputs();
    ~ScriptedInputs() override;

    void setDevices(std::vector<Device> devices);
    std::vector<InputChoice> choices() override;
    std::unique_ptr<InputSource> open(const std::string& id, InputError& error) override;

    // Into the running input, on the caller's thread.  False when no input is running.
    bool push(const float* mono, std::size_t count, int sampleRate, int64_t firstSampleNanos);
    bool pushNote(const MidiNoteIn& note);
    bool fail(const InputError& error);
    bool end();
    // present() turns false (or true again).
    void setPresent(bool present);
    void setStallNanos(int64_t nanos);
    bool running() const;
    std::string runningId() const;
    // The channel the running input was asked for (counted from 0).
    int runningChannel() const;
    // Tells the running input's sink that sound was lost.
    bool overflow(int64_t lostFrames, int sampleRate);

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace platform
