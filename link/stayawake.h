#pragma once

#include <QObject>

class QDBusPendingCallWatcher;

// Keeps the computer from sleeping while the machine is being fed, through logind's inhibitor lock.
// The lock is the file descriptor logind hands out; closing it withdraws the request. Without a
// system bus or logind this silently does nothing.
class StayAwake : public QObject
{
    Q_OBJECT
public:
    explicit StayAwake(QObject *parent = nullptr);
    ~StayAwake() override;

    bool isHeld() const { return m_fd >= 0; }

public Q_SLOTS:
    void setAwake(bool awake);

private:
    void requestLock();
    void lockAnswered(QDBusPendingCallWatcher *call);
    void closeLock();

    bool m_wanted = false;
    bool m_requestPending = false;
    int m_fd = -1;
};
