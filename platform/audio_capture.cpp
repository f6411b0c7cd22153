#include "platform/audio_input_parts.h"

#include "platform/clock.h"
#include "platform/stream_clock.h"

#include <algorithm>
#include <mutex>

namespace platform::input_parts {

namespace {

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
        // The stream carries the channels up to the chosen one and the callback keeps that one:
        // not every API opens a stream from a channel other than the first.
        const int channel =
            clampChannel(channel_, static_cast<int>(std::max(1u, it->info.inputChannels)));
        streamChannels_ = static_cast<unsigned int>(channel) + 1;
        mono_.assign(monoFrames, 0.0f);
        clock_.reset();
        RtAudio::StreamParameters parameters;
        parameters.deviceId = it->index;
        parameters.nChannels = streamChannels_;
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
    void setChannel(int channel) override { channel_ = std::max(channel, 0); }

    // A sound card delivers every few milliseconds; a second of nothing means it has gone.
    int64_t stallNanos() const override { return 1000000000LL; }
    std::string name() const override { return device_; }

private:
    static int captured(void*, void* input, unsigned int frames, double, RtAudioStreamStatus status,
                        void* data) {
        auto* self = static_cast<RtAudioInput*>(data);
        if (input == nullptr || frames == 0) {
            return 0;
        }
        const int rate = static_cast<int>(self->rate_);
        const bool overflowed = (status & RTAUDIO_INPUT_OVERFLOW) != 0;
        // RtAudio says that sound was lost, not how much: the stream clock measures it.
        const StreamClock::Block block =
            self->clock_.block(monotonicNanos(), frames, rate, self->latencyFrames_, overflowed);
        if (overflowed) {
            self->sink_->overflowed(block.lostFrames, rate);
        }
        const auto* interleaved = static_cast<const float*>(input);
        const std::size_t stride = self->streamChannels_;
        if (stride == 1) {
            self->sink_->samples(interleaved, frames, rate, block.firstNanos);
            return 0;
        }
        // The chosen channel, a buffer of it at a time.
        const std::size_t channel = stride - 1;
        for (std::size_t done = 0; done < frames;) {
            const std::size_t n = std::min<std::size_t>(self->mono_.size(), frames - done);
            for (std::size_t i = 0; i < n; ++i) {
                self->mono_[i] = interleaved[(done + i) * stride + channel];
            }
            self->sink_->samples(self->mono_.data(), n, rate,
                                 block.firstNanos +
                                     static_cast<int64_t>(done) * 1000000000LL / rate);
            done += n;
        }
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
    int channel_ = 0;                 // as chosen
    unsigned int streamChannels_ = 1; // what the stream carries: up to the chosen channel
    static constexpr std::size_t monoFrames = 1024;
    std::vector<float> mono_; // the callback's: the chosen channel
    StreamClock clock_;       // the callback's
    int readErrors_ = 0;      // under runningAudioMutex()
};

} // namespace

std::unique_ptr<InputSource> makeAudioCapture(RtAudio::Api api, std::string deviceName) {
    return std::make_unique<RtAudioInput>(api, std::move(deviceName));
}

} // namespace platform::input_parts
