#include "tools/calcsim/calcsimserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

// Test double of the calculation server: answers every request with a canned file, never a computation.
int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Stand-in calculation server for tests. Answers each request with <dir>/<kind>.nc "
        "(PCB-Layout, PCB-BotLayout, PCB-Drill, PCB-Outline, STL, DXF), or with nothing."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("TCP port on 127.0.0.1."),
                                        QStringLiteral("port"), QStringLiteral("2223"));
    const QCommandLineOption answersOption(QStringLiteral("answers"), QStringLiteral("Directory of answer files."),
                                           QStringLiteral("dir"));
    parser.addOption(portOption);
    parser.addOption(answersOption);
    parser.process(application);

    CalcSimServer server;
    server.setAnswerDirectory(parser.value(answersOption));
    QTextStream out(stdout);
    QObject::connect(&server, &CalcSimServer::requestReceived, [&out](const QString &request) {
        out << "request " << CalcSimServer::requestKey(request) << ", " << request.size() << " characters\n";
        out.flush();
    });
    if (!server.listen(QHostAddress::LocalHost, parser.value(portOption).toUShort())) {
        QTextStream(stderr) << "calcsim: cannot listen on port " << parser.value(portOption) << "\n";
        return 1;
    }
    return application.exec();
}
