// Times the preview's handling of a large program: reading the file, parsing every line, building the
// tool path both ways a program can be read, and estimating its run time; reports lines per second and
// the peak resident memory.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <ctime>

#include "preview/jobtimeestimate.h"
#include "preview/pathgeometry.h"
#include "preview/toolpathinterpreter.h"
#include "toolpath/gcodeline.h"
#include "toolpath/gcodeprogram.h"

namespace {
constexpr int LineCount = 1000000;

// A program as CAM output looks: rapids, feeds, arcs of up to a quarter turn, lines continuing the
// modal motion, comments and a few machine words.
void writeProgram(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    QTextStream out(&file);
    QRandomGenerator random(1);
    double x = 0.0;
    double y = 0.0;
    bool arcMode = false;
    const auto coordinate = [&random](double around) { return around + random.bounded(20.0) - 10.0; };
    for (int line = 0; line < LineCount; ++line) {
        const int kind = random.bounded(100);
        if (kind < 45)
            arcMode = false;
        if (kind < 15) {
            x = coordinate(x);
            y = coordinate(y);
            out << "G0 X" << x << " Y" << y << " Z" << random.bounded(5.0) << '\n';
        } else if (kind < 45) {
            x = coordinate(x);
            y = coordinate(y);
            out << "G1 X" << x << " Y" << y << " F" << 300 + random.bounded(600) << '\n';
        } else if (kind < 65) {
            const bool clockwise = kind < 55;
            const double radius = 1.0 + random.bounded(20.0);
            const double toCentre = random.bounded(6.283185307179586);
            const double i = radius * std::cos(toCentre);
            const double j = radius * std::sin(toCentre);
            const double startAngle = toCentre + M_PI;
            const double sweep = random.bounded(M_PI / 2) * (clockwise ? -1.0 : 1.0);
            const double cx = x + i;
            const double cy = y + j;
            x = cx + radius * std::cos(startAngle + sweep);
            y = cy + radius * std::sin(startAngle + sweep);
            out << (clockwise ? "G2 X" : "G3 X") << x << " Y" << y << " I" << i << " J" << j << '\n';
            arcMode = true;
        } else if (kind < 85) {
            // CAM output continues straight moves without repeating G1; arcs always carry their centre.
            x = coordinate(x);
            y = coordinate(y);
            out << (arcMode ? "G1 X" : "X") << x << " Y" << y << '\n';
            arcMode = false;
        } else if (kind < 93) {
            out << "(contour " << line << " pass " << random.bounded(4) << ")\n";
        } else if (kind < 97) {
            out << "G1 Z" << -random.bounded(2.0) << " (plunge)\n";
            arcMode = false;
        } else {
            out << "M3 S12000\n";
        }
    }
}

long residentKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// Wall time and the CPU time of this thread: on a machine shared with other work the CPU time shows
// what the code costs, the wall time what the user waits.
struct Clock
{
    QElapsedTimer wall;
    qint64 cpuStart = 0;

    static qint64 threadCpuNanoseconds()
    {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    }
    void restart()
    {
        wall.start();
        cpuStart = threadCpuNanoseconds();
    }
    qint64 wallNanoseconds() const { return wall.nsecsElapsed(); }
    qint64 cpuNanoseconds() const { return threadCpuNanoseconds() - cpuStart; }
};

void report(const char *stage, qint64 wallNanoseconds, qint64 cpuNanoseconds, int lines)
{
    std::printf("%-32s wall %7.3f s %11.0f lines/s   cpu %7.3f s %11.0f lines/s\n", stage, wallNanoseconds / 1e9,
                lines / (wallNanoseconds / 1e9), cpuNanoseconds / 1e9, lines / (cpuNanoseconds / 1e9));
}

void report(const char *stage, const Clock &clock, int lines)
{
    report(stage, clock.wallNanoseconds(), clock.cpuNanoseconds(), lines);
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("program.nc"));
    writeProgram(path);
    std::printf("program: %d lines, %lld bytes\n", LineCount, QFile(path).size());

    Clock clock;
    clock.restart();
    QString error;
    const GcodeProgram program = GcodeProgram::read(path, &error);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const int lines = int(program.lineCount());
    report("read", clock, lines);

    clock.restart();
    int words = 0;
    for (qint64 line = 0; line < program.lineCount(); ++line)
        words += GcodeLine(program.line(line)).has(QLatin1Char('X'));
    report("parse (GcodeLine)", clock, lines);

    const std::atomic<bool> running{false};
    for (const auto interpretation : {PathGeometry::Interpretation::Literal, PathGeometry::Interpretation::Machine}) {
        const bool machine = interpretation == PathGeometry::Interpretation::Machine;
        clock.restart();
        const PathVertices vertices = PathVertices::traced(program, *PathGeometry::interpreter(interpretation), running);
        report(machine ? "parse + path, as the machine reads" : "parse + path, literal (PCB, STL)", clock, lines);
        std::printf("vertices: %d\n", vertices.vertexCount());
    }
    std::printf("lines with X: %d; peak resident memory: %.1f MB\n", words, residentKiB("VmHWM:") / 1024.0);

    clock.restart();
    const QVector<float> remaining = JobTimeEstimate::remainingAfterLines(program, TravelTimePlanner::Limits(), running);
    report("time estimate", clock, lines);
    std::printf("estimated run time: %.0f s; peak resident memory: %.1f MB\n", remaining.first(),
                residentKiB("VmHWM:") / 1024.0);
    return 0;
}
