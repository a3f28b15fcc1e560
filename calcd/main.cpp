#include "calcd/calcoptions.h"
#include "calcd/calcserver.h"
#include "calcd/calculator.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// Worker mode: one request on stdin, its answer on stdout.
int calculateOne(const CalcOptions &options)
{
    QFile input;
    QFile output;
    if (!input.open(stdin, QIODevice::ReadOnly) || !output.open(stdout, QIODevice::WriteOnly))
        return 1;
    QString problem;
    const QByteArray answer = Calculator(options).answer(input.readAll(), &problem);
    // The worker's error channel is the server's log.
    if (!problem.isEmpty())
        QTextStream(stderr) << "korvex-calcd: " << problem << '\n';
    return output.write(answer) == answer.size() && output.flush() ? 0 : 1;
}

// A server started by a supervisor or a test must not outlive it, even when that process is killed.
bool followParent()
{
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    return getppid() != 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("korvex-calcd"));
    CalcOptions options;
    QString message;
    QTextStream err(stderr);
    const CalcOptions::Outcome outcome = options.parse(QCoreApplication::arguments(), &message);
    if (outcome == CalcOptions::Outcome::ShowHelp) {
        QTextStream(stdout) << message;
        return 0;
    }
    if (outcome == CalcOptions::Outcome::Invalid) {
        err << message << '\n';
        return 2;
    }
    if (options.exitWithParent && !followParent())
        return 0;
    if (outcome == CalcOptions::Outcome::RunWorker)
        return calculateOne(options);
    // Each calculation runs in a child process of this same program (see CalcWorker).
    CalcServer server(options, QCoreApplication::applicationFilePath());
    if (!server.listen(&message)) {
        err << "korvex-calcd: cannot listen on " << options.listenAddress.toString() << ':' << options.port
            << ": " << message << '\n';
        return 1;
    }
    return app.exec();
}
