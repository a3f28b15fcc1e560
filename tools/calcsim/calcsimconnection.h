#pragma once

#include "tools/calcsim/calcsimrule.h"

#include <QObject>
#include <QString>

class QTcpSocket;

// One request on one connection: collects the request until it is complete, then answers by its rule.
class CalcSimConnection : public QObject
{
    Q_OBJECT
public:
    CalcSimConnection(QTcpSocket *socket, const CalcSimRule &rule, QObject *parent = nullptr);

    // Number of characters the request should hold in all, or -1 while its header is incomplete.
    static int expectedLength(const QString &request);

    bool answersFromFile() const { return m_rule.answerFromFile; }
    void setAnswer(const QByteArray &answer) { m_rule.answer = answer; }

Q_SIGNALS:
    void requestComplete(const QString &request);

private:
    void readRequest();
    void answer();
    void writeNextChunk();
    void finish();

    QTcpSocket *m_socket;
    CalcSimRule m_rule;
    QByteArray m_received;
    bool m_answering = false;
    int m_chunkIndex = 0;
};
