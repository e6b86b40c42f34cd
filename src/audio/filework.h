#pragma once

#include <QObject>

#include <functional>
#include <memory>

// File work (opening, scanning for the exact length, seeking) done in order on a thread of its
// own, so that the owner's thread never waits for a large file; each result is handed back to
// the owner's thread through its event loop. Work still queued when the owner goes is dropped;
// the piece in hand finishes on its own and its result is forgotten.
class FileWork {
public:
    explicit FileWork(QObject *owner);
    ~FileWork();
    FileWork(const FileWork &) = delete;
    FileWork &operator=(const FileWork &) = delete;

    // Runs `work` after the work posted before it, then `done` on the owner's thread.
    void post(std::function<void()> work, std::function<void()> done);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};
