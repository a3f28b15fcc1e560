// Streams typical G1 lines through the connection to the simulated controller on a line paced like
// 115200 baud, with motion completing at once, so the wire is the only limit. The controller runs on
// a thread of its own, as a real board works beside the host's event loop. Prints the rate of
// character counting and, measured in the same run, of sending one line and waiting for its answer.
//
//   stream [COUNTING_LINES [WAITING_LINES]] [--device PATH]
//
// With --device the same measurement is taken against any controller on that serial device. GRBL's
// check mode ("$C") is switched on first, so the lines are parsed and answered but nothing moves.
#include "link/sendqueue.h"
#include "link/serialmessage.h"
#include "link/serialport.h"
#include "link/serialportreader.h"
#include "tools/grblsim/grblsimulator.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {
constexpr double wireLimit = 11520.0;   // bytes/s of 115200 baud, 8N1

// A line whose answer calls back.
class TimedLine : public SerialMessage
{
public:
    TimedLine(const QString &content, std::function<void()> answered)
        : m_answered(std::move(answered))
    {
        setContent(content);
    }
    bool handleResponse(QString) override
    {
        m_answered();
        return true;
    }

private:
    std::function<void()> m_answered;
};

// 20 to 30 characters with the line end, like a CAM program's feed moves.
QString typicalLine(int i)
{
    return QStringLiteral("G1X%1Y%2Z-%3F%4\n")
        .arg((i * 37) % 20000 / 100.0, 0, 'f', i % 3 + 1)
        .arg((i * 53) % 14500 / 100.0, 0, 'f', (i / 3) % 3 + 1)
        .arg(i % 10 / 10.0, 0, 'f', 1)
        .arg(600 + i % 7 * 100);
}

void report(const char *name, int lines, qint64 bytes, double seconds)
{
    const double rate = bytes / seconds;
    std::printf("%-20s %6d lines  %7lld bytes  %7.2f s  %7.1f lines/s  %8.1f bytes/s  %.3f of the wire limit\n",
                name, lines, static_cast<long long>(bytes), seconds, lines / seconds, rate, rate / wireLimit);
    std::fflush(stdout);
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.hasExpired(timeoutMs))
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

void streamWithCharacterCounting(SerialPort *link, int count)
{
    qint64 bytes = 0;
    QEventLoop finished;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        const QString line = typicalLine(i);
        bytes += line.size();
        link->addMessageToWriterReader(new TimedLine(line, [&finished, i, count] {
            if (i + 1 == count)
                finished.quit();
        }));
    }
    finished.exec();
    report("character counting", count, bytes, clock.nsecsElapsed() / 1e9);
}

void streamSendAndWait(SerialPort *link, int count)
{
    qint64 bytes = 0;
    int next = 0;
    QEventLoop finished;
    std::function<void()> sendNext = [&] {
        if (next == count) {
            finished.quit();
            return;
        }
        const QString line = typicalLine(next++);
        bytes += line.size();
        link->addMessageToWriterReader(new TimedLine(line, [&] { QTimer::singleShot(0, sendNext); }));
    };
    QElapsedTimer clock;
    clock.start();
    sendNext();
    finished.exec();
    report("send and wait", count, bytes, clock.nsecsElapsed() / 1e9);
}

// Opens the connection in test mode and waits until its start-up lines are answered.
SerialPort *connectTo(const QString &device, const std::function<void()> &resetController)
{
    qputenv("KORVEX_PORT", device.toLocal8Bit());
    auto *link = new SerialPort;
    link->setUnlockOnly(true);
    if (!link->connectToMachine()) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(device));
        return nullptr;
    }
    // A board restarts when its port is opened; a banner printed before the open went with the port's
    // buffers, and the reader resets a board that stays silent.
    if (!waitFor([link] { return link->reader()->isInitialised(); }, 1000))
        resetController();
    if (!waitFor([link] { return link->reader()->isInitialised() && link->sendQueue()->count() == 0; }, 10000)) {
        std::fprintf(stderr, "the controller did not come up\n");
        return nullptr;
    }
    return link;
}

bool enterCheckMode(SerialPort *link)
{
    bool answered = false;
    link->addMessageToWriterReader(new TimedLine(QStringLiteral("$C\n"), [&answered] { answered = true; }));
    return waitFor([&answered] { return answered; }, 5000);
}

int measure(SerialPort *link, int countingLines, int waitingLines)
{
    std::printf("wire limit %.0f bytes/s (115200 baud, 8N1)\n", wireLimit);
    streamWithCharacterCounting(link, countingLines);
    streamSendAndWait(link, waitingLines);
    return 0;
}

int measureDevice(const QString &device, int countingLines, int waitingLines)
{
    SerialPort *link = connectTo(device, [] {});
    if (!link)
        return 1;
    if (!enterCheckMode(link)) {
        std::fprintf(stderr, "the controller did not enter check mode\n");
        return 1;
    }
    std::printf("controller on %s, check mode\n", qPrintable(device));
    const int result = measure(link, countingLines, waitingLines);
    delete link;
    return result;
}

int measureSimulator(int countingLines, int waitingLines)
{
    GrblSimulator::Options options;
    options.emulateBaud = true;
    options.motionTimeScale = 0.0;
    QThread controllerThread;
    auto *simulator = new GrblSimulator(options);
    simulator->moveToThread(&controllerThread);
    QObject::connect(&controllerThread, &QThread::finished, simulator, &QObject::deleteLater);
    controllerThread.start();
    bool started = false;
    QMetaObject::invokeMethod(simulator, [&] { started = simulator->start(); }, Qt::BlockingQueuedConnection);
    if (!started) {
        std::fprintf(stderr, "the simulated controller did not start\n");
        return 1;
    }
    SerialPort *link = connectTo(simulator->devicePath(), [simulator] { simulator->softReset(); });
    if (!link)
        return 1;
    measure(link, countingLines, waitingLines);
    int overflows = 0;
    QMetaObject::invokeMethod(simulator, [&] { overflows = simulator->overflowCount(); }, Qt::BlockingQueuedConnection);
    std::printf("receive buffer overflows: %d\n", overflows);
    delete link;
    controllerThread.quit();
    controllerThread.wait();
    return 0;
}
}

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption device(QStringLiteral("device"), QStringLiteral("Measure against the controller on PATH."),
                                    QStringLiteral("PATH"));
    parser.addOption(device);
    parser.addPositionalArgument(QStringLiteral("counting"), QStringLiteral("Lines streamed with character counting (20000)."));
    parser.addPositionalArgument(QStringLiteral("waiting"), QStringLiteral("Lines sent one at a time (2000)."));
    parser.process(application);
    const QStringList counts = parser.positionalArguments();
    const int countingLines = counts.size() > 0 ? counts.at(0).toInt() : 20000;
    const int waitingLines = counts.size() > 1 ? counts.at(1).toInt() : 2000;
    if (parser.isSet(device))
        return measureDevice(parser.value(device), countingLines, waitingLines);
    return measureSimulator(countingLines, waitingLines);
}
