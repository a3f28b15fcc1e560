#ifndef CALCCONNECTION_H
#define CALCCONNECTION_H

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QTcpSocket;

// One client connection: collects one request, hands it on once complete, writes the answer
// and closes. Owns its socket; deletes itself when the connection ends.
class CalcConnection : public QObject
{
    Q_OBJECT
public:
    CalcConnection(QTcpSocket *socket, qint64 maxRequestBytes, int idleTimeoutMs, QObject *parent);

public slots:
    void answer(const QByteArray &text);

signals:
    void requestReady(CalcConnection *connection, const QByteArray &request);

private slots:
    void readRequest();

private:
    QTcpSocket *socket;
    QTimer idleTimer;
    QByteArray received;
    qint64 maxRequestBytes;
    bool complete = false;
};

#endif
