#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QtConcurrent>

#include <atomic>
#include <memory>

// Work on Qt's thread pool whose result is handed over on the owner's thread, the window staying
// responsive meanwhile. Only the latest start counts: starting again, cancelling or going away tells
// the work still running to give up (it reads its flag now and then) and drops what it returns.
template<typename Result>
class LatestWork
{
public:
    using Cancelled = std::atomic<bool>;

    explicit LatestWork(QObject *owner)
        : m_owner(owner)
    {
    }
    ~LatestWork() { cancel(); }
    LatestWork(const LatestWork &) = delete;
    LatestWork &operator=(const LatestWork &) = delete;

    // `work(const Cancelled &)` runs on a pool thread, `done(Result)` afterwards on the owner's.
    template<typename Work, typename Done>
    void start(Work work, Done done)
    {
        cancel();
        auto cancelled = std::make_shared<Cancelled>(false);
        m_cancelled = cancelled;
        // The watcher is the owner's child: should the owner go first, the handover goes with it.
        auto *watcher = new QFutureWatcher<Result>(m_owner);
        QObject::connect(watcher, &QFutureWatcherBase::finished, m_owner, [this, watcher, cancelled, done] {
            watcher->deleteLater();
            if (m_cancelled != cancelled)
                return;
            m_cancelled.reset();
            done(watcher->result());
        });
        watcher->setFuture(QtConcurrent::run([work, cancelled] { return work(*cancelled); }));
    }

    void cancel()
    {
        if (m_cancelled)
            m_cancelled->store(true, std::memory_order_relaxed);
        m_cancelled.reset();
    }

    bool isRunning() const { return bool(m_cancelled); }

private:
    QObject *m_owner;
    // The flag of the work that counts; null when none runs.
    std::shared_ptr<Cancelled> m_cancelled;
};
