#pragma once

#include <QByteArray>

// One calculation request waiting in the client's queue: the bytes to send and the job part it belongs to.
class TcpRequest
{
public:
    TcpRequest(qint32 kind, const QByteArray &bytes)
        : m_kind(kind)
        , m_bytes(bytes)
    {
    }

    qint32 kind() const { return m_kind; }
    QByteArray bytes() const { return m_bytes; }

private:
    qint32 m_kind;
    QByteArray m_bytes;
};
