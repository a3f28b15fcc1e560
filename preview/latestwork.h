#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QThreadPool>
#include <QtConcurrent>

#include <atomic>
#include <memory>

// Work on a thread of its own whose result is handed over on the owner's thread, the window staying
// responsive meanwhile. Only the latest start counts: starting again, cancelling or going away tells
// the work still running to give up (it reads its flag now and then) and drops what it returns.
// The thread is not one of Qt's global pool, so the short tasks the modes run there and wait for
// never queue behind the seconds a program of millions of lines takes.
template<typename Result>
class LatestWork
{
public:
    using Cancelled = std::atomic<bool>;

    explicit LatestWork(QObject *owner)
        : m_owner(owner)
    {
        // A superseded work gives up within a line, so the latest one hardly waits for the thread.
        m_thread.setMaxThreadCount(1);
    }
    ~LatestWork() { cancel(); }
    LatestWork(const LatestWork &) = delete;
    LatestWork &operator=(const LatestWork &) = delete;

    // `work(const Cancelled &)` runs on the work's thread, `done(Result)` afterwards on the owner's.
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
        watcher->setFuture(QtConcurrent::run(&m_thread, [work = std::move(work), cancelled]() mutable {
            // What the work holds (a program of millions of lines) goes as it ends, not later with
            // the pool's task.
            const Work once = std::move(work);
            return once(*cancelled);
        }));
    }

    void cancel()
    {
        if (m_cancelled)
            m_cancelled->store(true, std::memory_order_relaxed);
        m_cancelled.reset();
    }

private:
    QObject *m_owner;
    // Waits, once cancelled, for the work still running when this goes.
    QThreadPool m_thread;
    // The flag of the work that counts; null when none runs.
    std::shared_ptr<Cancelled> m_cancelled;
};
