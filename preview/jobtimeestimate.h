#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include "preview/traveltimeplanner.h"

// How long the G-code mode's program runs on this machine: prepared once per program on a worker
// thread (and again when the machine's settings change), then asked in constant time how much is
// left after a line. The machine's rates and accelerations arrive as "$$" reports them.
class JobTimeEstimate : public QObject
{
    Q_OBJECT
public:
    explicit JobTimeEstimate(QObject *parent = nullptr);

    // Starts estimating the program; estimated() follows. An earlier estimate in progress is dropped.
    void estimate(const QStringList &program);
    bool isReady() const { return !m_remaining.isEmpty(); }
    double totalSeconds() const { return remainingSeconds(0); }
    // Seconds left once the given program line (1-based, empty lines counted; 0 before the first)
    // has run; 0 past the end or while no estimate is ready.
    double remainingSeconds(qint64 programLine) const;
    const TravelTimePlanner::Limits &limits() const { return m_limits; }

    // The work itself: seconds left after each number of lines, for 0 up to all of them.
    static QVector<float> remainingAfterLines(const QStringList &program, const TravelTimePlanner::Limits &limits);
    // "1:02:03", "2:03": hours only when there are some.
    static QString clockText(double seconds);

public Q_SLOTS:
    // A machine setting as the reader reports it, ("$110", "500.000"); only those that the timing
    // depends on are taken.
    void setMachineSetting(const QString &name, const QString &value);

Q_SIGNALS:
    void estimated();

private:
    void finishEstimate();

    TravelTimePlanner::Limits m_limits;
    QStringList m_program;
    QVector<float> m_remaining;
    QFutureWatcher<QVector<float>> m_watcher;
    // "$$" reports every setting at once: the program is estimated again once, after the last.
    QTimer m_settingsChanged;
};
