// The road of a huge G-code job through the G-code mode: a generated 3D carving program of 1,000,000
// and of 10,000,000 lines (about 27 bytes a line) is read into its compact form, drawn by the preview
// on a worker, and streamed for a while through the real link to the simulated controller, which runs
// on a thread of its own on a line paced like 115200 baud with motion completing at once; then Stop.
// Each size runs in a process of its own, so each has its own peak resident memory; the table ends
// with the ratio of the two runs, about 10 for every step that grows linearly with the program.
//
//   gcode_job [SECONDS]              both sizes, each streamed for SECONDS (15), and the ratios
//   gcode_job --lines N [SECONDS]    one run, its figures as "name value" lines
#include "link/serialport.h"
#include "link/serialportreader.h"
#include "link/sendqueue.h"
#include "modes/mode_gcode.h"
#include "preview/gcoderender.h"
#include "settings/database.h"
#include "tools/grblsim/grblsimulator.h"
#include "toolpath/gcodeprogram.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>

namespace {
const QStringList Sizes{QStringLiteral("1000000"), QStringLiteral("10000000")};

struct Step
{
    const char *key;
    const char *title;
    const char *format;
};
const Step Steps[] = {
    {"read", "read (GcodeProgram::read), s", "%14.3f"},
    {"preview", "preview on a worker, s", "%14.3f"},
    {"stall", "longest event loop pause, ms", "%14.1f"},
    {"firstline", "Play to the first line there, s", "%14.3f"},
    {"rate", "lines streamed per second", "%14.1f"},
    {"wire", "of the wire's limit", "%14.3f"},
    {"peak", "peak resident memory, MB", "%14.1f"},
    {"before", "resident before reading, MB", "%14.1f"},
    {"stopped", "resident after Stop, MB", "%14.1f"},
};
constexpr double WireLimit = 11520.0;   // bytes/s of 115200 baud, 8N1

// A relief cut in rows 0.1 mm apart, each point 0.1 mm on, the depth following a smooth surface:
// "G1 X12.30 Y4.50 Z-1.234".
bool writeProgram(const QString &path, qint64 lines)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk = "G21 G90\nG0 Z5\nM3 S12000\nG1 F1500\n";
    char line[64];
    for (qint64 i = 4; i < lines; ++i) {
        const double x = double(i % 2000) / 10.0;
        const double y = double(i / 2000) / 10.0;
        const double z = -1.5 - std::sin(x / 7.0) * std::cos(y / 5.0);
        chunk.append(line, std::snprintf(line, sizeof line, "G1 X%.2f Y%.2f Z%.3f\n", x, y, z));
        if (chunk.size() > (1 << 20)) {
            if (file.write(chunk) != chunk.size())
                return false;
            chunk.clear();
        }
    }
    return file.write(chunk) == chunk.size();
}

double statusMegabytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1.0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1.0;
}

// The longest gap between the ticks of a 5 ms timer: how long the window could not react.
class StallWatch
{
public:
    StallWatch()
    {
        m_tick.setInterval(5);
        QObject::connect(&m_tick, &QTimer::timeout, [this] {
            m_longest = std::max(m_longest, m_sinceTick.nsecsElapsed());
            m_sinceTick.start();
        });
        m_sinceTick.start();
        m_tick.start();
    }
    double longestMilliseconds() const { return m_longest / 1e6; }

private:
    QTimer m_tick;
    QElapsedTimer m_sinceTick;
    qint64 m_longest = 0;
};

bool spinUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.hasExpired(timeoutMs))
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

// The simulated controller on a thread of its own, as a real board works beside the host's event
// loop; it counts the program lines that arrive and notes when the first one did.
class Controller
{
public:
    Controller()
    {
        GrblSimulator::Options options;
        options.emulateBaud = true;
        options.motionTimeScale = 0.0;
        options.bootMs = 100;
        m_simulator = new GrblSimulator(options);
        m_simulator->moveToThread(&m_thread);
        QObject::connect(&m_thread, &QThread::finished, m_simulator, &QObject::deleteLater);
        QObject::connect(m_simulator, &GrblSimulator::lineReceived, m_simulator, [this](const QString &line) {
            if (!line.startsWith(QLatin1String("G1 X")))
                return;
            if (m_received.fetch_add(1) == 0)
                m_firstLineNs = m_sinceArmed.nsecsElapsed();
            m_bytes += line.size() + 1;
        }, Qt::DirectConnection);
        m_thread.start();
    }
    ~Controller()
    {
        m_thread.quit();
        m_thread.wait();
    }

    bool start()
    {
        bool started = false;
        QMetaObject::invokeMethod(m_simulator, [&] { started = m_simulator->start(); }, Qt::BlockingQueuedConnection);
        return started;
    }
    QString devicePath() const { return m_simulator->devicePath(); }
    void softReset()
    {
        QMetaObject::invokeMethod(m_simulator, [this] { m_simulator->softReset(); });
    }
    // From now on the first program line is timed.
    void arm() { m_sinceArmed.start(); }
    double firstLineSeconds() const { return m_firstLineNs / 1e9; }
    qint64 received() const { return m_received; }
    qint64 bytes() const { return m_bytes; }

private:
    QThread m_thread;
    GrblSimulator *m_simulator;
    QElapsedTimer m_sinceArmed;
    std::atomic<qint64> m_received{0};
    std::atomic<qint64> m_firstLineNs{0};
    std::atomic<qint64> m_bytes{0};
};

// Test mode: the connection only unlocks, then reads the settings.
std::unique_ptr<SerialPort> connectTo(Controller &controller)
{
    qputenv("KORVEX_PORT", controller.devicePath().toUtf8());
    auto link = std::make_unique<SerialPort>();
    link->setUnlockOnly(true);
    if (!link->connectToMachine())
        return nullptr;
    // A banner printed before the port was open went with its buffers; a reset repeats it.
    if (!spinUntil([&link] { return link->reader()->isInitialised(); }, 2000))
        controller.softReset();
    if (!spinUntil([&link] { return link->reader()->isInitialised() && link->sendQueue()->count() == 0; }, 10000))
        return nullptr;
    return link;
}

int runOnce(qint64 lines, int streamSeconds)
{
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.path().toUtf8());
    initDatabase(dir.filePath(QStringLiteral("korvexdb")));
    const QString path = dir.filePath(QStringLiteral("carving.nc"));
    if (!writeProgram(path, lines)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    Controller controller;
    std::unique_ptr<SerialPort> link = controller.start() ? connectTo(controller) : nullptr;
    if (!link) {
        std::fprintf(stderr, "the simulated controller did not come up\n");
        return 1;
    }
    GcodeRender render;
    render.showGcodeMode();
    Mode_Gcode mode;
    mode.setRender(&render);
    mode.setSerialPort(link.get());
    bool drawn = false;
    QObject::connect(&render, &GcodeRender::programDrawn, [&drawn] { drawn = true; });

    const double before = statusMegabytes("VmRSS:");
    QElapsedTimer clock;
    clock.start();
    mode.loadFile(path);
    const double readSeconds = clock.nsecsElapsed() / 1e9;
    if (!mode.program() || mode.program()->lineCount() != lines) {
        std::fprintf(stderr, "the program was not read\n");
        return 1;
    }
    clock.restart();
    double stall = 0.0;
    {
        StallWatch watch;
        spinUntil([&drawn] { return drawn; }, 600000);
        stall = watch.longestMilliseconds();
    }
    const double previewSeconds = clock.nsecsElapsed() / 1e9;

    controller.arm();
    mode.sendGcode();
    spinUntil([&controller] { return controller.received() > 0; }, 60000);
    const double firstLine = controller.firstLineSeconds();
    const qint64 linesBefore = controller.received();
    const qint64 bytesBefore = controller.bytes();
    clock.restart();
    spinUntil([] { return false; }, streamSeconds * 1000);
    const double streamed = clock.nsecsElapsed() / 1e9;
    const double rate = (controller.received() - linesBefore) / streamed;
    const double wire = (controller.bytes() - bytesBefore) / streamed / WireLimit;
    const double peak = statusMegabytes("VmHWM:");

    mode.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    spinUntil([] { return false; }, 200);
    std::printf("read %.3f\npreview %.3f\nstall %.1f\nfirstline %.3f\nrate %.1f\nwire %.3f\npeak %.1f\nbefore %.1f\n"
                "stopped %.1f\n", readSeconds, previewSeconds, stall, firstLine, rate, wire, peak, before,
                statusMegabytes("VmRSS:"));
    return 0;
}

QMap<QString, double> runChild(const QString &lines, const QString &streamSeconds)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--lines"), lines, streamSeconds});
    QMap<QString, double> figures;
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        return figures;
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 2)
            figures.insert(QString::fromLatin1(parts[0]), parts[1].toDouble());
    }
    return figures;
}

int compareSizes(const QString &streamSeconds)
{
    QVector<QMap<QString, double>> runs;
    for (const QString &size : Sizes) {
        runs << runChild(size, streamSeconds);
        if (runs.last().isEmpty()) {
            std::fprintf(stderr, "the run of %s lines failed\n", qPrintable(size));
            return 1;
        }
    }
    std::printf("%-32s%14s%14s%14s\n", "", "1,000,000", "10,000,000", "ratio");
    for (const Step &step : Steps) {
        const double small = runs[0].value(QString::fromLatin1(step.key));
        const double large = runs[1].value(QString::fromLatin1(step.key));
        std::printf("%-32s", step.title);
        std::printf(step.format, small);
        std::printf(step.format, large);
        std::printf("%14.2f\n", large / small);
    }
    return 0;
}
} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    qint64 lines = 0;
    if (arguments.size() >= 2 && arguments.first() == QLatin1String("--lines")) {
        lines = arguments.at(1).toLongLong();
        arguments = arguments.mid(2);
    }
    const QString streamSeconds = arguments.value(0, QStringLiteral("15"));
    if (lines > 0)
        return runOnce(lines, streamSeconds.toInt());
    return compareSizes(streamSeconds);
}
