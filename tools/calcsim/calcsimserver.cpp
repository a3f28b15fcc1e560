#include "tools/calcsim/calcsimserver.h"

#include "tools/calcsim/calcsimconnection.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>

CalcSimServer::CalcSimServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &CalcSimServer::acceptConnections);
}

bool CalcSimServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server->listen(address, port);
}

void CalcSimServer::close()
{
    m_server->close();
}

quint16 CalcSimServer::serverPort() const
{
    return m_server->serverPort();
}

void CalcSimServer::pushRule(const CalcSimRule &rule)
{
    m_rules.append(rule);
}

QString CalcSimServer::requestKey(const QString &request)
{
    const QString kind = request.section(QLatin1Char('\n'), 0, 0);
    if (kind == QLatin1String("PCB"))
        return kind + QLatin1Char('-') + request.section(QLatin1Char('\n'), 2, 2);
    return kind;
}

void CalcSimServer::acceptConnections()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        ++m_connections;
        auto *connection = new CalcSimConnection(socket, nextRule(), this);
        connect(connection, &CalcSimConnection::requestComplete, this, &CalcSimServer::recordRequest);
    }
}

CalcSimRule CalcSimServer::nextRule()
{
    if (!m_rules.isEmpty())
        return m_rules.takeFirst();
    CalcSimRule rule;
    rule.answer = m_defaultAnswer;
    rule.answerFromFile = !m_answerDirectory.isEmpty();
    return rule;
}

void CalcSimServer::recordRequest(const QString &request)
{
    m_requests.append(request);
    auto *connection = qobject_cast<CalcSimConnection *>(sender());
    if (connection && connection->answersFromFile())
        connection->setAnswer(fileAnswer(request));
    Q_EMIT requestReceived(request);
}

QByteArray CalcSimServer::fileAnswer(const QString &request) const
{
    QFile file(QDir(m_answerDirectory).filePath(requestKey(request) + QStringLiteral(".nc")));
    if (!file.open(QIODevice::ReadOnly))
        return m_defaultAnswer;
    return file.readAll();
}
