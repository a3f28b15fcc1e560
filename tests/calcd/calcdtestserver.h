#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// The real korvex-calcd program started on a free local port for one test.
class CalcdTestServer
{
public:
    explicit CalcdTestServer(const QStringList &extraArguments = {});
    ~CalcdTestServer();
    bool isRunning() const { return process.state() == QProcess::Running && ready; }
    quint16 port() const { return listenPort; }
    // Everything the server has written to its log (its error channel) so far.
    QString log() const;

    // Sends a request on a new connection and returns everything up to the server's close.
    QByteArray ask(const QByteArray &request, int timeoutMs = 60000) const;

    // A request of the program's form: the header lines, the text's length in UTF-16 units, the text.
    static QByteArray pcbRequest(const QString &part, double value, const QString &text);
    static QByteArray stlRequest(const QString &text, double diameter, double depth, double feed, double perPass);
    static QByteArray dxfRequest(const QString &text, double feed, double perPass, double depth, double speed);
    // An STL file sent as its raw bytes (a binary file has no text form).
    static QByteArray rawStlRequest(const QByteArray &bytes, double diameter, double depth, double feed, double perPass);
    // A design file as the program sends it: read line by line, each line followed by "\n".
    static QString fileText(const QString &path);
    static QByteArray fileBytes(const QString &path);

private:
    QTemporaryDir logDir;
    QProcess process;
    quint16 listenPort = 0;
    bool ready = false;
};
