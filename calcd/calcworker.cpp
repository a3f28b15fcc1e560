#include "calcd/calcworker.h"

#include <QTextStream>

CalcWorker::CalcWorker(const QString &program, const QStringList &arguments, int timeLimitMs, QObject *parent)
    : QObject(parent), program(program), arguments(arguments)
{
    limit.setSingleShot(true);
    limit.setInterval(timeLimitMs);
    // What the calculation reports (and what gerbv says of a file) goes to the server's log.
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&limit, &QTimer::timeout, &process, &QProcess::kill);
    connect(&process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this](int exitCode, QProcess::ExitStatus status) {
                const bool ok = status == QProcess::NormalExit && exitCode == 0;
                if (!ok)
                    QTextStream(stderr) << "korvex-calcd: a calculation "
                                        << (limit.isActive() ? "ended abnormally" : "ran past the time limit")
                                        << "; answered empty\n";
                finish(ok ? process.readAllStandardOutput() : QByteArray());
            });
    connect(&process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish(QByteArray());
    });
}

void CalcWorker::start(const QByteArray &request)
{
    limit.start();
    process.start(program, arguments);
    process.write(request);
    process.closeWriteChannel();
}

void CalcWorker::finish(const QByteArray &answer)
{
    if (done)
        return;
    done = true;
    limit.stop();
    emit finished(answer);
    deleteLater();
}
