#include "tools/calcsim/calcsimconnection.h"

#include <QStringList>
#include <QTcpSocket>
#include <QTimer>

CalcSimConnection::CalcSimConnection(QTcpSocket *socket, const CalcSimRule &rule, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_rule(rule)
{
    socket->setParent(this);
    connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    if (rule.action == CalcSimRule::Action::Refuse) {
        socket->abort();
        deleteLater();
        return;
    }
    connect(socket, &QTcpSocket::readyRead, this, &CalcSimConnection::readRequest);
    readRequest();
}

int CalcSimConnection::expectedLength(const QString &request)
{
    // PCB requests carry the file length on their fourth line, STL and DXF on their second;
    // STL and DXF have seven header lines, PCB four.
    const QString kind = request.section(QLatin1Char('\n'), 0, 0);
    int headerLines = 0;
    int lengthLine = 0;
    if (kind == QLatin1String("PCB")) {
        headerLines = 4;
        lengthLine = 3;
    } else if (kind == QLatin1String("STL") || kind == QLatin1String("DXF")) {
        headerLines = 7;
        lengthLine = 1;
    } else {
        return request.contains(QLatin1Char('\n')) ? request.size() : -1;
    }
    const QStringList lines = request.split(QLatin1Char('\n'));
    if (lines.size() <= headerLines)
        return -1;
    bool ok = false;
    const int fileLength = lines.at(lengthLine).toInt(&ok);
    if (!ok)
        return request.size();
    int headerLength = 0;
    for (int i = 0; i < headerLines; ++i)
        headerLength += lines.at(i).size() + 1;
    return headerLength + fileLength;
}

void CalcSimConnection::readRequest()
{
    if (m_answering)
        return;
    m_received += m_socket->readAll();
    const QString request = QString::fromUtf8(m_received);
    const int expected = expectedLength(request);
    if (expected < 0 || request.size() < expected)
        return;
    m_answering = true;
    Q_EMIT requestComplete(request);
    const int delay = m_rule.action == CalcSimRule::Action::Slow ? m_rule.delayMs : 0;
    QTimer::singleShot(delay, this, &CalcSimConnection::answer);
}

void CalcSimConnection::answer()
{
    switch (m_rule.action) {
    case CalcSimRule::Action::Chunked:
        writeNextChunk();
        return;
    case CalcSimRule::Action::Empty:
        break;
    default:
        m_socket->write(m_rule.answer);
        break;
    }
    finish();
}

void CalcSimConnection::writeNextChunk()
{
    const int chunks = qMax(1, m_rule.chunks);
    const int size = m_rule.answer.size();
    const int begin = size * m_chunkIndex / chunks;
    const int end = size * (m_chunkIndex + 1) / chunks;
    m_socket->write(m_rule.answer.mid(begin, end - begin));
    m_socket->flush();
    if (++m_chunkIndex < chunks)
        QTimer::singleShot(m_rule.delayMs, this, &CalcSimConnection::writeNextChunk);
    else
        finish();
}

void CalcSimConnection::finish()
{
    m_socket->disconnectFromHost();
}
