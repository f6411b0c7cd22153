#include "listen/listener.h"

#include "listen/detector.h"
#include "platform/clock.h"

#include <QMetaObject>

#include <pthread.h>
#include <time.h>

#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <optional>

namespace listen {

// ---------------------------------------------------------------------------------------------
// OnsetClock

void OnsetClock::reset() {
    anchors_.clear();
}

void OnsetClock::addBlock(int64_t firstSample, int64_t firstNanos, int sampleRate) {
    if (sampleRate <= 0) {
        return;
    }
    anchors_.push_back({firstSample, firstNanos, sampleRate});
    if (anchors_.size() > keep) {
        anchors_.pop_front();
    }
}

int64_t OnsetClock::nanosOf(int64_t sample) const {
    if (anchors_.empty()) {
        return 0;
    }
    const Anchor* anchor = &anchors_.front();
    for (auto it = anchors_.rbegin(); it != anchors_.rend(); ++it) {
        if (it->sample <= sample) {
            anchor = &*it;
            break;
        }
    }
    return anchor->nanos + (sample - anchor->sample) * 1000000000LL / anchor->rate;
}

int64_t OnsetClock::sampleOf(int64_t nanos) const {
    if (anchors_.empty()) {
        return -1;
    }
    const Anchor* anchor = &anchors_.front();
    for (auto it = anchors_.rbegin(); it != anchors_.rend(); ++it) {
        if (it->nanos <= nanos) {
            anchor = &*it;
            break;
        }
    }
    return anchor->sample + (nanos - anchor->nanos) * anchor->rate / 1000000000LL;
}

// ---------------------------------------------------------------------------------------------
// The worker: the input's sink on the capture side, the detector on its own thread.

namespace {

constexpr std::size_t blockSamples = 512;
constexpr std::size_t blockSlots = 512; // about five seconds at 48 kHz
constexpr std::size_t noteSlots = 256;
constexpr std::size_t clickSlots = 64;
constexpr int64_t presenceIntervalNanos = 1000000000LL;
// The detector works a hop (256 samples) at a time, so the capture side wakes the worker once per
// that many samples rather than at every period it delivers; between wakes the worker looks in
// this often on its own (for the level, a stalled or vanished device).
constexpr std::size_t wakeSamples = 256;
constexpr auto idleWait = std::chrono::milliseconds(10);

// One producer (the capture thread), one consumer (the worker).
template <typename T, std::size_t N> class SpscRing {
public:
    // The slot to fill, or nullptr when the ring is full.
    T* writeSlot() {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head - tail_.load(std::memory_order_acquire) >= N) {
            return nullptr;
        }
        return &slots_[head % N];
    }
    void commit() {
        head_.store(head_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }
    // The oldest filled slot, or nullptr.
    const T* readSlot() {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire)) {
            return nullptr;
        }
        return &slots_[tail % N];
    }
    void release() {
        tail_.store(tail_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }
    bool empty() const {
        return tail_.load(std::memory_order_acquire) == head_.load(std::memory_order_acquire);
    }
    // Filled slots, as the producer sees them.
    std::size_t size() const {
        return head_.load(std::memory_order_relaxed) - tail_.load(std::memory_order_acquire);
    }

private:
    std::array<T, N> slots_{};
    std::atomic<std::size_t> head_{0};
    std::atomic<std::size_t> tail_{0};
};

struct SampleBlock {
    std::array<float, blockSamples> samples;
    std::size_t count;
    int rate;
    int64_t firstNanos;
};

double velocityDb(int velocity) {
    return 20.0 * std::log10(std::max(velocity, 1) / 127.0);
}

} // namespace

class Listener::Worker : public platform::InputSink {
public:
    Worker(Listener* owner, uint64_t generation) : owner_(owner), generation_(generation) {
        blocks_ = std::make_unique<SpscRing<SampleBlock, blockSlots>>();
    }
    ~Worker() override { stopThread(); }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void startThread(platform::InputSource* source) {
        source_ = source;
        stallNanos_ = source->stallNanos();
        name_ = source->name();
        thread_ = std::thread([this] {
            pthread_setname_np(pthread_self(), "clefwork-listen");
            run();
            // Its own figure, kept for when the thread is gone.
            timespec ts{};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
            finalCpuNanos_.store(static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec);
            finished_.store(true);
        });
        hasCpuClock_ = pthread_getcpuclockid(thread_.native_handle(), &cpuClock_) == 0;
    }

    // From the thread that started it.
    int64_t cpuNanos() {
        if (finished_.load()) {
            return finalCpuNanos_.load();
        }
        timespec ts{};
        if (hasCpuClock_ && clock_gettime(cpuClock_, &ts) == 0) {
            lastCpuNanos_ = static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
        }
        return finished_.load() ? finalCpuNanos_.load() : lastCpuNanos_;
    }

    void stopThread() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    // InputSink, on the capture thread: copies and nothing more.
    void samples(const float* mono, std::size_t count, int sampleRate,
                 int64_t firstSampleNanos) override {
        for (std::size_t done = 0; done < count;) {
            const std::size_t n = std::min(blockSamples, count - done);
            SampleBlock* block = blocks_->writeSlot();
            if (block == nullptr) {
                // The worker fell behind by seconds: the rest is dropped (the time stamps stay
                // right) and counted as sound lost: once until the worker has caught up by half
                // the ring, so that a worker freeing a slot at a time is one loss, not hundreds.
                if (!dropping_) {
                    overflows_.fetch_add(1, std::memory_order_relaxed);
                }
                dropping_ = true;
                lostNanos_.fetch_add(static_cast<int64_t>(count - done) * 1000000000LL /
                                         std::max(sampleRate, 1),
                                     std::memory_order_relaxed);
                return;
            }
            if (dropping_ && blocks_->size() < blockSlots / 2) {
                dropping_ = false;
            }
            std::copy(mono + done, mono + done + n, block->samples.begin());
            block->count = n;
            block->rate = sampleRate;
            block->firstNanos =
                firstSampleNanos + static_cast<int64_t>(done) * 1000000000LL / sampleRate;
            blocks_->commit();
            done += n;
        }
        unwoken_ += count;
        if (unwoken_ >= wakeSamples) {
            unwoken_ = 0;
            wake_.notify_one();
        }
    }

    void note(const platform::MidiNoteIn& note) override {
        if (platform::MidiNoteIn* slot = notes_.writeSlot()) {
            *slot = note;
            notes_.commit();
        }
        wake_.notify_one();
    }

    // On the event thread: one push, no wake (the worker takes it with the next block).
    void ownClick(int64_t nanos, bool accent, int expectedMidi) {
        if (Click* slot = clicks_.writeSlot()) {
            *slot = {nanos, accent, expectedMidi};
            clicks_.commit();
        }
    }

    void failed(const platform::InputError& error) override {
        {
            const std::lock_guard lock(mutex_);
            if (!failure_) {
                failure_ = error;
            }
        }
        wake_.notify_one();
    }

    void ended() override {
        ended_ = true;
        wake_.notify_one();
    }

    // On the capture thread: counted, and told to the window by the worker.
    void overflowed(int64_t lostFrames, int sampleRate) override {
        overflows_.fetch_add(1, std::memory_order_relaxed);
        if (sampleRate > 0 && lostFrames > 0) {
            lostNanos_.fetch_add(lostFrames * 1000000000LL / sampleRate, std::memory_order_relaxed);
        }
    }

private:
    // The level and the tuner's pitch, at most every levelIntervalMs.
    void levelIfDue(int64_t now) {
        if (detector_ && now >= nextLevel_) {
            nextLevel_ = now + int64_t{levelIntervalMs} * 1000000;
            postLevel(detector_->levelDb(), detector_->currentMidi(), detector_->currentCents());
        }
    }

    void run() {
        int64_t lastAudio = platform::monotonicNanos();
        nextLevel_ = lastAudio;
        int64_t nextPresence = lastAudio + presenceIntervalNanos;
        int64_t nextOverflow = lastAudio;
        bool endSent = false;
        for (;;) {
            std::optional<platform::InputError> failure;
            {
                std::unique_lock lock(mutex_);
                wake_.wait_for(lock, idleWait, [this] {
                    return stopping_ || failure_ || ended_ || !blocks_->empty() || !notes_.empty();
                });
                if (stopping_) {
                    return;
                }
                failure = failure_;
            }
            if (drainBlocks()) {
                lastAudio = platform::monotonicNanos();
            }
            drainNotes();
            if (failure) {
                fail(failure->text);
                return;
            }
            if (ended_ && !endSent) {
                endSent = true;
                owner_->post(generation_, [owner = owner_] { emit owner->inputEnded(); });
            }
            const int64_t now = platform::monotonicNanos();
            levelIfDue(now);
            if (now >= nextOverflow) {
                nextOverflow = now + int64_t{levelIntervalMs} * 1000000;
                postOverflows();
            }
            if (stallNanos_ > 0 && !ended_ && now - lastAudio > stallNanos_) {
                fail(platform::input_text::gone(name_));
                return;
            }
            if (now >= nextPresence) {
                nextPresence = now + presenceIntervalNanos;
                if (!source_->present()) {
                    fail(platform::input_text::gone(name_));
                    return;
                }
            }
        }
    }

    // Runs the detector over every block that came in; true when there was any.
    bool drainBlocks() {
        bool any = false;
        while (const SampleBlock* block = blocks_->readSlot()) {
            any = true;
            if (!detector_ || block->rate != rate_) {
                // The window and hop for the stream's rate: a 4096-sample window at 96 kHz
                // covers less than two periods of the low E string.
                detector_ = std::make_unique<NoteDetector>(DetectorParams::forRate(block->rate));
                rate_ = block->rate;
                clock_.reset();
            }
            clock_.addBlock(detector_->samplesFed(), block->firstNanos, block->rate);
            while (const Click* click = clicks_.readSlot()) {
                detector_->ownClick(clock_.sampleOf(click->nanos), click->accent,
                                    click->expectedMidi);
                clicks_.release();
            }
            const std::vector<DetectedNote> found =
                detector_->feed(block->samples.data(), block->count);
            blocks_->release();
            for (const DetectedNote& d : found) {
                const PlayedNote note{clock_.nanosOf(d.onsetSample), d.midi, d.cents, d.confidence,
                                      d.levelDb};
                owner_->post(generation_, [owner = owner_, note] { emit owner->noteHeard(note); });
            }
            // A long backlog (a slow machine catching up) still moves the meter as it goes.
            levelIfDue(platform::monotonicNanos());
        }
        return any;
    }

    void drainNotes() {
        while (const platform::MidiNoteIn* in = notes_.readSlot()) {
            const PlayedNote note{in->nanos, in->note, 0.0, 1.0, velocityDb(in->velocity)};
            notes_.release();
            owner_->post(generation_, [owner = owner_, note] { emit owner->noteHeard(note); });
            postLevel(note.levelDb, note.midi, 0.0);
        }
    }

    // The overflows so far, when there are more than were told.
    void postOverflows() {
        const int64_t times = overflows_.load(std::memory_order_relaxed);
        if (times == overflowsPosted_) {
            return;
        }
        overflowsPosted_ = times;
        const double lostMs = static_cast<double>(lostNanos_.load(std::memory_order_relaxed)) / 1e6;
        owner_->post(generation_, [owner = owner_, times, lostMs] {
            emit owner->inputOverflow(
                static_cast<int>(std::min<int64_t>(times, std::numeric_limits<int>::max())),
                lostMs);
        });
    }

    void postLevel(double db, int midi, double cents) {
        owner_->post(generation_, [owner = owner_, db, midi, cents] {
            emit owner->levelChanged(db, midi, cents);
        });
    }

    void fail(const std::string& text) {
        owner_->failFromWorker(generation_, QString::fromStdString(text));
    }

    Listener* owner_;
    const uint64_t generation_;
    platform::InputSource* source_ = nullptr;
    int64_t stallNanos_ = 0;
    std::string name_;

    std::unique_ptr<SpscRing<SampleBlock, blockSlots>> blocks_;
    SpscRing<platform::MidiNoteIn, noteSlots> notes_;
    struct Click {
        int64_t nanos;
        bool accent;
        int expectedMidi;
    };
    SpscRing<Click, clickSlots> clicks_; // the event thread's announcements
    std::atomic<bool> ended_{false};
    std::atomic<int64_t> overflows_{0};
    std::atomic<int64_t> lostNanos_{0};
    int64_t overflowsPosted_ = 0; // the worker's
    int64_t nextLevel_ = 0;       // the worker's: when the meter is due again
    std::size_t unwoken_ = 0;     // the capture side's own: samples since it last woke the worker
    bool dropping_ = false;       // the capture side's own: dropping, the ring not yet half empty

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::optional<platform::InputError> failure_;
    std::thread thread_;
    clockid_t cpuClock_{};
    bool hasCpuClock_ = false;
    int64_t lastCpuNanos_ = 0;
    std::atomic<int64_t> finalCpuNanos_{0};
    std::atomic<bool> finished_{false};

    // The worker thread's own.
    std::unique_ptr<NoteDetector> detector_;
    int rate_ = 0;
    OnsetClock clock_;
};

// ---------------------------------------------------------------------------------------------
// Listener

Listener::Listener(std::unique_ptr<platform::InputBackend> inputs, QObject* parent)
    : QObject(parent), inputs_(inputs ? std::move(inputs) : platform::makeSystemInputs()) {
    qRegisterMetaType<listen::PlayedNote>("listen::PlayedNote");
}

Listener::~Listener() {
    stop();
}

std::vector<platform::InputChoice> Listener::choices() {
    return inputs_->choices();
}

QString Listener::overflowText(int times, double lostMs) {
    if (times <= 0) {
        return {};
    }
    QString text = QStringLiteral("Input overflow: sound lost %1 %2")
                       .arg(times)
                       .arg(times == 1 ? QStringLiteral("time") : QStringLiteral("times"));
    if (lostMs > 0.0) {
        text += QStringLiteral(", about %1 ms").arg(std::llround(lostMs));
    }
    return text;
}

bool Listener::start(const QString& inputId, int channel) {
    stop();
    const uint64_t generation = ++generation_;
    platform::InputError error;
    std::unique_ptr<platform::InputSource> source = inputs_->open(inputId.toStdString(), error);
    if (source) {
        source->setChannel(channel);
        auto worker = std::make_unique<Worker>(this, generation);
        if (source->start(*worker, error)) {
            worker->startThread(source.get());
            worker_ = std::move(worker);
            source_ = std::move(source);
            inputId_ = inputId;
            return true;
        }
    }
    const QString message = QString::fromStdString(
        error.text.empty() ? "The input \"" + inputId.toStdString() + "\" could not be started."
                           : error.text);
    post(generation, [this, message] { emit failed(message); });
    return false;
}

void Listener::stop() {
    ++generation_;
    // The worker first (it polls the source), then the source: after this no capture thread
    // touches the worker, which goes last.
    if (worker_) {
        worker_->stopThread();
    }
    if (source_) {
        source_->stop();
    }
    source_.reset();
    worker_.reset();
    inputId_.clear();
}

void Listener::ownClick(int64_t nanos, bool accent, int expectedMidi) {
    if (worker_) {
        worker_->ownClick(nanos, accent, expectedMidi);
    }
}

int64_t Listener::workerCpuNanos() const {
    return worker_ ? worker_->cpuNanos() : 0;
}

void Listener::post(uint64_t generation, std::function<void()> call) {
    QMetaObject::invokeMethod(
        this,
        [this, generation, call = std::move(call)] {
            if (generation == generation_.load()) {
                call();
            }
        },
        Qt::QueuedConnection);
}

void Listener::failFromWorker(uint64_t generation, const QString& message) {
    post(generation, [this, message] {
        stop();
        emit failed(message);
    });
}

} // namespace listen
