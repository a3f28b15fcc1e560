#pragma once

#include "tools/calcsim/calcsimrule.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QStringList>

class QTcpServer;

// A stand-in for the calculation server, for tests only: one request per connection, an answer,
// then the connection is closed. Answers come from scripted rules (used one per connection, in order),
// else from a file per request kind in the answer directory, else the default answer.
class CalcSimServer : public QObject
{
    Q_OBJECT
public:
    explicit CalcSimServer(QObject *parent = nullptr);

    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    void close();
    quint16 serverPort() const;

    void pushRule(const CalcSimRule &rule);
    void setDefaultAnswer(const QByteArray &answer) { m_defaultAnswer = answer; }
    void setAnswerDirectory(const QString &directory) { m_answerDirectory = directory; }

    QStringList requests() const { return m_requests; }
    int connectionCount() const { return m_connections; }

    // "PCB-Layout", "PCB-Drill", ..., "STL", "DXF": the name of the answer file for a request.
    static QString requestKey(const QString &request);

Q_SIGNALS:
    void requestReceived(const QString &request);

private:
    void acceptConnections();
    CalcSimRule nextRule();
    void recordRequest(const QString &request);
    QByteArray fileAnswer(const QString &request) const;

    QTcpServer *m_server;
    QList<CalcSimRule> m_rules;
    QByteArray m_defaultAnswer;
    QString m_answerDirectory;
    QStringList m_requests;
    int m_connections = 0;
};
