#include "calcd/calcconnection.h"

#include "calcd/calcrequest.h"

#include <QTcpSocket>

#include <algorithm>

CalcConnection::CalcConnection(QTcpSocket *socket, qint64 maxRequestBytes, int idleTimeoutMs, QObject *parent)
    : QObject(parent), socket(socket), maxRequestBytes(maxRequestBytes)
{
    socket->setParent(this);
    idleTimer.setSingleShot(true);
    idleTimer.setInterval(idleTimeoutMs);
    connect(&idleTimer, &QTimer::timeout, socket, &QTcpSocket::abort);
    connect(socket, &QTcpSocket::readyRead, this, &CalcConnection::readRequest);
    connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    idleTimer.start();
    if (socket->bytesAvailable() > 0)
        readRequest();
}

void CalcConnection::readRequest()
{
    if (complete) {
        socket->readAll();
        return;
    }
    idleTimer.start();
    // QIODevice::read(n) reserves n bytes up front: ask only for what has arrived.
    received += socket->read(std::min(socket->bytesAvailable(), maxRequestBytes + 1 - received.size()));
    if (received.size() > maxRequestBytes) {
        socket->abort();
        return;
    }
    CalcRequest request;
    switch (request.parse(received)) {
    case CalcRequest::State::Incomplete:
        return;
    case CalcRequest::State::Malformed:
        answer(QByteArray());
        return;
    case CalcRequest::State::Complete:
        complete = true;
        idleTimer.stop();
        emit requestReady(this, received);
        received.clear();
        return;
    }
}

void CalcConnection::answer(const QByteArray &text)
{
    complete = true;
    idleTimer.stop();
    socket->write(text);
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        deleteLater();
}
