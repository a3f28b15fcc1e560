// Loads a large G-code program through the G-code mode (read step and preview), queues it on a
// connection to the simulated controller and streams for a while; prints times, rate and peak memory.
#include "link/gcodeserialmessage.h"
#include "link/serialport.h"
#include "modes/mode_gcode.h"
#include "preview/gcoderender.h"
#include "settings/database.h"
#include "tools/grblsim/grblsimulator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <sys/resource.h>

namespace {
QString writeProgram(const QString &path, int lines)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    QTextStream out(&file);
    for (int i = 0; i < lines; ++i)
        out << "G1X" << (i % 2000) * 0.1 << "Y" << (i / 2000) * 0.1 << "Z-0.1F1200\n";
    return path;
}

double peakResidentMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// Wall time and the process's CPU time (all threads) of one phase; the CPU time shows the cost of a
// phase even when other work on the machine stretches its wall time.
class PhaseClock
{
public:
    PhaseClock() { restart(); }

    void restart()
    {
        m_wall.start();
        m_cpu = cpuSeconds();
    }

    QString lap()
    {
        const QString text = QStringLiteral("%1 s (CPU %2 s)")
                                 .arg(m_wall.nsecsElapsed() / 1e9, 0, 'f', 3)
                                 .arg(cpuSeconds() - m_cpu, 0, 'f', 3);
        restart();
        return text;
    }

private:
    static double cpuSeconds()
    {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }

    QElapsedTimer m_wall;
    double m_cpu = 0.0;
};
}

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int lineCount = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000000;
    const int streamSeconds = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 15;

    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.path().toUtf8());
    initDatabase(dir.filePath(QStringLiteral("korvexdb")));
    const QString path = writeProgram(dir.filePath(QStringLiteral("job.nc")), lineCount);

    GrblSimulator simulator;
    if (!simulator.start())
        return 1;
    qputenv("KORVEX_PORT", simulator.devicePath().toUtf8());
    SerialPort port;
    port.setUnlockOnly(true);
    if (!port.connectToMachine())
        return 1;
    // The board announces itself when its port is opened; should that banner be lost, a reset repeats it.
    QElapsedTimer waitForStartup;
    waitForStartup.start();
    bool resetSent = false;
    while (!simulator.receivedLines().contains(QStringLiteral("$$")) && waitForStartup.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (!resetSent && waitForStartup.elapsed() > 2000) {
            simulator.softReset();
            resetSent = true;
        }
    }

    GcodeRender render;
    Mode_Gcode mode;
    PhaseClock clock;
    mode.loadFile(path);
    const QString readTime = clock.lap();
    render.loadGcode(mode.program(), 0);
    const QString previewTime = clock.lap();

    qint64 lastLine = 0;
    QObject::connect(GcodeSerialMessage::instance(), &GcodeSerialMessage::setProgress,
                     [&lastLine](qint64 line) { lastLine = line; });
    // The completion box would wait for a click.
    QTimer closeBoxes;
    QObject::connect(&closeBoxes, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            box->done(QMessageBox::Ok);
    });
    closeBoxes.start(50);

    mode.setSerialPort(&port);
    clock.restart();
    mode.sendGcode();
    const QString queueTime = clock.lap();

    QElapsedTimer streaming;
    streaming.start();
    while (mode.isStarted() && streaming.elapsed() < streamSeconds * 1000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    const double streamedSeconds = streaming.nsecsElapsed() / 1e9;

    QTextStream out(stdout);
    out << "program lines:            " << mode.program().size() << "\n"
        << "read (worker):            " << readTime << "\n"
        << "preview:                  " << previewTime << "\n"
        << "create + queue:           " << queueTime << "\n"
        << "lines streamed:           " << lastLine << " in " << streamedSeconds << " s\n"
        << "lines per second:         " << lastLine / streamedSeconds << "\n"
        << "peak resident memory MB:  " << peakResidentMegabytes() << "\n";
    out.flush();
    mode.reset();
    return 0;
}
