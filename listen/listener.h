// The listener: owns the chosen input and a worker thread that runs the note detector on what the
// input captures.  The capture thread hands blocks to the worker through a lock-free ring; the
// worker sends what it finds to the event thread as queued calls, where the signals are emitted.
//
//   Listener listener;                         // the system inputs
//   listener.choices();                        // every input, each with an id to save
//   listener.start(id);                        // false: failed() follows from the event loop
//   listener.stop();
//
// Every signal is emitted on the thread the listener lives in (the event thread).
#pragma once

#include "layers/listen.h"

#include "listen/played_note.h"
#include "platform/audio_input.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace listen {

// Maps sample positions of the stream to the monotonic clock from the time stamps of the blocks
// they came in.
class OnsetClock {
public:
    void reset();
    // A block that starts at stream position firstSample and was heard at firstNanos.
    void addBlock(int64_t firstSample, int64_t firstNanos, int sampleRate);
    // The time of a sample: from the latest block that starts at or before it (the oldest block
    // kept when it lies before all of them); 0 when no block was added.
    int64_t nanosOf(int64_t sample) const;
    // The stream position of a time: from the latest block that starts at or before it (the
    // oldest block kept when it lies before all of them), ahead of the last block at its rate;
    // -1 when no block was added.
    int64_t sampleOf(int64_t nanos) const;

private:
    struct Anchor {
        int64_t sample;
        int64_t nanos;
        int rate;
    };
    // A few seconds of blocks: the detector reports an onset well within its window.
    static constexpr std::size_t keep = 1024;
    std::deque<Anchor> anchors_;
};

class Listener : public QObject {
    Q_OBJECT

public:
    // The level and the tuner are sent this often (20 times a second).
    static constexpr int levelIntervalMs = 50;

    explicit Listener(std::unique_ptr<platform::InputBackend> inputs = nullptr,
                      QObject* parent = nullptr);
    ~Listener() override;
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Every input there is now.
    std::vector<platform::InputChoice> choices();
    // Opens and starts the input of that id (stopping the one before).  False when it could not
    // be started: failed() then follows from the event loop and listening stays off.
    // channel: the input channel of a sound card, counted from 0 (clamped to those it has).
    bool start(const QString& inputId, int channel = 0);
    // Stops listening; no signal of the stopped input follows.  Safe to call at any time.
    void stop();
    bool listening() const { return source_ != nullptr; }
    QString inputId() const { return inputId_; }
    // CPU time the worker thread has used since this input started, in nanoseconds (the last
    // figure read when its thread has ended; 0 when not listening).
    int64_t workerCpuNanos() const;
    platform::InputBackend& inputs() { return *inputs_; }
    // "Input overflow: sound lost 3 times, about 40 ms" ("" for none).
    static QString overflowText(int times, double lostMs);
    // The program sounds its own metronome click at about this time on the monotonic clock (the
    // send time plus the calibrated latency): the detector leaves it out of the notes it
    // decides.  accent: the bar's first click, the bass drum; expectedMidi: the note its beat
    // asks for (0: none).  Non-blocking, for the event thread; nothing when not listening.
    void ownClick(int64_t nanos, bool accent = false, int expectedMidi = 0);

signals:
    void noteHeard(listen::PlayedNote note);
    // The input level in dBFS, and the note heard now (midi 0 when none) with its cents.
    void levelChanged(double dB, int midi, double cents);
    // The input failed; listening is off.
    void failed(QString message);
    // A file input came to its end (listening stays on, hearing nothing).
    void inputEnded();
    // The input lost sound (an overflow, or the detector fell seconds behind): `times` so far
    // since this input started, about lostMs of sound in all.  At most 20 times a second.
    void inputOverflow(int times, double lostMs);

private:
    class Worker;

    void post(uint64_t generation, std::function<void()> call);
    void failFromWorker(uint64_t generation, const QString& message);

    std::unique_ptr<platform::InputBackend> inputs_;
    std::unique_ptr<Worker> worker_;
    std::unique_ptr<platform::InputSource> source_;
    QString inputId_;
    // Raised at every start and stop; calls queued for an older generation are dropped.
    std::atomic<uint64_t> generation_{0};
};

} // namespace listen

Q_DECLARE_METATYPE(listen::PlayedNote)
