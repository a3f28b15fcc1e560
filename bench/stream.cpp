// Streams typical G1 lines through the connection to the simulated controller on a line paced like
// 115200 baud, with motion completing at once, so the wire is the only limit. The controller runs on
// a thread of its own, as a real board works beside the host's event loop. Prints the rate of
// character counting and, measured in the same run, of sending one line and waiting for its answer.
#include "link/sendqueue.h"
#include "link/serialmessage.h"
#include "link/serialport.h"
#include "link/serialportreader.h"
#include "tools/grblsim/grblsimulator.h"

#include <QApplication>
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
}

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int countingLines = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 20000;
    const int waitingLines = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 2000;

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
    qputenv("KORVEX_PORT", simulator->devicePath().toLocal8Bit());
    auto *link = new SerialPort;
    link->setUnlockOnly(true);
    if (!link->connectToMachine()) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(simulator->devicePath()));
        return 1;
    }
    // A board restarts when its port is opened; a banner printed before the open went with the port's buffers.
    if (!waitFor([link] { return link->reader()->isInitialised(); }, 1000))
        simulator->softReset();
    if (!waitFor([link] { return link->reader()->isInitialised() && link->sendQueue()->count() == 0; }, 10000)) {
        std::fprintf(stderr, "the controller did not come up\n");
        return 1;
    }
    std::printf("wire limit %.0f bytes/s (115200 baud, 8N1)\n", wireLimit);
    streamWithCharacterCounting(link, countingLines);
    streamSendAndWait(link, waitingLines);
    int overflows = 0;
    QMetaObject::invokeMethod(simulator, [&] { overflows = simulator->overflowCount(); }, Qt::BlockingQueuedConnection);
    std::printf("receive buffer overflows: %d\n", overflows);
    delete link;
    controllerThread.quit();
    controllerThread.wait();
    return 0;
}
