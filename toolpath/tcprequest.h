#pragma once

#include <QString>

// One calculation request waiting in the client's queue: the complete text and the job part it belongs to.
class TcpRequest
{
public:
    TcpRequest(qint32 kind, const QString &text)
        : m_kind(kind)
        , m_text(text)
    {
    }

    qint32 kind() const { return m_kind; }
    QString text() const { return m_text; }

private:
    qint32 m_kind;
    QString m_text;
};
