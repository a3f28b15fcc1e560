#include "calcd/calcoptions.h"

#include <QCommandLineParser>

namespace {

const QString workerFlag = QStringLiteral("worker");

bool readNumber(const QCommandLineParser &parser, const QString &name, double low, double high, double *value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const double read = parser.value(name).toDouble(&ok);
    if (!ok || read < low || read > high)
        return false;
    *value = read;
    return true;
}

bool readInteger(const QCommandLineParser &parser, const QString &name, int low, int high, int *value)
{
    double read = *value;
    if (!readNumber(parser, name, low, high, &read) || read != static_cast<int>(read))
        return false;
    *value = static_cast<int>(read);
    return true;
}

} // namespace

CalcOptions::Outcome CalcOptions::parse(const QStringList &arguments, QString *message)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Calculation server for Korvex: answers PCB, STL and DXF requests with G-code."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this list of options."));
    const auto option = [](const char *name, const char *text, const char *value) {
        return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(text), QString::fromLatin1(value));
    };
    QCommandLineOption worker(workerFlag, QStringLiteral("Internal: calculate one request from stdin."));
    worker.setFlags(QCommandLineOption::HiddenFromHelp);
    const QCommandLineOption exitWithParent(QStringLiteral("exit-with-parent"),
                                            QStringLiteral("Stop when the process that started this server ends."));
    parser.addOptions({help, worker, exitWithParent,
                       option("listen", "Address to listen on (default 127.0.0.1).", "address"),
                       option("port", "TCP port (default 2223).", "port"),
                       option("jobs", "Calculations run at the same time (default 2).", "n"),
                       option("max-connections", "Open connections served at once (default 256).", "n"),
                       option("idle-timeout", "Seconds a silent client is waited for (default 30).", "s"),
                       option("time-limit", "Seconds one calculation may take (default 120).", "s"),
                       option("tool-width", "Engraving width in mm (default 0.1536).", "mm"),
                       option("engrave-depth", "Engraving depth in mm (default 0.1).", "mm"),
                       option("isolation-width",
                              "Copper cleared beside each piece of copper in mm, in as many overlapping "
                              "engraving passes as it takes (default: one pass, the tool width).", "mm"),
                       option("tabs", "Holding tabs on the board outline (default 3).", "n")});
    if (!parser.parse(arguments)) {
        *message = parser.errorText();
        return Outcome::Invalid;
    }
    if (parser.isSet(help)) {
        *message = parser.helpText();
        return Outcome::ShowHelp;
    }
    if (parser.isSet(QStringLiteral("listen")) && !listenAddress.setAddress(parser.value(QStringLiteral("listen")))) {
        *message = QStringLiteral("Not an IP address: %1").arg(parser.value(QStringLiteral("listen")));
        return Outcome::Invalid;
    }
    int portNumber = port;
    double idleSeconds = idleTimeoutMs / 1000.0;
    double limitSeconds = timeLimitMs / 1000.0;
    const bool valid = readInteger(parser, QStringLiteral("port"), 1, 65535, &portNumber)
                       && readInteger(parser, QStringLiteral("jobs"), 1, 64, &jobs)
                       && readInteger(parser, QStringLiteral("max-connections"), 1, 4096, &maxConnections)
                       && readNumber(parser, QStringLiteral("idle-timeout"), 0.1, 3600, &idleSeconds)
                       && readNumber(parser, QStringLiteral("time-limit"), 0.1, 36000, &limitSeconds)
                       && readNumber(parser, QStringLiteral("tool-width"), 0.01, 5, &engraveWidth)
                       && readNumber(parser, QStringLiteral("engrave-depth"), 0.01, 5, &engraveDepth)
                       && readNumber(parser, QStringLiteral("isolation-width"), 0, 10, &isolationWidth)
                       && readInteger(parser, QStringLiteral("tabs"), 0, 32, &tabs);
    if (!valid) {
        *message = QStringLiteral("An option value is out of range; see --help.");
        return Outcome::Invalid;
    }
    port = static_cast<quint16>(portNumber);
    this->exitWithParent = parser.isSet(exitWithParent);
    idleTimeoutMs = static_cast<int>(idleSeconds * 1000);
    timeLimitMs = static_cast<int>(limitSeconds * 1000);
    return parser.isSet(worker) ? Outcome::RunWorker : Outcome::Run;
}

QStringList CalcOptions::workerArguments() const
{
    QStringList arguments{QStringLiteral("--") + workerFlag,
            QStringLiteral("--tool-width"), QString::number(engraveWidth, 'g', 10),
            QStringLiteral("--engrave-depth"), QString::number(engraveDepth, 'g', 10),
            QStringLiteral("--isolation-width"), QString::number(isolationWidth, 'g', 10),
            QStringLiteral("--tabs"), QString::number(tabs)};
    if (exitWithParent)
        arguments << QStringLiteral("--exit-with-parent");
    return arguments;
}
