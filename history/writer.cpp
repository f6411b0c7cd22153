#include "history/writer.h"

#include <QMetaObject>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <unordered_map>

namespace history {

struct Writer::Command {
    enum class Kind { Begin, Bar, End };
    Kind kind = Kind::Bar;
    SessionToken token = 0;
    SessionRecord session;
    std::vector<BeatRecord> beats;
    QDateTime ended;
    int tempoEnd = 0;
};

struct Writer::Shared {
    QString path;
    Options options;

    std::mutex mutex;
    std::condition_variable wake; // the worker waits here for work
    std::condition_variable done; // flush() and stop() wait here
    std::deque<Command> queue;
    uint64_t enqueued = 0;
    uint64_t finished = 0;
    bool stopping = false;
    bool exited = false;
    Writer* owner = nullptr; // null once the Writer is gone; guarded by mutex

    std::atomic<bool> on{true};
    SessionToken nextToken = 1; // the event thread's alone

    // Delivers a call on the event thread, if the Writer is still there.
    template <typename F> void post(F call) {
        std::lock_guard lock(mutex);
        if (Writer* writer = owner) {
            QMetaObject::invokeMethod(
                writer, [writer, call] { call(writer); }, Qt::QueuedConnection);
        }
    }
};

Writer::Writer(QString path, QObject* parent) : Writer(std::move(path), Options{}, parent) {}

Writer::Writer(QString path, Options options, QObject* parent)
    : QObject(parent), path_(std::move(path)), shared_(std::make_shared<Shared>()) {
    shared_->path = path_;
    shared_->options = options;
    shared_->owner = this;
    thread_ = std::thread(&Writer::run, shared_);
}

Writer::~Writer() {
    stop();
}

void Writer::run(std::shared_ptr<Shared> shared) {
    Shared& s = *shared;
    Store store(s.path);
    const auto turnOff = [&] {
        s.on = false;
        const QString message = store.failureMessage();
        store.close();
        s.post([message](Writer* w) { emit w->failed(message); });
    };
    // The file is opened at the first thing to write, so that a player who never listens
    // never gets a history file.
    bool opened = false;
    const auto open = [&] {
        opened = true;
        if (!store.open()) {
            turnOff();
            return;
        }
        if (!store.movedAside().isEmpty()) {
            const QString old = store.movedAside();
            const QString message =
                tr("The practice history was damaged. It was moved to %1 and a new one started.")
                    .arg(old);
            s.post([message, old](Writer* w) { emit w->movedAside(message, old); });
        }
        if (s.options.maxPageCount > 0) {
            store.setMaxPageCount(s.options.maxPageCount);
        }
    };

    std::unordered_map<SessionToken, int64_t> ids;
    for (;;) {
        Command command;
        {
            std::unique_lock lock(s.mutex);
            s.wake.wait(lock, [&] { return !s.queue.empty() || s.stopping; });
            if (s.queue.empty()) {
                break;
            }
            command = std::move(s.queue.front());
            s.queue.pop_front();
        }
        if (!opened) {
            open();
        }
        if (s.on) {
            bool ok = true;
            const auto id = ids.find(command.token);
            switch (command.kind) {
            case Command::Kind::Begin:
                if (const auto newId = store.beginSession(command.session)) {
                    ids[command.token] = *newId;
                } else {
                    ok = false;
                }
                break;
            case Command::Kind::Bar:
                ok = id == ids.end() || store.storeBar(id->second, command.beats);
                break;
            case Command::Kind::End:
                if (id != ids.end()) {
                    ok = store.endSession(id->second, command.ended, command.tempoEnd);
                    ids.erase(id);
                }
                break;
            }
            if (!ok) {
                turnOff();
            }
        }
        std::lock_guard lock(s.mutex);
        ++s.finished;
        s.done.notify_all();
    }
    store.close();
    std::lock_guard lock(s.mutex);
    s.exited = true;
    s.done.notify_all();
}

void Writer::enqueue(Command&& command) {
    if (!shared_->on) {
        return;
    }
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->stopping) {
            return;
        }
        shared_->queue.push_back(std::move(command));
        ++shared_->enqueued;
    }
    shared_->wake.notify_one();
}

Writer::SessionToken Writer::beginSession(const SessionRecord& session) {
    Command command;
    command.kind = Command::Kind::Begin;
    command.token = shared_->nextToken++;
    command.session = session;
    const SessionToken token = command.token;
    enqueue(std::move(command));
    return token;
}

void Writer::storeBar(SessionToken session, std::vector<BeatRecord> beats) {
    Command command;
    command.kind = Command::Kind::Bar;
    command.token = session;
    command.beats = std::move(beats);
    enqueue(std::move(command));
}

void Writer::endSession(SessionToken session, const QDateTime& ended, int tempoEnd) {
    Command command;
    command.kind = Command::Kind::End;
    command.token = session;
    command.ended = ended;
    command.tempoEnd = tempoEnd;
    enqueue(std::move(command));
}

bool Writer::flush(int timeoutMs) {
    std::unique_lock lock(shared_->mutex);
    const uint64_t target = shared_->enqueued;
    return shared_->done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return shared_->finished >= target || shared_->exited; });
}

void Writer::stop(int timeoutMs) {
    if (!thread_.joinable()) {
        return;
    }
    bool exited = false;
    {
        std::unique_lock lock(shared_->mutex);
        shared_->stopping = true;
        shared_->wake.notify_one();
        exited = shared_->done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                        [&] { return shared_->exited; });
        shared_->owner = nullptr;
    }
    if (exited) {
        thread_.join();
    } else {
        // The disk is stuck: leave the worker to finish on its own; it owns what it uses.
        thread_.detach();
    }
}

bool Writer::historyOn() const {
    return shared_->on;
}

} // namespace history
