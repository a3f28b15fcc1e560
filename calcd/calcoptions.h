#ifndef CALCOPTIONS_H
#define CALCOPTIONS_H

#include <QHostAddress>
#include <QStringList>

// Everything the command line can change, for the server and for the calculations.
struct CalcOptions
{
    enum class Outcome { Run, RunWorker, ShowHelp, Invalid };

    QHostAddress listenAddress{QHostAddress::LocalHost};
    quint16 port = 2223;
    int jobs = 2;
    int maxConnections = 256;
    int idleTimeoutMs = 30000;
    int timeLimitMs = 120000;
    qint64 maxRequestBytes = 64 * 1024 * 1024;

    // A 30 degree V-bit with a 0.1 mm tip cutting 0.1 mm deep cuts 0.1 + 2 * 0.1 * tan(15 deg) wide.
    double engraveWidth = 0.1536;
    double engraveDepth = 0.1;
    // Copper cleared beside each piece; wider than the tool takes more passes. 0: one pass.
    double isolationWidth = 0;
    int tabs = 3;
    bool exitWithParent = false;

    Outcome parse(const QStringList &arguments, QString *message);
    // The options a worker process needs to calculate exactly as this server was asked to.
    QStringList workerArguments() const;
};

#endif
