#ifndef CALCSERVER_H
#define CALCSERVER_H

#include "calcd/calcoptions.h"

#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QTcpServer>

class CalcConnection;

// Accepts connections, keeps at most maxConnections of them open, and runs their complete
// requests through a bounded pool of worker processes in arrival order.
class CalcServer : public QObject
{
    Q_OBJECT
public:
    CalcServer(const CalcOptions &options, const QString &workerProgram, QObject *parent = nullptr);
    bool listen(QString *error);

private slots:
    void acceptConnections();

private:
    void enqueue(CalcConnection *connection, const QByteArray &request);
    void startWorkers();
    void connectionClosed();

    struct Pending
    {
        QPointer<CalcConnection> connection;
        QByteArray request;
    };

    CalcOptions options;
    QString workerProgram;
    QTcpServer server;
    QQueue<Pending> pending;
    int openConnections = 0;
    int runningWorkers = 0;
};

#endif
