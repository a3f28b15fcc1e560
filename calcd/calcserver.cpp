#include "calcd/calcserver.h"

#include "calcd/calcconnection.h"
#include "calcd/calcworker.h"

#include <QTcpSocket>

#include <sys/socket.h>

CalcServer::CalcServer(const CalcOptions &options, const QString &workerProgram, QObject *parent)
    : QObject(parent), options(options), workerProgram(workerProgram)
{
    server.setMaxPendingConnections(options.maxConnections);
    connect(&server, &QTcpServer::newConnection, this, &CalcServer::acceptConnections);
}

bool CalcServer::listen(QString *error)
{
    if (server.listen(options.listenAddress, options.port)) {
        // QTcpServer queues at most 50 clients that have not been taken yet; in a burst the rest
        // would wait for TCP's retries, seconds apart. Listening again widens the queue.
        ::listen(static_cast<int>(server.socketDescriptor()), SOMAXCONN);
        return true;
    }
    *error = server.errorString();
    return false;
}

void CalcServer::acceptConnections()
{
    while (openConnections < options.maxConnections && server.hasPendingConnections()) {
        auto *connection = new CalcConnection(server.nextPendingConnection(), options.maxRequestBytes,
                                              options.idleTimeoutMs, this);
        ++openConnections;
        connect(connection, &CalcConnection::requestReady, this, &CalcServer::enqueue);
        connect(connection, &QObject::destroyed, this, &CalcServer::connectionClosed);
    }
    // Further clients wait in the listen backlog until a connection closes.
    if (openConnections >= options.maxConnections)
        server.pauseAccepting();
}

void CalcServer::connectionClosed()
{
    --openConnections;
    server.resumeAccepting();
    acceptConnections();
}

void CalcServer::enqueue(CalcConnection *connection, const QByteArray &request)
{
    pending.enqueue({connection, request});
    startWorkers();
}

void CalcServer::startWorkers()
{
    while (runningWorkers < options.jobs && !pending.isEmpty()) {
        const Pending next = pending.dequeue();
        if (!next.connection)
            continue;
        auto *worker = new CalcWorker(workerProgram, options.workerArguments(), options.timeLimitMs, this);
        ++runningWorkers;
        connect(worker, &CalcWorker::finished, this, [this, connection = next.connection](const QByteArray &answer) {
            --runningWorkers;
            if (connection)
                connection->answer(answer);
            startWorkers();
        });
        worker->start(next.request);
    }
}
