// Composes the stages of a PCB pass from a probed surface: protel-pnp's top layer as korvex-calcd
// answers it, and a generated layout of 200,000 engraving lines on a 100 x 80 mm board. The grid is
// probed from a simulated board bowed by 0.2 mm. Prints the seconds to compose, lines out per line
// in, and the worst depth error along the cutting moves, with the moves cut at the grid's cells and
// into 5 mm pieces as the program does, and compensated at their end points only.
#include "link/probemessage.h"
#include "modes/filereaderasync.h"
#include "modes/pcbjob.h"
#include "modes/probegrid.h"
#include "toolpath/tcpsender.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
constexpr double surfaceAtOrigin = -20.0;
constexpr double engravingDepth = 0.1;
constexpr double sampleStep = 0.1;

// A board whose edges lie on the table and whose middle rises by the sagitta (machine coordinates).
struct BowedBoard {
    double left, bottom, width, depth;
    double sagitta = 0.2;

    double heightAt(double x, double y) const
    {
        const double u = (x - left) / width * 2 - 1;
        const double v = (y - bottom) / depth * 2 - 1;
        if (std::fabs(u) >= 1 || std::fabs(v) >= 1)
            return surfaceAtOrigin;
        return surfaceAtOrigin + sagitta * (1 - u * u) * (1 - v * v);
    }
};

QString protelTopAnswer()
{
    QString text;
    if (!FileReaderAsync::readText(QStringLiteral("/usr/share/doc/gerbv/examples/protel-pnp/SE_SG_IF_V2.GTL"), &text)
             .isEmpty())
        return QString();
    QProcess calcd;
    calcd.start(QStringLiteral(CALCD_PROGRAM), {QStringLiteral("--worker")});
    calcd.write(TcpSender::pcbRequestText(TcpSender::PcbLayout, 1.6f, text).toUtf8());
    calcd.closeWriteChannel();
    calcd.waitForFinished(300000);
    return QString::fromUtf8(calcd.readAllStandardOutput());
}

// Rectangular isolation loops, most of them small, every tenth a long one across the board.
QString generatedLayout(int engravingLines)
{
    QRandomGenerator random(7);
    QString text = QStringLiteral("(generated)\n(isolation)\nG21 G90\nM3 S12000 F150\nG0 Z0.5\n");
    const auto number = [](double value) { return QString::number(value, 'f', 4); };
    for (int loop = 0; loop < engravingLines / 5; ++loop) {
        const bool longLoop = loop % 10 == 0;
        const double w = longLoop ? 20 + random.bounded(40.0) : 0.3 + random.bounded(8.0);
        const double h = longLoop ? 10 + random.bounded(30.0) : 0.3 + random.bounded(6.0);
        const double x = random.bounded(100.0 - w), y = random.bounded(80.0 - h);
        text += QStringLiteral("G0 X%1 Y%2\nG1 Z-0.1\nG1 X%3\nG1 Y%4\nG1 X%1\nG1 Y%2\nG0 Z0.5\n")
                    .arg(number(x), number(y), number(x + w), number(y + h));
    }
    return text + QStringLiteral("M5\n");
}

// The worst difference from the engraving depth along straight cuts between work-coordinate points,
// sampled every 0.1 mm; work Z 0 is the surface at the first grid point.
class DepthCheck
{
public:
    DepthCheck(const BowedBoard &board, const QVector3D &origin, double firstHeight)
        : m_board(board), m_origin(origin), m_firstHeight(firstHeight)
    {
    }

    void cut(const QVector3D &from, const QVector3D &to)
    {
        // Plunges are straight down; every other feed move cuts at depth.
        const double length = std::hypot(double(to.x()) - from.x(), double(to.y()) - from.y());
        if (length == 0.0)
            return;
        const int samples = std::max(1, int(std::ceil(length / sampleStep)));
        for (int i = 0; i <= samples; ++i) {
            const QVector3D p = from + (to - from) * float(double(i) / samples);
            const double surface = m_board.heightAt(p.x() + m_origin.x(), p.y() + m_origin.y());
            const double depth = surface - (p.z() + m_firstHeight);
            worst = std::max(worst, std::fabs(depth - engravingDepth));
        }
    }

    double worst = 0.0;

private:
    BowedBoard m_board;
    QVector3D m_origin;
    double m_firstHeight;
};

struct Outcome {
    double seconds = 0;
    int linesIn = 0;
    int linesOut = 0;
    double worstSplit = 0;
    double worstEndsOnly = 0;
};

void answerProbes(const QList<SerialMessage *> &messages, const BowedBoard &board, const QVector3D &origin,
                  const ProbeGrid *grid)
{
    int point = 0;
    for (SerialMessage *message : messages) {
        auto *probe = qobject_cast<ProbeMessage *>(message);
        if (!probe)
            continue;
        // The tool probe stands beside the board; the grid's points lie on it.
        const QVector3D p = grid && !message->content().contains(QLatin1String("Z-65"))
                                ? grid->point(point++) + origin
                                : QVector3D(173, 112.5, 0);
        probe->handleResponse(QStringLiteral("[PRB:%1,%2,%3:1]").arg(p.x()).arg(p.y()).arg(board.heightAt(p.x(), p.y()), 0, 'f', 4));
    }
}

Outcome compose(const PcbProgram &layout, const BowedBoard &board, const QVector3D &origin)
{
    PcbJob::Layers layers;
    layers[PcbJob::Top] = layout;
    PcbJobSettings settings;
    settings.toolProbe = settings.tableProbe = QVector2D(173, 112.5);
    PcbJob job(layers, settings, origin, nullptr);
    const QList<SerialMessage *> start = job.startPass();
    answerProbes(start, board, origin, nullptr);
    const QList<SerialMessage *> probing = job.probing();
    answerProbes(probing, board, origin, job.grid());
    qDeleteAll(start);
    qDeleteAll(probing);

    Outcome outcome;
    QElapsedTimer clock;
    clock.start();
    const QList<SerialMessage *> stages = job.stages(QStringLiteral("top"));
    outcome.seconds = clock.nsecsElapsed() / 1e9;
    outcome.linesIn = layout.lines().size();
    outcome.linesOut = stages.size();

    // As milled: every feed line the stage wrote, from where the last move ended.
    const double firstHeight = job.grid()->firstPoint().z();
    DepthCheck split(board, origin, firstHeight);
    QVector3D position;
    for (const SerialMessage *message : stages) {
        const GcodeLine line(message->content());
        if (!line.has(QLatin1Char('G')) || line.value(QLatin1Char('G')) > 1.0f || message->content().startsWith(QLatin1String("G92")))
            continue;
        QVector3D to = position;
        for (const int axis : {0, 1, 2}) {
            const QChar letter = QLatin1Char("XYZ"[axis]);
            if (line.has(letter))
                to[axis] = line.value(letter);
        }
        if (line.value(QLatin1Char('G')) == 1.0f)
            split.cut(position, to);
        position = to;
    }
    qDeleteAll(stages);

    // Each feed move compensated at its end point only, from the previous compensated end.
    DepthCheck endsOnly(board, origin, firstHeight);
    QVector3D programmed, compensated;
    int motion = 0;
    for (const GcodeLine &line : layout.lines()) {
        if (line.has(QLatin1Char('G')))
            motion = int(line.value(QLatin1Char('G')));
        if (!line.has(QLatin1Char('X')) && !line.has(QLatin1Char('Y')) && !line.has(QLatin1Char('Z')))
            continue;
        for (const int axis : {0, 1, 2}) {
            const QChar letter = QLatin1Char("XYZ"[axis]);
            if (line.has(letter))
                programmed[axis] = line.value(letter);
        }
        QVector3D end = programmed;
        if (motion == 1) {
            end.setZ(programmed.z() + job.grid()->heightOffset(programmed.x(), programmed.y()));
            endsOnly.cut(compensated, end);
        }
        compensated = end;
    }
    outcome.worstSplit = split.worst;
    outcome.worstEndsOnly = endsOnly.worst;
    return outcome;
}

void print(const char *name, const Outcome &outcome)
{
    std::printf("%s\n  %d lines in, %d lines out (%.2f out per line in)\n  composed in %.3f s\n"
                "  worst depth error along the cuts: %.4f mm with the moves cut at cells and every 5 mm, "
                "%.4f mm compensated at their ends only\n",
                name, outcome.linesIn, outcome.linesOut, double(outcome.linesOut) / outcome.linesIn, outcome.seconds,
                outcome.worstSplit, outcome.worstEndsOnly);
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const PcbProgram protel = PcbProgram::fromAnswer(protelTopAnswer());
    if (protel.isEmpty()) {
        std::printf("protel-pnp top layer: no answer from korvex-calcd\n");
    } else {
        // The board lies 20 mm in from the table's corner and is bowed over its whole extent.
        const PathGeometry::Extent e = protel.extent();
        const QVector3D origin(20, 10, 0);
        const BowedBoard board{e.minX + origin.x(), e.minY + origin.y(), e.maxX - e.minX, e.maxY - e.minY};
        print("protel-pnp top layer", compose(protel, board, origin));
    }
    const PcbProgram generated = PcbProgram::fromAnswer(generatedLayout(200000));
    print("generated layout, 100 x 80 mm", compose(generated, BowedBoard{0, 0, 100, 80}, QVector3D()));
    return 0;
}
