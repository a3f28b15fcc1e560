#pragma once

#include <QObject>
#include <QTimer>
#include <QVector>

#include <atomic>
#include <memory>

#include "preview/latestwork.h"
#include "preview/traveltimeplanner.h"

class GcodeProgram;

// How long the G-code mode's program runs on this machine: prepared once per program on a worker
// thread (and again when the machine's settings change), then asked in constant time how much is
// left after a line. The machine's rates and accelerations arrive as "$$" reports them.
class JobTimeEstimate : public QObject
{
    Q_OBJECT
public:
    explicit JobTimeEstimate(QObject *parent = nullptr);

    // Starts estimating the program; estimated() follows. An earlier estimate in progress is dropped.
    // The program is not kept: once its owner lets it go, changed settings estimate nothing.
    void estimate(std::shared_ptr<const GcodeProgram> program);
    // Drops the estimate and one in progress.
    void clear();
    bool isReady() const { return !m_remaining.isEmpty(); }
    double totalSeconds() const { return remainingSeconds(0); }
    // Seconds left once the given program line (1-based, empty lines counted; 0 before the first)
    // has run; 0 past the end or while no estimate is ready.
    double remainingSeconds(qint64 programLine) const;
    const TravelTimePlanner::Limits &limits() const { return m_limits; }

    // The work itself: seconds left after each number of lines, for 0 up to all of them. Gives up
    // early, with a meaningless result, once `cancelled` is set.
    static QVector<float> remainingAfterLines(const GcodeProgram &program, const TravelTimePlanner::Limits &limits,
                                              const std::atomic<bool> &cancelled);
    // "1:02:03", "2:03": hours only when there are some.
    static QString clockText(double seconds);

public Q_SLOTS:
    // A machine setting as the reader reports it, ("$110", "500.000"); only those that the timing
    // depends on are taken.
    void setMachineSetting(const QString &name, const QString &value);

Q_SIGNALS:
    void estimated();

private:
    TravelTimePlanner::Limits m_limits;
    std::weak_ptr<const GcodeProgram> m_program;
    QVector<float> m_remaining;
    LatestWork<QVector<float>> m_work{this};
    // "$$" reports every setting at once: the program is estimated again once, after the last.
    QTimer m_settingsChanged;
};
