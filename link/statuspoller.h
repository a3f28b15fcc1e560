#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class SerialPort;
struct MachineStatus;

// Asks GRBL for its status about five times a second while something happens: lines are waiting for
// their answers, or the last report showed the machine moving or held. Idle and still, it stops asking
// until the next line is queued. GRBL's own guidance is no more than 5-10 reports a second; the status
// requests are real-time bytes and take no room in its buffer.
class StatusPoller : public QObject
{
    Q_OBJECT
public:
    static constexpr int IntervalMs = 200;
    // A report that does not come within this time (GRBL merges close requests, and it is deaf while
    // it writes its EEPROM) lets the next request go anyway.
    static constexpr int AnswerTimeoutMs = 1000;

    explicit StatusPoller(SerialPort *connection);

public Q_SLOTS:
    // Something may move now: poll until the machine is idle and still again.
    void wake();
    void reportArrived(const MachineStatus &status);

private:
    void poll();
    bool isBusy() const;

    SerialPort *m_connection;
    QTimer m_timer;
    QElapsedTimer m_sinceRequest;
    bool m_awaitingReport = false;
    bool m_machineStill = true;
};
