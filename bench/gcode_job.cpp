// The road of a huge G-code job: a generated 3D carving program of 1,000,000 and of 10,000,000 lines
// (about 27 bytes a line) is read into its compact form and drawn by the preview on a worker. Each size
// runs in a process of its own, so each has its own peak resident memory; the table ends with the ratio
// of the two runs, which is about 10 for every step that grows linearly with the program.
//
//   gcode_job                 both sizes, and the ratios
//   gcode_job --lines N       one run, its figures as "name value" lines
#include "preview/gcoderender.h"
#include "toolpath/gcodeprogram.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <cstdio>
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
    {"peak", "peak resident memory, MB", "%14.1f"},
    {"before", "resident before reading, MB", "%14.1f"},
    {"cleared", "resident once cleared, MB", "%14.1f"},
};

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

int runOnce(qint64 lines)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("carving.nc"));
    if (!writeProgram(path, lines)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    const double before = statusMegabytes("VmRSS:");
    QElapsedTimer clock;
    clock.start();
    QString error;
    auto program = std::make_shared<const GcodeProgram>(GcodeProgram::read(path, &error));
    const double readSeconds = clock.nsecsElapsed() / 1e9;
    if (!error.isEmpty() || program->lineCount() != lines) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    GcodeRender render;
    render.showGcodeMode();
    QEventLoop drawing;
    QObject::connect(&render, &GcodeRender::programDrawn, &drawing, &QEventLoop::quit);
    clock.restart();
    double previewSeconds = 0.0;
    double stall = 0.0;
    {
        StallWatch watch;
        render.loadProgram(program);
        drawing.exec();
        previewSeconds = clock.nsecsElapsed() / 1e9;
        stall = watch.longestMilliseconds();
    }
    const double peak = statusMegabytes("VmHWM:");

    render.clearProgram();
    program.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    std::printf("lines %lld\nread %.3f\npreview %.3f\nstall %.1f\npeak %.1f\nbefore %.1f\ncleared %.1f\n", lines,
                readSeconds, previewSeconds, stall, peak, before, statusMegabytes("VmRSS:"));
    return 0;
}

QMap<QString, double> runChild(const QString &lines)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--lines"), lines});
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

int compareSizes()
{
    QVector<QMap<QString, double>> runs;
    for (const QString &size : Sizes) {
        runs << runChild(size);
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
    const QStringList arguments = QCoreApplication::arguments();
    const int linesAt = arguments.indexOf(QStringLiteral("--lines"));
    if (linesAt > 0 && linesAt + 1 < arguments.size())
        return runOnce(arguments.at(linesAt + 1).toLongLong());
    return compareSizes();
}
