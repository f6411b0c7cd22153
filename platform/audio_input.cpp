#include "platform/audio_input.h"

#include "platform/clock.h"
#include "platform/fluid_audio.h"
#include "platform/midi_input.h"

#include <rtaudio/RtAudio.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

namespace platform {

// ---------------------------------------------------------------------------------------------
// Texts

namespace input_text {
std::string inUse(const std::string& name) {
    return "The audio input \"" + name + "\" is in use by another program.";
}
std::string gone(const std::string& name) {
    return "The input \"" + name + "\" has gone away. Listening is off.";
}
std::string notFound(const std::string& name) {
    return "The input \"" + name + "\" is not there. Choose another input.";
}
std::string rateUnsupported(const std::string& name) {
    return "The audio input \"" + name + "\" offers no sample rate that Clefwork can listen at.";
}
std::string noInput() {
    return "No audio input was found.";
}
std::string fileMissing(const std::string& path) {
    return "The file \"" + path + "\" was not found.";
}
std::string notWav(const std::string& path) {
    return "\"" + path + "\" is not a WAV file.";
}
} // namespace input_text

namespace {

constexpr const char* loopbackId = "loopback";
constexpr const char* loopbackName = "Clefwork's own sound";
constexpr int minRate = 8000;
constexpr int maxRate = 192000;

bool hasPrefix(const std::string& id, const char* prefix) {
    return id.rfind(prefix, 0) == 0;
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

std::string listenFileInputId() {
    const char* path = std::getenv("CLEFWORK_LISTEN_FILE");
    return path == nullptr || *path == '\0' ? std::string() : std::string("file:") + path;
}

InputKind inputKindOf(const std::string& id) {
    if (hasPrefix(id, "midi:")) {
        return InputKind::Midi;
    }
    if (hasPrefix(id, "file:")) {
        return InputKind::File;
    }
    if (id == loopbackId) {
        return InputKind::Loopback;
    }
    return InputKind::Audio;
}

InputError audioOpenFailure(const std::string& name, const std::string& why) {
    const std::string text = lowered(why);
    // ALSA's "won't open" follows a listing, so the device is there but held by another program.
    if (text.find("busy") != std::string::npos || text.find("in use") != std::string::npos ||
        text.find("won't open") != std::string::npos) {
        return {InputFailure::InUse, input_text::inUse(name)};
    }
    if (text.find("sample rate") != std::string::npos ||
        text.find("samplerate") != std::string::npos) {
        return {InputFailure::RateUnsupported, input_text::rateUnsupported(name)};
    }
    if (text.find("no such") != std::string::npos || text.find("not found") != std::string::npos ||
        text.find("invalid device") != std::string::npos) {
        return {InputFailure::Gone, input_text::notFound(name)};
    }
    return {InputFailure::Other, "The audio input \"" + name + "\" could not be opened: " + why};
}

// ---------------------------------------------------------------------------------------------
// WAV files

namespace {

uint32_t le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// One channel's sample; a float that is not a number is silence.
double sampleAt(const unsigned char* p, int format, int bits) {
    if (format == 3) {
        if (bits == 32) {
            float f = 0.0f;
            std::memcpy(&f, p, 4);
            return std::isfinite(f) ? f : 0.0;
        }
        double d = 0.0;
        std::memcpy(&d, p, 8);
        return std::isfinite(d) ? d : 0.0;
    }
    switch (bits) {
    case 8:
        return (static_cast<double>(p[0]) - 128.0) / 128.0;
    case 16:
        return static_cast<double>(static_cast<int16_t>(le16(p))) / 32768.0;
    case 24: {
        const auto v = static_cast<int32_t>(le32(p) << 8) >> 8;
        return static_cast<double>(v) / 8388608.0;
    }
    default:
        return static_cast<double>(static_cast<int32_t>(le32(p))) / 2147483648.0;
    }
}

// Reads up to n bytes at an offset of the file or the bytes being parsed.
using ReadAt = std::function<std::string(uint64_t offset, std::size_t n)>;

// Finds the format and the sound in a WAV of `size` bytes.
bool parseWavHeader(const ReadAt& at, uint64_t size, const std::string& path, WavLayout& wav,
                    InputError& error) {
    wav = {};
    const std::string head = size >= 12 ? at(0, 12) : std::string();
    if (head.size() < 12 || head.compare(0, 4, "RIFF") != 0 || head.compare(8, 4, "WAVE") != 0) {
        error = {InputFailure::NotWav, input_text::notWav(path)};
        return false;
    }
    bool haveFormat = false;
    uint64_t pos = 12;
    while (pos + 8 <= size) {
        const std::string header = at(pos, 8);
        if (header.size() < 8) {
            break;
        }
        const std::string id = header.substr(0, 4);
        const uint64_t chunk = le32(reinterpret_cast<const unsigned char*>(header.data()) + 4);
        const uint64_t body = pos + 8;
        const uint64_t avail = size - body;
        if (id == "fmt ") {
            if (chunk < 16 || avail < 16) {
                break;
            }
            const std::string fmt = at(body, static_cast<std::size_t>(std::min<uint64_t>(
                                                 std::min<uint64_t>(chunk, avail), 40)));
            if (fmt.size() < 16) {
                break;
            }
            const auto* f = reinterpret_cast<const unsigned char*>(fmt.data());
            wav.format = le16(f);
            wav.channels = le16(f + 2);
            const uint32_t rate = le32(f + 4);
            wav.sampleRate = rate > static_cast<uint32_t>(maxRate) ? 0 : static_cast<int>(rate);
            wav.blockAlign = le16(f + 12);
            wav.bits = le16(f + 14);
            if (wav.format == 0xFFFE && fmt.size() >= 40) {
                wav.format = le16(f + 24); // the sub-format's first two bytes
            }
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat) {
                break;
            }
            const int bits = wav.bits;
            const bool pcm =
                wav.format == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
            const bool flt = wav.format == 3 && (bits == 32 || bits == 64);
            if (!(pcm || flt) || wav.channels < 1 || wav.channels > 32 ||
                wav.blockAlign != wav.channels * bits / 8) {
                error = {InputFailure::NotWav,
                         "\"" + path +
                             "\" is a WAV file in a form Clefwork cannot read (it reads 16-bit, "
                             "24-bit and 32-bit PCM and 32-bit float)."};
                return false;
            }
            if (wav.sampleRate < minRate) {
                error = {InputFailure::RateUnsupported,
                         "\"" + path + "\" has a sample rate that Clefwork cannot listen at."};
                return false;
            }
            // A streamed file may leave the size at 0 or too large: take what is there.
            const uint64_t length = chunk == 0 ? avail : std::min(chunk, avail);
            wav.dataOffset = body;
            wav.frames = length / static_cast<uint64_t>(wav.blockAlign);
            if (wav.frames == 0) {
                error = {InputFailure::NotWav, "\"" + path + "\" holds no sound."};
                return false;
            }
            return true;
        }
        if (chunk > avail) {
            break;
        }
        pos = body + chunk + (chunk & 1u);
    }
    error = {InputFailure::NotWav, input_text::notWav(path) + " It ends before its sound."};
    return false;
}

// Whole frames of the data chunk, mixed to mono.  The mix is checked as well as each channel:
// channels that are each in range may add up past it, and a float file may hold any value;
// beyond full scale the sample is clipped there, as a converter clips.
void mixFrames(const unsigned char* data, std::size_t frames, const WavLayout& wav, float* mono) {
    const auto frameBytes = static_cast<std::size_t>(wav.blockAlign);
    const auto sampleBytes = static_cast<std::size_t>(wav.bits / 8);
    for (std::size_t f = 0; f < frames; ++f) {
        double mixed = 0.0; // each channel's share added, so that no sum overflows
        for (int c = 0; c < wav.channels; ++c) {
            mixed += sampleAt(data + f * frameBytes + static_cast<std::size_t>(c) * sampleBytes,
                              wav.format, wav.bits) /
                     wav.channels;
        }
        mono[f] = std::isfinite(mixed) ? static_cast<float>(std::clamp(mixed, -1.0, 1.0)) : 0.0f;
    }
}

std::string fileKind(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISFIFO(mode)) {
        return "a pipe";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    return "not a regular file";
}

InputError notAFile(const std::string& path, mode_t mode) {
    return {InputFailure::NoSuchFile,
            "\"" + path + "\" is " + fileKind(mode) + ", not a WAV file: choose a WAV file."};
}

InputError unreadable(const std::string& path, int error) {
    if (error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG || error == ELOOP) {
        return {InputFailure::NoSuchFile, input_text::fileMissing(path)};
    }
    return {InputFailure::NoSuchFile,
            "The file \"" + path + "\" cannot be read (" + std::strerror(error) + ")."};
}

} // namespace

bool parseWav(const std::string& bytes, const std::string& path, WavData& wav, InputError& error) {
    wav = {};
    WavLayout layout;
    const ReadAt at = [&bytes](uint64_t offset, std::size_t n) {
        return offset >= bytes.size() ? std::string()
                                      : bytes.substr(static_cast<std::size_t>(offset), n);
    };
    if (!parseWavHeader(at, bytes.size(), path, layout, error)) {
        return false;
    }
    wav.sampleRate = layout.sampleRate;
    wav.channels = layout.channels;
    wav.mono.resize(static_cast<std::size_t>(layout.frames));
    mixFrames(reinterpret_cast<const unsigned char*>(bytes.data()) + layout.dataOffset,
              wav.mono.size(), layout, wav.mono.data());
    return true;
}

WavFileReader::~WavFileReader() {
    close();
}

void WavFileReader::close() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = -1;
    layout_ = {};
    next_ = 0;
}

bool WavFileReader::open(const std::string& path, InputError& error) {
    close();
    // The kind of file first: a pipe is never opened to wait for a writer, nor a device read.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = unreadable(path, errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = notAFile(path, st.st_mode);
        return false;
    }
    // Non-blocking all the same, should it have become a pipe since.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = unreadable(path, errno);
        return false;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = notAFile(path, st.st_mode);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    const ReadAt at = [this](uint64_t offset, std::size_t n) {
        std::string bytes(n, '\0');
        bytes.resize(readAt(offset, bytes.data(), n));
        return bytes;
    };
    if (!parseWavHeader(at, static_cast<uint64_t>(st.st_size), path, layout_, error)) {
        close();
        return false;
    }
    return true;
}

std::size_t WavFileReader::readAt(uint64_t offset, char* into, std::size_t n) const {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd_, into + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

std::size_t WavFileReader::read(float* mono, std::size_t maxFrames) {
    if (fd_ < 0 || next_ >= layout_.frames) {
        return 0;
    }
    const std::size_t frames =
        static_cast<std::size_t>(std::min<uint64_t>(maxFrames, layout_.frames - next_));
    const auto frameBytes = static_cast<std::size_t>(layout_.blockAlign);
    buffer_.resize(frames * frameBytes);
    const std::size_t got =
        readAt(layout_.dataOffset + next_ * frameBytes, buffer_.data(), buffer_.size()) /
        frameBytes;
    if (got == 0) {
        next_ = layout_.frames; // cut short while playing: the end
        return 0;
    }
    mixFrames(reinterpret_cast<const unsigned char*>(buffer_.data()), got, layout_, mono);
    next_ += got;
    return got;
}

bool readWavFile(const std::string& path, WavData& wav, InputError& error) {
    wav = {};
    WavFileReader reader;
    if (!reader.open(path, error)) {
        return false;
    }
    wav.sampleRate = reader.sampleRate();
    wav.channels = reader.channels();
    wav.mono.resize(static_cast<std::size_t>(reader.frames()));
    std::size_t done = 0;
    while (done < wav.mono.size()) {
        const std::size_t got = reader.read(wav.mono.data() + done, wav.mono.size() - done);
        if (got == 0) {
            break;
        }
        done += got;
    }
    wav.mono.resize(done);
    return true;
}

// ---------------------------------------------------------------------------------------------
// The file input

namespace {

// Blocks of this many frames, each delivered once the last of its samples would have been heard.
constexpr std::size_t fileBlockFrames = 256;
// Silence after the end, so that the detector hears the last note out.
constexpr double fileTailSeconds = 0.5;

// The file is read a block at a time on the input's thread, as it plays: a long take costs no
// more memory than a short one, and nothing of it is read on the thread that starts it but the
// header.
class FileInput : public InputSource {
public:
    explicit FileInput(std::string path) : path_(std::move(path)) {}
    ~FileInput() override { stop(); }

    bool start(InputSink& sink, InputError& error) override {
        stop();
        if (!reader_.open(path_, error)) {
            return false;
        }
        stopping_ = false;
        thread_ = std::thread([this, &sink] { run(sink); });
        return true;
    }

    void stop() override {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    std::string name() const override { return path_; }

private:
    void run(InputSink& sink) {
        const int64_t start = monotonicNanos();
        const int rate = reader_.sampleRate();
        const auto tail = static_cast<std::size_t>(fileTailSeconds * rate);
        std::array<float, fileBlockFrames> block{};
        std::size_t tailLeft = tail;
        for (int64_t done = 0;;) {
            std::size_t n = reader_.read(block.data(), block.size());
            if (n == 0) {
                if (tailLeft == 0) {
                    break;
                }
                n = std::min(block.size(), tailLeft);
                std::fill_n(block.begin(), n, 0.0f);
                tailLeft -= n;
            }
            const int64_t first = start + done * 1000000000LL / rate;
            const int64_t due = start + (done + static_cast<int64_t>(n)) * 1000000000LL / rate;
            if (waitUntil(due)) {
                return;
            }
            sink.samples(block.data(), n, rate, first);
            done += static_cast<int64_t>(n);
        }
        sink.ended();
    }

    // Waits until the monotonic time due; true when told to stop.
    bool waitUntil(int64_t due) {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (stopping_) {
                return true;
            }
            const int64_t left = due - monotonicNanos();
            if (left <= 0) {
                return false;
            }
            wake_.wait_for(lock, std::chrono::nanoseconds(left));
        }
    }

    std::string path_;
    WavFileReader reader_; // the input thread's while it runs
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
};

// ---------------------------------------------------------------------------------------------
// The loopback of the built-in synthesiser

class LoopbackInput : public InputSource, private SynthTap {
public:
    ~LoopbackInput() override { stop(); }

    bool start(InputSink& sink, InputError& error) override {
        stop();
        sink_ = &sink;
        std::string why;
        if (!setSynthTap(this, why)) {
            std::string ignored;
            setSynthTap(nullptr, ignored);
            sink_ = nullptr;
            error = {InputFailure::Other, why};
            return false;
        }
        tapped_ = true;
        return true;
    }

    void stop() override {
        if (tapped_) {
            std::string ignored;
            setSynthTap(nullptr, ignored);
            tapped_ = false;
        }
    }

    std::string name() const override { return loopbackName; }

private:
    void synthRendered(const float* mono, std::size_t frames, int sampleRate,
                       int64_t firstSampleNanos) override {
        sink_->samples(mono, frames, sampleRate, firstSampleNanos);
    }

    InputSink* sink_ = nullptr;
    bool tapped_ = false;
};

// ---------------------------------------------------------------------------------------------
// Audio devices through RtAudio

constexpr unsigned int captureFrames = 256;

std::vector<RtAudio::Api> audioApis() {
    std::vector<RtAudio::Api> compiled;
    RtAudio::getCompiledApi(compiled);
    const bool jack = AudioEnvironment::fromProcess().jackServerSeen;
    std::vector<RtAudio::Api> apis;
    for (RtAudio::Api api : {RtAudio::LINUX_PULSE, RtAudio::LINUX_ALSA, RtAudio::UNIX_JACK}) {
        const bool built = std::find(compiled.begin(), compiled.end(), api) != compiled.end();
        // Without a server the JACK client would try to start one.
        if (built && (api != RtAudio::UNIX_JACK || jack)) {
            apis.push_back(api);
        }
    }
    return apis;
}

// ALSA's library prints its complaints (no card, no such device) to stderr while RtAudio probes;
// they are dropped, RtAudio reports the failure itself.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

class AlsaQuiet {
public:
    AlsaQuiet() { set(quietAlsa); }
    ~AlsaQuiet() { set(nullptr); }
    AlsaQuiet(const AlsaQuiet&) = delete;
    AlsaQuiet& operator=(const AlsaQuiet&) = delete;

private:
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    static void set(Handler handler) {
        using SetFn = int (*)(Handler);
        if (auto fn = reinterpret_cast<SetFn>(dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler"))) {
            fn(handler);
        }
    }
};

std::unique_ptr<RtAudio> newRtAudio(RtAudio::Api api) {
    try {
        auto audio = std::make_unique<RtAudio>(api);
        audio->showWarnings(false);
        return audio;
    } catch (const RtAudioError&) {
        return nullptr;
    }
}

struct AudioDevice {
    unsigned int index = 0;
    RtAudio::DeviceInfo info;
};

std::vector<AudioDevice> inputDevices(RtAudio& audio) {
    std::vector<AudioDevice> devices;
    try {
        const unsigned int count = audio.getDeviceCount();
        for (unsigned int i = 0; i < count; ++i) {
            RtAudio::DeviceInfo info = audio.getDeviceInfo(i);
            if (info.probed && info.inputChannels > 0) {
                devices.push_back({i, std::move(info)});
            }
        }
    } catch (const RtAudioError&) {
    }
    return devices;
}

int unprobedDevices(RtAudio& audio) {
    int count = 0;
    try {
        const unsigned int devices = audio.getDeviceCount();
        for (unsigned int i = 0; i < devices; ++i) {
            count += audio.getDeviceInfo(i).probed ? 0 : 1;
        }
    } catch (const RtAudioError&) {
    }
    return count;
}

// 48 kHz when the device has it, else its preferred rate, else the nearest it lists; 0 for none.
unsigned int pickRate(const RtAudio::DeviceInfo& info) {
    const auto usable = [](unsigned int r) {
        return r >= static_cast<unsigned>(minRate) && r <= static_cast<unsigned>(maxRate);
    };
    const auto& rates = info.sampleRates;
    if (std::find(rates.begin(), rates.end(), 48000u) != rates.end()) {
        return 48000;
    }
    if (usable(info.preferredSampleRate) &&
        std::find(rates.begin(), rates.end(), info.preferredSampleRate) != rates.end()) {
        return info.preferredSampleRate;
    }
    unsigned int best = 0;
    for (unsigned int r : rates) {
        const auto distance = [](unsigned int a) { return a > 48000u ? a - 48000u : 48000u - a; };
        if (usable(r) && (best == 0 || distance(r) < distance(best))) {
            best = r;
        }
    }
    return best;
}

class RtAudioInput;

// RtAudio's error callback carries no pointer of its own: the one running input is kept here.
std::mutex& runningAudioMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}
RtAudioInput*& runningAudio() {
    static RtAudioInput* input = nullptr;
    return input;
}

class RtAudioInput : public InputSource {
public:
    RtAudioInput(RtAudio::Api api, std::string deviceName)
        : api_(api), device_(std::move(deviceName)) {}
    ~RtAudioInput() override { stop(); }

    bool start(InputSink& sink, InputError& error) override {
        stop();
        const AlsaQuiet quiet;
        audio_ = newRtAudio(api_);
        if (!audio_) {
            error = {InputFailure::NoDevice, input_text::noInput()};
            return false;
        }
        const std::vector<AudioDevice> devices = inputDevices(*audio_);
        const auto it = std::find_if(devices.begin(), devices.end(),
                                     [&](const AudioDevice& d) { return d.info.name == device_; });
        if (it == devices.end()) {
            // A device held by another program cannot be probed and shows without its name.
            if (unprobedDevices(*audio_) > 0) {
                error = {InputFailure::InUse, input_text::inUse(device_)};
            } else if (devices.empty()) {
                error = {InputFailure::NoDevice, input_text::noInput()};
            } else {
                error = {InputFailure::Gone, input_text::notFound(device_)};
            }
            audio_.reset();
            return false;
        }
        rate_ = pickRate(it->info);
        if (rate_ == 0) {
            error = {InputFailure::RateUnsupported, input_text::rateUnsupported(device_)};
            audio_.reset();
            return false;
        }
        sink_ = &sink;
        RtAudio::StreamParameters parameters;
        parameters.deviceId = it->index;
        parameters.nChannels = 1;
        RtAudio::StreamOptions options;
        options.flags = RTAUDIO_MINIMIZE_LATENCY;
        options.streamName = "Clefwork";
        unsigned int frames = captureFrames;
        {
            const std::lock_guard lock(runningAudioMutex());
            runningAudio() = this;
            readErrors_ = 0;
        }
        try {
            audio_->openStream(nullptr, &parameters, RTAUDIO_FLOAT32, rate_, &frames,
                               &RtAudioInput::captured, this, &options, &RtAudioInput::streamError);
            latencyFrames_ = std::max(0L, audio_->getStreamLatency());
            audio_->startStream();
        } catch (const RtAudioError& e) {
            error = audioOpenFailure(device_, e.getMessage());
            closeStream();
            return false;
        }
        return true;
    }

    void stop() override { closeStream(); }

    // A sound card delivers every few milliseconds; a second of nothing means it has gone.
    int64_t stallNanos() const override { return 1000000000LL; }
    std::string name() const override { return device_; }

private:
    static int captured(void*, void* input, unsigned int frames, double, RtAudioStreamStatus,
                        void* data) {
        auto* self = static_cast<RtAudioInput*>(data);
        if (input == nullptr || frames == 0) {
            return 0;
        }
        // The first sample was heard a buffer and the stream's latency before now.
        const int64_t heard =
            monotonicNanos() -
            static_cast<int64_t>(frames + static_cast<unsigned>(self->latencyFrames_)) *
                1000000000LL / self->rate_;
        self->sink_->samples(static_cast<const float*>(input), frames,
                             static_cast<int>(self->rate_), heard);
        return 0;
    }

    // A device that vanishes shows as ALSA read errors, reported as warnings while the callback
    // goes on with stale buffers; other APIs abort the stream with an error.
    static void streamError(RtAudioError::Type type, const std::string& text) {
        if (type == RtAudioError::DEBUG_WARNING) {
            return;
        }
        const std::lock_guard lock(runningAudioMutex());
        RtAudioInput* input = runningAudio();
        if (input == nullptr || input->sink_ == nullptr) {
            return;
        }
        if (type == RtAudioError::WARNING) {
            const std::string why = lowered(text);
            const bool vanished = why.find("no such device") != std::string::npos;
            if (!vanished && (why.find("read error") == std::string::npos ||
                              ++input->readErrors_ < repeatedReadErrors)) {
                return;
            }
        }
        input->sink_->failed({InputFailure::Gone, input_text::gone(input->device_)});
    }

    static constexpr int repeatedReadErrors = 5;

    void closeStream() {
        {
            const std::lock_guard lock(runningAudioMutex());
            if (runningAudio() == this) {
                runningAudio() = nullptr;
            }
        }
        if (audio_) {
            try {
                if (audio_->isStreamRunning()) {
                    audio_->abortStream();
                }
                if (audio_->isStreamOpen()) {
                    audio_->closeStream();
                }
            } catch (const RtAudioError&) {
            }
            audio_.reset();
        }
        sink_ = nullptr;
    }

    RtAudio::Api api_;
    std::string device_;
    std::unique_ptr<RtAudio> audio_;
    InputSink* sink_ = nullptr;
    unsigned int rate_ = 0;
    long latencyFrames_ = 0;
    int readErrors_ = 0; // under runningAudioMutex()
};

std::string apiLabel(RtAudio::Api api) {
    switch (api) {
    case RtAudio::LINUX_PULSE:
        return "PulseAudio";
    case RtAudio::LINUX_ALSA:
        return "ALSA";
    case RtAudio::UNIX_JACK:
        return "JACK";
    default:
        return RtAudio::getApiDisplayName(api);
    }
}

// ---------------------------------------------------------------------------------------------
// The system backend

class SystemInputs : public InputBackend {
public:
    explicit SystemInputs(std::shared_ptr<MidiInPorts> midi) : midi_(std::move(midi)) {}

    std::vector<InputChoice> choices() override {
        const AlsaQuiet quiet;
        std::vector<InputChoice> list;
        for (RtAudio::Api api : audioApis()) {
            auto audio = newRtAudio(api);
            if (!audio) {
                continue;
            }
            for (const AudioDevice& device : inputDevices(*audio)) {
                list.push_back({"audio:" + RtAudio::getApiName(api) + ":" + device.info.name,
                                device.info.name + " (" + apiLabel(api) + ")", InputKind::Audio});
            }
        }
        std::vector<std::string> ports;
        if (midi_->list(ports)) {
            for (const std::string& port : ports) {
                list.push_back({"midi:" + port, port + " (MIDI)", InputKind::Midi});
            }
        }
        list.push_back(
            {loopbackId, std::string(loopbackName) + " (loopback)", InputKind::Loopback});
        if (const std::string file = listenFileInputId(); !file.empty()) {
            list.push_back({file, "File " + file.substr(5), InputKind::File});
        }
        return list;
    }

    std::unique_ptr<InputSource> open(const std::string& id, InputError& error) override {
        switch (inputKindOf(id)) {
        case InputKind::Midi:
            return makeMidiInput(midi_, id.substr(5));
        case InputKind::File:
            return makeFileInput(id.substr(5));
        case InputKind::Loopback:
            return std::make_unique<LoopbackInput>();
        case InputKind::Audio:
            break;
        }
        // "audio:<api>:<name>"
        const std::size_t colon = id.find(':', 6);
        if (!hasPrefix(id, "audio:") || colon == std::string::npos) {
            error = {InputFailure::NoDevice, input_text::noInput()};
            return nullptr;
        }
        const RtAudio::Api api = RtAudio::getCompiledApiByName(id.substr(6, colon - 6));
        const std::string name = id.substr(colon + 1);
        const std::vector<RtAudio::Api> apis = audioApis();
        if (std::find(apis.begin(), apis.end(), api) == apis.end()) {
            error = {InputFailure::NoDevice, input_text::notFound(name)};
            return nullptr;
        }
        return std::make_unique<RtAudioInput>(api, name);
    }

private:
    std::shared_ptr<MidiInPorts> midi_;
};

} // namespace

std::unique_ptr<InputSource> makeFileInput(const std::string& path) {
    return std::make_unique<FileInput>(path);
}

std::unique_ptr<InputBackend> makeSystemInputs(std::unique_ptr<MidiInPorts> midiPorts) {
    return std::make_unique<SystemInputs>(std::shared_ptr<MidiInPorts>(std::move(midiPorts)));
}

std::unique_ptr<InputBackend> makeSystemInputs() {
    return makeSystemInputs(makeAlsaMidiInPorts());
}

// ---------------------------------------------------------------------------------------------
// Scripted inputs

struct ScriptedInputs::State {
    mutable std::mutex mutex;
    std::vector<Device> devices;
    InputSink* sink = nullptr;
    std::string runningId;
    std::atomic<bool> present{true};
    std::atomic<int64_t> stallNanos{0};
};

namespace {

class ScriptedSource : public InputSource {
public:
    ScriptedSource(std::shared_ptr<ScriptedInputs::State> state, ScriptedInputs::Device device)
        : state_(std::move(state)), device_(std::move(device)) {}
    ~ScriptedSource() override { stop(); }

    bool start(InputSink& sink, InputError& error) override {
        if (device_.startError.kind != InputFailure::None) {
            error = device_.startError;
            return false;
        }
        const std::lock_guard lock(state_->mutex);
        state_->sink = &sink;
        state_->runningId = device_.choice.id;
        sink_ = &sink;
        return true;
    }

    void stop() override {
        const std::lock_guard lock(state_->mutex);
        if (sink_ != nullptr && state_->sink == sink_) {
            state_->sink = nullptr;
            state_->runningId.clear();
        }
        sink_ = nullptr;
    }

    bool present() override { return state_->present; }
    int64_t stallNanos() const override { return state_->stallNanos; }
    std::string name() const override { return device_.choice.label; }

private:
    std::shared_ptr<ScriptedInputs::State> state_;
    ScriptedInputs::Device device_;
    InputSink* sink_ = nullptr;
};

} // namespace

ScriptedInputs::ScriptedInputs() : state_(std::make_shared<State>()) {}
ScriptedInputs::~ScriptedInputs() = default;

void ScriptedInputs::setDevices(std::vector<Device> devices) {
    const std::lock_guard lock(state_->mutex);
    state_->devices = std::move(devices);
}

std::vector<InputChoice> ScriptedInputs::choices() {
    const std::lock_guard lock(state_->mutex);
    std::vector<InputChoice> list;
    for (const Device& device : state_->devices) {
        list.push_back(device.choice);
    }
    return list;
}

std::unique_ptr<InputSource> ScriptedInputs::open(const std::string& id, InputError& error) {
    const std::lock_guard lock(state_->mutex);
    if (state_->devices.empty()) {
        error = {InputFailure::NoDevice, input_text::noInput()};
        return nullptr;
    }
    for (const Device& device : state_->devices) {
        if (device.choice.id != id) {
            continue;
        }
        if (device.openError.kind != InputFailure::None) {
            error = device.openError;
            return nullptr;
        }
        return std::make_unique<ScriptedSource>(state_, device);
    }
    error = {InputFailure::Gone, input_text::notFound(id)};
    return nullptr;
}

bool ScriptedInputs::push(const float* mono, std::size_t count, int sampleRate,
                          int64_t firstSampleNanos) {
    const std::lock_guard lock(state_->mutex);
    if (state_->sink == nullptr) {
        return false;
    }
    state_->sink->samples(mono, count, sampleRate, firstSampleNanos);
    return true;
}

bool ScriptedInputs::pushNote(const MidiNoteIn& note) {
    const std::lock_guard lock(state_->mutex);
    if (state_->sink == nullptr) {
        return false;
    }
    state_->sink->note(note);
    return true;
}

bool ScriptedInputs::fail(const InputError& error) {
    const std::lock_guard lock(state_->mutex);
    if (state_->sink == nullptr) {
        return false;
    }
    state_->sink->failed(error);
    return true;
}

bool ScriptedInputs::end() {
    const std::lock_guard lock(state_->mutex);
    if (state_->sink == nullptr) {
        return false;
    }
    state_->sink->ended();
    return true;
}

void ScriptedInputs::setPresent(bool present) {
    state_->present = present;
}

void ScriptedInputs::setStallNanos(int64_t nanos) {
    state_->stallNanos = nanos;
}

bool ScriptedInputs::running() const {
    const std::lock_guard lock(state_->mutex);
    return state_->sink != nullptr;
}

std::string ScriptedInputs::runningId() const {
    const std::lock_guard lock(state_->mutex);
    return state_->runningId;
}

} // namespace platform
