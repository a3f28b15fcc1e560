#ifndef CALCWORKER_H
#define CALCWORKER_H

#include <QObject>
#include <QProcess>
#include <QTimer>

// Runs one calculation in a child process (this same program started with the hidden worker
// option), so that a calculation that crashes, hangs or runs out of memory takes only itself
// down. The answer is empty whenever the child does not end normally within the time limit.
class CalcWorker : public QObject
{
    Q_OBJECT
public:
    CalcWorker(const QString &program, const QStringList &arguments, int timeLimitMs, QObject *parent);
    void start(const QByteArray &request);

signals:
    void finished(const QByteArray &answer);

private:
    void finish(const QByteArray &answer);

    QProcess process;
    QTimer limit;
    QString program;
    QStringList arguments;
    bool done = false;
};

#endif
