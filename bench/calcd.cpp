// Times every request kind of korvex-calcd on the largest sample files through a real socket,
// and measures the peak memory and processor time of the same calculation run as a worker
// process; for board layers it counts plunges, cut and rapid lengths and the drill travel against
// its lower bound for each tool; then mills a
// generated terrain and checks the answer for gouges against the terrain's own heights.
#include "modes/filereaderasync.h"
#include "toolpath/gcodeline.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPointF>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QVector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <limits>

namespace {

struct Sample
{
    QString kind;
    QString path;
    QString header; // everything before the length, with %1 for the length and %2 after it
};

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString largest(const QString &directory, const QString &pattern)
{
    const QFileInfoList files = QDir(directory).entryInfoList({pattern}, QDir::Files, QDir::Size);
    return files.isEmpty() ? QString() : files.first().filePath();
}

QByteArray request(const Sample &sample)
{
    if (sample.kind == QLatin1String("STL")) {
        const QByteArray bytes = fileBytes(sample.path);
        return QStringLiteral("STL\n%1\n2\n5\n300\n1\n0\n").arg(bytes.size()).toUtf8() + bytes;
    }
    QString text;
    FileReaderAsync::readText(sample.path, &text);
    return sample.header.arg(text.size()).toUtf8() + text.toUtf8();
}

double ask(quint16 port, const QByteArray &data, QByteArray *answer)
{
    QElapsedTimer timer;
    timer.start();
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.waitForConnected(5000);
    socket.write(data);
    answer->clear();
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(300000))
        *answer += socket.readAll();
    *answer += socket.readAll();
    return timer.nsecsElapsed() / 1e9;
}

// Left and right end of an answer's feed moves, the points the program centres the flip frame on.
QPair<double, double> feedRange(const QByteArray &answer)
{
    double left = std::numeric_limits<double>::max(), right = std::numeric_limits<double>::lowest();
    double x = 0;
    int motion = -1;
    for (const QString &text : QString::fromUtf8(answer).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const GcodeLine line(text);
        if (line.has(QLatin1Char('G')))
            motion = static_cast<int>(line.value(QLatin1Char('G')));
        if (line.has(QLatin1Char('X')))
            x = line.value(QLatin1Char('X'));
        if (motion == 1) {
            left = std::min(left, x);
            right = std::max(right, x);
        }
    }
    return {left, right};
}

// How far the milled bottom copper lands from the top copper once the board is turned over in
// the flip frame: the bottom answer is mirrored about its own middle, the board turns about the
// middle of all layers together.
double alignmentError(const QList<QByteArray> &layers, const QByteArray &bottom)
{
    double left = std::numeric_limits<double>::max(), right = std::numeric_limits<double>::lowest();
    for (const QByteArray &layer : layers + QList<QByteArray>{bottom}) {
        const QPair<double, double> range = feedRange(layer);
        left = std::min(left, range.first);
        right = std::max(right, range.second);
    }
    const QPair<double, double> own = feedRange(bottom);
    return std::fabs((left + right) - (own.first + own.second));
}

// What the machine does for one answer: plunges into the work, the length cut, the length of the
// rapid moves (both in the plane), and the holes drilled with each tool.
struct Motion
{
    int plunges = 0;
    double cutMm = 0;
    double rapidMm = 0;
    QVector<QVector<QPointF>> holesPerTool;
};

Motion motionOf(const QByteArray &answer)
{
    Motion motion;
    QPointF at;
    double z = 0;
    for (const QString &text : QString::fromUtf8(answer).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (text.contains(QLatin1String("Change tool bit to")))
            motion.holesPerTool.append(QVector<QPointF>());
        const GcodeLine line(text);
        const QPointF to(line.has(QLatin1Char('X')) ? line.value(QLatin1Char('X')) : at.x(),
                         line.has(QLatin1Char('Y')) ? line.value(QLatin1Char('Y')) : at.y());
        const double toZ = line.has(QLatin1Char('Z')) ? line.value(QLatin1Char('Z')) : z;
        const double length = std::hypot(to.x() - at.x(), to.y() - at.y());
        if (line.command() == QLatin1String("G0"))
            motion.rapidMm += length;
        else if (line.command() == QLatin1String("G1") && z < 0 && toZ < 0)
            motion.cutMm += length;
        if (z >= 0 && toZ < 0) {
            ++motion.plunges;
            if (!motion.holesPerTool.isEmpty())
                motion.holesPerTool.last().append(to);
        }
        at = to;
        z = toZ;
    }
    return motion;
}

// GRBL moves both axes at once: a move takes as long as its longer axis.
double chebyshev(QPointF a, QPointF b)
{
    return std::max(std::fabs(a.x() - b.x()), std::fabs(a.y() - b.y()));
}

// Length of the minimum spanning tree of the points (Prim): no path through them all is shorter.
double spanningTree(const QVector<QPointF> &points)
{
    QVector<double> nearest(points.size(), std::numeric_limits<double>::max());
    QVector<bool> inTree(points.size(), false);
    double length = 0;
    for (int next = points.isEmpty() ? -1 : 0; next >= 0;) {
        inTree[next] = true;
        const int added = next;
        next = -1;
        for (int i = 0; i < points.size(); ++i) {
            if (inTree[i])
                continue;
            nearest[i] = std::min(nearest[i], chebyshev(points[added], points[i]));
            if (next < 0 || nearest[i] < nearest[next])
                next = i;
        }
        if (next >= 0)
            length += nearest[next];
    }
    return length;
}

void printMotion(const QByteArray &answer)
{
    const Motion motion = motionOf(answer);
    std::printf("%12s %d plunges, %.2f m cut, %.2f m rapid\n", "", motion.plunges, motion.cutMm / 1000, motion.rapidMm / 1000);
    for (const QVector<QPointF> &holes : motion.holesPerTool) {
        double travel = 0;
        for (int i = 1; i < holes.size(); ++i)
            travel += chebyshev(holes[i - 1], holes[i]);
        const double bound = spanningTree(holes);
        std::printf("%12s drill of %3d holes: travel %7.1f mm, spanning tree %7.1f mm, ratio %.3f\n", "",
                    int(holes.size()), travel, bound, bound > 0 ? travel / bound : 1.0);
    }
}

struct WorkerUsage
{
    double peakMiB = -1;
    double cpuSeconds = -1;
};

// Peak resident memory and processor time of the calculation run on its own as a worker: the
// wall time through the socket depends on how busy the computer is, these do not.
WorkerUsage workerUsage(const QByteArray &data)
{
    QFile input(QDir::temp().filePath(QStringLiteral("korvex-bench-calcd.req")));
    if (!input.open(QIODevice::WriteOnly) || input.write(data) != data.size())
        return {};
    input.close();
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        if (!freopen(QFile::encodeName(input.fileName()).constData(), "r", stdin) || !freopen("/dev/null", "w", stdout)
            || !freopen("/dev/null", "w", stderr))
            _exit(1);
        execl(CALCD_PROGRAM, CALCD_PROGRAM, "--worker", static_cast<char *>(nullptr));
        _exit(1);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    input.remove();
    const auto seconds = [](const timeval &t) { return t.tv_sec + t.tv_usec / 1e6; };
    return {usage.ru_maxrss / 1024.0, seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

// A rolling terrain of 100 x 100 mm as a height field: 224 x 224 cells of two triangles each,
// heights between 0 and 5 mm.
class Terrain
{
public:
    static constexpr int cells = 224;
    static constexpr double size = 100;

    static double height(int i, int j)
    {
        const double x = i * size / cells, y = j * size / cells;
        return 2.5 + 1.6 * std::sin(x / 7.0) * std::cos(y / 9.0) + 0.6 * std::sin(x / 2.3 + y / 3.1)
               + 0.3 * std::cos(x * y / 400.0);
    }

    static QByteArray binaryStl()
    {
        QByteArray bytes(80, ' ');
        const quint32 count = 2 * cells * cells;
        bytes.append(reinterpret_cast<const char *>(&count), 4);
        for (int i = 0; i < cells; ++i)
            for (int j = 0; j < cells; ++j) {
                addTriangle(&bytes, {{i, j}, {i + 1, j}, {i + 1, j + 1}});
                addTriangle(&bytes, {{i, j}, {i + 1, j + 1}, {i, j + 1}});
            }
        return bytes;
    }

    // The lowest the flat tool's tip may go at (x, y) over the part placed with its top at z 0: no
    // corner of the mesh inside the tool's circle above it, nor the facet straight below its centre.
    static double lowestAllowed(double x, double y, double radius, double floor)
    {
        const double cell = size / cells;
        double h = floor;
        const int i0 = std::max(0, int(std::floor((x - radius) / cell))), i1 = std::min(cells, int(std::ceil((x + radius) / cell)));
        const int j0 = std::max(0, int(std::floor((y - radius) / cell))), j1 = std::min(cells, int(std::ceil((y + radius) / cell)));
        for (int i = i0; i <= i1; ++i)
            for (int j = j0; j <= j1; ++j)
                if (std::hypot(i * cell - x, j * cell - y) <= radius)
                    h = std::max(h, height(i, j) - top());
        const int i = int(std::floor(x / cell)), j = int(std::floor(y / cell));
        if (i >= 0 && j >= 0 && i < cells && j < cells) {
            const double u = x / cell - i, v = y / cell - j;
            const double below = u >= v ? height(i, j) + u * (height(i + 1, j) - height(i, j)) + v * (height(i + 1, j + 1) - height(i + 1, j))
                                        : height(i, j) + v * (height(i, j + 1) - height(i, j)) + u * (height(i + 1, j + 1) - height(i, j + 1));
            h = std::max(h, below - top());
        }
        return h;
    }

private:
    static double top()
    {
        static const double highest = [] {
            double z = std::numeric_limits<double>::lowest();
            for (int i = 0; i <= cells; ++i)
                for (int j = 0; j <= cells; ++j)
                    z = std::max(z, height(i, j));
            return z;
        }();
        return highest;
    }

    static void addTriangle(QByteArray *bytes, std::initializer_list<QPair<int, int>> corners)
    {
        float record[12] = {};
        int k = 3;
        for (const QPair<int, int> &c : corners) {
            record[k++] = float(c.first * size / cells);
            record[k++] = float(c.second * size / cells);
            record[k++] = float(height(c.first, c.second));
        }
        bytes->append(reinterpret_cast<const char *>(record), sizeof record);
        bytes->append(2, '\0');
    }
};

// Every feed move of the answer followed in 0.1 mm steps: the count of points checked, and of those
// where the tool's tip sinks into the part.
QPair<int, int> gougeCheck(const QByteArray &answer, double radius, double depth)
{
    int checked = 0, gouges = 0;
    double x = 0, y = 0, z = 0;
    for (const QString &text : QString::fromUtf8(answer).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const GcodeLine line(text);
        const double nx = line.has(QLatin1Char('X')) ? line.value(QLatin1Char('X')) : x;
        const double ny = line.has(QLatin1Char('Y')) ? line.value(QLatin1Char('Y')) : y;
        const double nz = line.has(QLatin1Char('Z')) ? line.value(QLatin1Char('Z')) : z;
        if (line.command() == QLatin1String("G1")) {
            const int steps = std::max(1, int(std::hypot(nx - x, ny - y) / 0.1));
            for (int k = 1; k <= steps; ++k) {
                const double f = double(k) / steps;
                const double px = x + (nx - x) * f, py = y + (ny - y) * f, pz = z + (nz - z) * f;
                ++checked;
                if (pz < Terrain::lowestAllowed(px, py, radius, -depth) - 0.01)
                    ++gouges;
            }
        }
        x = nx;
        y = ny;
        z = nz;
    }
    return {checked, gouges};
}

void benchTerrain(quint16 port)
{
    const double diameter = 3.175, depth = 5, perPass = 1;
    const QByteArray stl = Terrain::binaryStl();
    const QByteArray data = QStringLiteral("STL\n%1\n%2\n%3\n300\n%4\n0\n")
                                .arg(stl.size())
                                .arg(diameter)
                                .arg(depth)
                                .arg(perPass)
                                .toUtf8()
                            + stl;
    QByteArray answer;
    const double seconds = ask(port, data, &answer);
    const WorkerUsage usage = workerUsage(data);
    const QPair<int, int> gouge = gougeCheck(answer, diameter / 2, depth);
    std::printf("\nSTL terrain, %d triangles, 100 x 100 mm, %g mm deep in %g mm passes, cutter %g mm:\n",
                2 * Terrain::cells * Terrain::cells, depth, perPass, diameter);
    std::printf("  %.3f s through the socket, %.3f s cpu, %.1f MiB peak, %lld answer lines\n", seconds,
                usage.cpuSeconds, usage.peakMiB, static_cast<long long>(answer.count('\n')));
    std::printf("  gouge check: %d of %d points below the part surface (%s)\n", gouge.second, gouge.first,
                gouge.second == 0 && gouge.first > 1000 ? "passed" : "FAILED");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString gerbv = QStringLiteral("/usr/share/doc/gerbv/examples/");
    const QString protel = gerbv + QStringLiteral("protel-pnp/SE_SG_IF_V2.");
    const QString prusa = QStringLiteral("/var/cache/korvex-samples/prusa/usr/share/PrusaSlicer/shapes");
    const QString pcb = QStringLiteral("PCB\n%3\n%4\n%1\n");
    const QList<Sample> samples{
        {QStringLiteral("Layout"), protel + QStringLiteral("GTL"), pcb.arg(QStringLiteral("%1"), QStringLiteral("1.6"), QStringLiteral("Layout"))},
        {QStringLiteral("BotLayout"), protel + QStringLiteral("GBL"), pcb.arg(QStringLiteral("%1"), QStringLiteral("1.6"), QStringLiteral("BotLayout"))},
        {QStringLiteral("Drill"), protel + QStringLiteral("TXT"), pcb.arg(QStringLiteral("%1"), QStringLiteral("2"), QStringLiteral("Drill"))},
        {QStringLiteral("Outline"), protel + QStringLiteral("GM1"), pcb.arg(QStringLiteral("%1"), QStringLiteral("1.8"), QStringLiteral("Outline"))},
        {QStringLiteral("Layout"), gerbv + QStringLiteral("hellboard/hellboard.front.gbr"), pcb.arg(QStringLiteral("%1"), QStringLiteral("1.6"), QStringLiteral("Layout"))},
        {QStringLiteral("STL"), largest(prusa, QStringLiteral("*.stl")), QString()},
        {QStringLiteral("STL"), QStringLiteral("/usr/share/openscad/testdata/stl/adns2610_dev_circuit_inv.stl"), QString()},
        {QStringLiteral("DXF"), largest(QStringLiteral("/usr/share/openscad/testdata/dxf"), QStringLiteral("*.dxf")), QStringLiteral("DXF\n%1\n300\n0\n0.5\n1\n12000\n")},
        {QStringLiteral("DXF"), QStringLiteral("/usr/share/librecad/library/elektro/meter-iso/Tube-CRT-RGB.dxf"), QStringLiteral("DXF\n%1\n300\n0\n0.5\n1\n12000\n")}};

    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    QProcess server;
    server.start(QStringLiteral(CALCD_PROGRAM), {QStringLiteral("--exit-with-parent"), QStringLiteral("--port"), QString::number(port)});
    if (!server.waitForStarted(5000))
        return 1;
    for (int attempt = 0; attempt < 100; ++attempt) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(100))
            break;
        QThread::msleep(20);
    }

    QHash<QString, QByteArray> protelAnswers;
    std::printf("%-10s %-30s %10s %10s %11s %10s\n", "kind", "file", "s/request", "cpu s", "answer kB", "peak MiB");
    for (const Sample &sample : samples) {
        if (sample.path.isEmpty() || !QFile::exists(sample.path)) {
            std::printf("%-10s %-30s skipped: sample file missing\n", qPrintable(sample.kind), qPrintable(sample.path));
            continue;
        }
        const QByteArray data = request(sample);
        const bool board = sample.kind != QLatin1String("STL") && sample.kind != QLatin1String("DXF");
        // Others share the computer: a board layer is asked three times, and its fastest run counts.
        QByteArray answer;
        double seconds = std::numeric_limits<double>::max();
        WorkerUsage usage;
        for (int run = 0; run < (board ? 3 : 1); ++run) {
            seconds = std::min(seconds, ask(port, data, &answer));
            const WorkerUsage once = workerUsage(data);
            if (usage.cpuSeconds < 0 || once.cpuSeconds < usage.cpuSeconds)
                usage = once;
        }
        if (sample.path.startsWith(protel))
            protelAnswers[sample.kind] = answer;
        std::printf("%-10s %-30s %10.3f %10.3f %11.1f %10.1f\n", qPrintable(sample.kind),
                    qPrintable(QFileInfo(sample.path).fileName()), seconds, usage.cpuSeconds, answer.size() / 1024.0,
                    usage.peakMiB);
        if (board)
            printMotion(answer);
    }
    if (protelAnswers.size() == 4) {
        const QByteArray bottom = protelAnswers.value(QStringLiteral("BotLayout"));
        const QByteArray top = protelAnswers.value(QStringLiteral("Layout")), drill = protelAnswers.value(QStringLiteral("Drill"));
        std::printf("\nbottom layer alignment error after turning, protel-pnp:\n");
        std::printf("  top, bottom, drill, outline: %.3f mm\n", alignmentError({top, drill, protelAnswers.value(QStringLiteral("Outline"))}, bottom));
        std::printf("  top, bottom, drill:          %.3f mm\n", alignmentError({top, drill}, bottom));
        std::printf("  bottom, drill:               %.3f mm\n", alignmentError({drill}, bottom));
    }
    benchTerrain(port);
    server.kill();
    server.waitForFinished(5000);
    return 0;
}
