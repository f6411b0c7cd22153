#include "platform/audio_input.h"

#include "platform/audio_input_parts.h"
#include "platform/clock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

namespace platform {

using input_parts::maxRate;
using input_parts::minRate;

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
// channel >= 0: that channel alone.
void mixFrames(const unsigned char* data, std::size_t frames, const WavLayout& wav, float* mono,
               int channel = -1) {
    const auto frameBytes = static_cast<std::size_t>(wav.blockAlign);
    const auto sampleBytes = static_cast<std::size_t>(wav.bits / 8);
    if (channel >= 0 && channel < wav.channels) {
        for (std::size_t f = 0; f < frames; ++f) {
            const double v =
                sampleAt(data + f * frameBytes + static_cast<std::size_t>(channel) * sampleBytes,
                         wav.format, wav.bits);
            mono[f] = static_cast<float>(std::clamp(v, -1.0, 1.0));
        }
        return;
    }
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
    mixFrames(reinterpret_cast<const unsigned char*>(buffer_.data()), got, layout_, mono, channel_);
    next_ += got;
    return got;
}

bool readWavFile(const std::string& path, WavData& wav, InputError& error) {
    return readWavChannel(path, -1, wav, error);
}

bool readWavChannel(const std::string& path, int channel, WavData& wav, InputError& error) {
    wav = {};
    WavFileReader reader;
    if (!reader.open(path, error)) {
        return false;
    }
    if (channel >= reader.channels()) {
        error = {InputFailure::NotWav, "\"" + path + "\" has no channel " +
                                           std::to_string(channel + 1) + " (it has " +
                                           std::to_string(reader.channels()) + ")."};
        return false;
    }
    reader.selectChannel(channel);
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
constexpr std::size_t fileBlockFrames = kInputBlockFrames;
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

} // namespace

std::unique_ptr<InputSource> makeFileInput(const std::string& path) {
    return std::make_unique<FileInput>(path);
}

} // namespace platform
