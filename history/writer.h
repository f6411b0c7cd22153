// Writes practice history on a worker thread, so that no tick ever waits for the disk.
//
// The window makes one Writer for its lifetime.  At a Start with listening on it calls
// beginSession() and keeps the token; after each bar is judged it calls storeBar() with that
// bar's beats; at the last Stop it calls endSession().  Each call copies its arguments into a
// queue under a short lock and returns.  If the history cannot be kept, failed() arrives once,
// on the event thread, with a sentence for the player, and every later call is dropped.
#pragma once

#include "layers/history.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "history/store.h"

namespace history {

class Writer : public QObject {
    Q_OBJECT
public:
    struct Options {
        int maxPageCount = 0; // test seam: see Store::setMaxPageCount (0: no limit)
    };
    using SessionToken = int64_t;

    explicit Writer(QString path, QObject* parent = nullptr);
    Writer(QString path, Options options, QObject* parent = nullptr);
    // Writes what is queued, waiting at most a few seconds.
    ~Writer() override;

    SessionToken beginSession(const SessionRecord& session);
    void storeBar(SessionToken session, std::vector<BeatRecord> beats);
    void endSession(SessionToken session, const QDateTime& ended, int tempoEnd);

    // Waits until everything queued so far has been written or given up, at most `timeoutMs`.
    // True when it was.  For tests and for closing; the window never needs it during practice.
    bool flush(int timeoutMs = 5000);
    // Writes what is queued and ends the worker, waiting at most `timeoutMs`.
    void stop(int timeoutMs = 3000);

    // False once history has failed.
    bool historyOn() const;
    const QString& path() const { return path_; }

signals:
    // History is off from now on; `message` says why, for the player.  Emitted at most once.
    void failed(const QString& message);
    // The file was damaged and has been moved to `oldPath`; a fresh history goes on.
    void movedAside(const QString& message, const QString& oldPath);

private:
    struct Command;
    struct Shared;
    static void run(std::shared_ptr<Shared> shared);
    void enqueue(Command&& command);
    QString path_;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

} // namespace history
