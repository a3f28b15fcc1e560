#pragma once

#include <QPointer>
#include <QVector3D>

#include <functional>

#include "link/serialmessage.h"

// A probing move (G38.2). The controller's "[PRB:x,y,z:state]" line gives the contact height, which
// is written into the producer's position record. The last probe of a scan reports the scan as done.
class ProbeMessage : public SerialMessage
{
    Q_OBJECT
public:
    // The record belongs to the producer and must outlive the message's answer.
    explicit ProbeMessage(QVector3D *position);

    // Called once from the PCB mode's constructor; the mode needs the slot scanComplete(QString).
    template<class Mode>
    static void registerPcbMode(Mode *mode)
    {
        const QPointer<Mode> guard(mode);
        rememberScanReceiver([guard](ProbeMessage *message) {
            if (guard)
                connect(message, &ProbeMessage::scanFinished, guard.data(), &Mode::scanComplete, Qt::QueuedConnection);
        });
    }

    void setProbeType(const QString &type) { m_probeType = type; }
    QString probeType() const { return m_probeType; }
    bool isDone() const { return m_done; }

    bool handleResponse(QString line) override;

Q_SIGNALS:
    void scanFinished(QString p_type);

private:
    static void rememberScanReceiver(std::function<void(ProbeMessage *)> connectScanFinished);

    QVector3D *m_position;
    bool m_done = false;
    QString m_probeType;
};
