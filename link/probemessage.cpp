#include "link/probemessage.h"

namespace {
std::function<void(ProbeMessage *)> &connectScanReceiver()
{
    static std::function<void(ProbeMessage *)> connectScanFinished;
    return connectScanFinished;
}
}

ProbeMessage::ProbeMessage(QVector3D *position)
    : m_position(position)
{
    setKind(Probe);
}

void ProbeMessage::rememberScanReceiver(std::function<void(ProbeMessage *)> connectScanFinished)
{
    connectScanReceiver() = std::move(connectScanFinished);
}

bool ProbeMessage::handleResponse(QString line)
{
    if (m_done)
        return true;
    const QStringList fields = line.split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (fields.size() < 3)
        return true;
    const QStringList zAndState = fields.at(2).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    bool readable = false;
    const float z = zAndState.value(0).toFloat(&readable);
    // A garbled height must never become a surface height: the cutter would follow it into the board.
    if (!readable)
        return true;
    m_position->setZ(z);
    m_done = true;
    if (isLast()) {
        if (connectScanReceiver())
            connectScanReceiver()(this);
        Q_EMIT scanFinished(m_probeType);
    }
    return true;
}
