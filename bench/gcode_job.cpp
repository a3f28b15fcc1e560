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

double seconds(QElapsedTimer &timer)
{
    const double elapsed = timer.nsecsElapsed() / 1e9;
    timer.restart();
    return elapsed;
}
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
    simulator.softReset();
    QElapsedTimer waitForStartup;
    waitForStartup.start();
    while (!simulator.receivedLines().contains(QStringLiteral("$$")) && waitForStartup.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

    GcodeRender render;
    Mode_Gcode mode;
    QElapsedTimer timer;
    timer.start();
    mode.loadFile(path);
    const double readSeconds = seconds(timer);
    render.loadGcode(mode.program(), 0);
    const double previewSeconds = seconds(timer);

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
    timer.restart();
    mode.sendGcode();
    const double queueSeconds = seconds(timer);

    QElapsedTimer streaming;
    streaming.start();
    while (mode.isStarted() && streaming.elapsed() < streamSeconds * 1000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    const double streamedSeconds = streaming.nsecsElapsed() / 1e9;

    QTextStream out(stdout);
    out << "program lines:            " << mode.program().size() << "\n"
        << "read (worker) seconds:    " << readSeconds << "\n"
        << "preview seconds:          " << previewSeconds << "\n"
        << "read + preview seconds:   " << readSeconds + previewSeconds << "\n"
        << "create + queue seconds:   " << queueSeconds << "\n"
        << "lines streamed:           " << lastLine << " in " << streamedSeconds << " s\n"
        << "lines per second:         " << lastLine / streamedSeconds << "\n"
        << "peak resident memory MB:  " << peakResidentMegabytes() << "\n";
    out.flush();
    mode.reset();
    return 0;
}
