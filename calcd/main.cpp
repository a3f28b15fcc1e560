#include "calcd/calcoptions.h"
#include "calcd/calcserver.h"
#include "calcd/calculator.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

namespace {

// Worker mode: one request on stdin, its answer on stdout.
int calculateOne(const CalcOptions &options)
{
    QFile input;
    QFile output;
    if (!input.open(stdin, QIODevice::ReadOnly) || !output.open(stdout, QIODevice::WriteOnly))
        return 1;
    const QByteArray answer = Calculator(options).answer(input.readAll());
    return output.write(answer) == answer.size() && output.flush() ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("korvex-calcd"));
    CalcOptions options;
    QString message;
    QTextStream err(stderr);
    switch (options.parse(QCoreApplication::arguments(), &message)) {
    case CalcOptions::Outcome::ShowHelp:
        QTextStream(stdout) << message;
        return 0;
    case CalcOptions::Outcome::Invalid:
        err << message << '\n';
        return 2;
    case CalcOptions::Outcome::RunWorker:
        return calculateOne(options);
    case CalcOptions::Outcome::Run:
        break;
    }
    // Each calculation runs in a child process of this same program (see CalcWorker).
    CalcServer server(options, QCoreApplication::applicationFilePath());
    if (!server.listen(&message)) {
        err << "korvex-calcd: cannot listen on " << options.listenAddress.toString() << ':' << options.port
            << ": " << message << '\n';
        return 1;
    }
    return app.exec();
}
