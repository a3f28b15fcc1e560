#include "calcdtestserver.h"

#include "modes/filereaderasync.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QString number(double value)
{
    return QString::number(value, 'g', 6);
}

} // namespace

CalcdTestServer::CalcdTestServer(const QStringList &extraArguments)
{
    listenPort = freePort();
    process.setStandardErrorFile(logDir.filePath(QStringLiteral("calcd.log")));
    // In the sanitizer build the server records where each of its many small polygon allocations
    // came from. The frame-pointer unwinder does that four times faster than the slow one the test
    // run asks for, and a leak's stack still reaches the library that the suppressions name.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString leakOptions = environment.value(QStringLiteral("LSAN_OPTIONS"));
    if (!leakOptions.isEmpty())
        environment.insert(QStringLiteral("LSAN_OPTIONS"), leakOptions + QStringLiteral(":fast_unwind_on_malloc=1"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(CALCD_PROGRAM), QStringList{QStringLiteral("--exit-with-parent"), QStringLiteral("--port"), QString::number(listenPort)} + extraArguments);
    if (!process.waitForStarted(5000))
        return;
    // Ready once a connection is accepted.
    for (int attempt = 0; attempt < 100 && !ready; ++attempt) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, listenPort);
        ready = socket.waitForConnected(100);
        if (!ready)
            QThread::msleep(20);
    }
}

CalcdTestServer::~CalcdTestServer()
{
    process.kill();
    process.waitForFinished(5000);
}

QString CalcdTestServer::log() const
{
    return QString::fromUtf8(fileBytes(logDir.filePath(QStringLiteral("calcd.log"))));
}

QByteArray CalcdTestServer::ask(const QByteArray &request, int timeoutMs) const
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, listenPort);
    if (!socket.waitForConnected(5000))
        return QByteArray("<no connection>");
    socket.write(request);
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(timeoutMs))
        answer += socket.readAll();
    answer += socket.readAll();
    return answer;
}

QByteArray CalcdTestServer::pcbRequest(const QString &part, double value, const QString &text)
{
    return QStringLiteral("PCB\n%1\n%2\n%3\n%4").arg(number(value), part).arg(text.size()).arg(text).toUtf8();
}

QByteArray CalcdTestServer::stlRequest(const QString &text, double diameter, double depth, double feed, double perPass)
{
    return QStringLiteral("STL\n%1\n%2\n%3\n%4\n%5\n0\n%6")
        .arg(text.size())
        .arg(number(diameter), number(depth), number(feed), number(perPass), text)
        .toUtf8();
}

QByteArray CalcdTestServer::rawStlRequest(const QByteArray &bytes, double diameter, double depth, double feed, double perPass)
{
    return QStringLiteral("STL\n%1\n%2\n%3\n%4\n%5\n0\n")
               .arg(bytes.size())
               .arg(number(diameter), number(depth), number(feed), number(perPass))
               .toUtf8()
           + bytes;
}

QByteArray CalcdTestServer::dxfRequest(const QString &text, double feed, double perPass, double depth, double speed)
{
    return QStringLiteral("DXF\n%1\n%2\n0\n%3\n%4\n%5\n%6")
        .arg(text.size())
        .arg(number(feed), number(perPass), number(depth), number(speed), text)
        .toUtf8();
}

QString CalcdTestServer::fileText(const QString &path)
{
    QString text;
    FileReaderAsync::readText(path, &text);
    return text;
}

QByteArray CalcdTestServer::fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
