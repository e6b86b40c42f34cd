#include "filework.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

struct FileWork::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::pair<std::function<void()>, std::function<void()>>> queue;
    QObject *owner = nullptr; // null once the owner is gone
    bool running = false;     // a thread serves the queue

    void serve()
    {
        std::unique_lock lock(mutex);
        while (owner) {
            if (queue.empty()) {
                wake.wait(lock);
                continue;
            }
            auto [work, done] = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            work();
            lock.lock();
            // Under the lock the owner can't go between this test and the posting; an event
            // still queued when it goes is discarded with it.
            if (owner)
                QMetaObject::invokeMethod(owner, std::move(done), Qt::QueuedConnection);
        }
    }
};

FileWork::FileWork(QObject *owner) : m_shared(std::make_shared<Shared>())
{
    m_shared->owner = owner;
}

FileWork::~FileWork()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->owner = nullptr;
    m_shared->queue.clear();
    m_shared->wake.notify_all();
}

void FileWork::post(std::function<void()> work, std::function<void()> done)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->queue.emplace_back(std::move(work), std::move(done));
    if (!m_shared->running) {
        // Started at the first file, so a process that plays nothing has no thread for it.
        m_shared->running = true;
        std::thread([shared = m_shared] { shared->serve(); }).detach();
    }
    m_shared->wake.notify_one();
}
