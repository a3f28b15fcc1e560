#include "calcd/outlineprogram.h"

#include "calcd/answerformat.h"
#include "calcd/clipperunits.h"
#include "calcd/copperbuilder.h"
#include "calcd/gcodewriter.h"
#include "calcd/gerberfile.h"
#include "calcd/loopchainer.h"

#include <cmath>

using ClipperLib::Path;
using ClipperLib::Paths;

namespace {

constexpr double chainTolerance = 0.05;
constexpr double passDepth = 0.6;
constexpr double safeHeight = 2.0;

QVector<Contour> drawnLines(const gerbv_image_t &image)
{
    QVector<Contour> pieces;
    // Region boundaries are drawn pieces too; only the region markers themselves carry nothing.
    for (const gerbv_net_t *net = image.netlist; net; net = net->next) {
        if (net->aperture_state != GERBV_APERTURE_STATE_ON || net->interpolation == GERBV_INTERPOLATION_DELETED)
            continue;
        QVector<QPointF> points{QPointF(net->start_x, net->start_y) * GerberFile::mmPerInch};
        points += CopperBuilder::netPoints(*net);
        pieces.append(Contour::polyline(points));
    }
    return pieces;
}

Path toPath(const Contour &loop)
{
    Path path;
    for (const QPointF &p : loop.points(ClipperUnits::arcTolerance / ClipperUnits::perMm))
        path.push_back(ClipperUnits::toInt(p.x(), p.y()));
    return path;
}

struct Cut
{
    Path path;
    bool withTabs;
};

// Boards get their cut outside and tabs, cut-outs get theirs inside; cut-outs come first so the
// board is still held while they are cut.
QVector<Cut> cutsFor(const Paths &loops)
{
    double largest = 0;
    for (const Path &loop : loops)
        largest = std::max(largest, std::fabs(ClipperLib::Area(loop)));
    QVector<Cut> holes, boards;
    const double radius = OutlineProgram::cutterDiameter / 2 * ClipperUnits::perMm;
    for (const Path &loop : loops) {
        int containing = 0;
        for (const Path &other : loops)
            if (&other != &loop && std::fabs(ClipperLib::Area(other)) > std::fabs(ClipperLib::Area(loop))
                && ClipperLib::PointInPolygon(loop.front(), other) != 0)
                ++containing;
        const bool board = containing == 0;
        if (containing > 1 || (board && std::fabs(ClipperLib::Area(loop)) < largest / 10))
            continue;
        ClipperLib::ClipperOffset offset(2.0, ClipperUnits::arcTolerance);
        offset.AddPath(loop, ClipperLib::jtRound, ClipperLib::etClosedPolygon);
        Paths paths;
        offset.Execute(paths, board ? radius : -radius);
        for (Path &path : paths) {
            // Counter-clockwise around a board and clockwise inside a cut-out: the board on the left.
            if (ClipperLib::Orientation(path) != board)
                ClipperLib::ReversePath(path);
            (board ? boards : holes).append({path, board});
        }
    }
    return holes + boards;
}

// A closed path in mm with, for each stretch to the next point, whether it crosses a tab.
struct TabbedLoop
{
    QVector<QPointF> points;
    QVector<bool> overTab;
};

TabbedLoop withTabs(const Path &path, int tabs)
{
    TabbedLoop loop;
    QVector<QPointF> corners;
    for (const ClipperLib::IntPoint &p : path)
        corners.append(ClipperUnits::toMm(p));
    corners.append(corners.first());
    double length = 0;
    for (int i = 1; i < corners.size(); ++i)
        length += std::hypot(corners[i].x() - corners[i - 1].x(), corners[i].y() - corners[i - 1].y());
    // Tabs stand at least 2 mm apart; a short outline gets fewer, and narrower ones if need be.
    double span = OutlineProgram::tabWidth + OutlineProgram::cutterDiameter;
    if (tabs > 0) {
        tabs = std::clamp(static_cast<int>(length / (span + 2)), 1, tabs);
        span = std::min(span, length / (2 * tabs));
    }
    QVector<double> marks;
    for (int t = 0; t < tabs; ++t) {
        const double centre = (t + 0.5) * length / tabs;
        marks << centre - span / 2 << centre + span / 2;
    }
    double travelled = 0;
    int mark = 0;
    loop.points.append(corners.first());
    for (int i = 1; i < corners.size(); ++i) {
        const QPointF a = corners[i - 1], b = corners[i];
        const double piece = std::hypot(b.x() - a.x(), b.y() - a.y());
        while (mark < marks.size() && marks[mark] < travelled + piece) {
            const double along = (marks[mark] - travelled) / piece;
            loop.overTab.append(mark % 2 == 1);
            loop.points.append(a + (b - a) * along);
            ++mark;
        }
        loop.overTab.append(mark % 2 == 1);
        loop.points.append(b);
        travelled += piece;
    }
    return loop;
}

void writeCut(GcodeWriter *out, const TabbedLoop &loop, double depth)
{
    const int passes = std::max(1, static_cast<int>(std::ceil(depth / passDepth - 1e-9)));
    const double tabTop = -depth / 2;
    out->words("G0", {{'X', loop.points.first().x()}, {'Y', loop.points.first().y()}});
    for (int pass = 1; pass <= passes; ++pass) {
        const double z = -depth * pass / passes;
        double current = safeHeight;
        for (int i = 1; i < loop.points.size(); ++i) {
            const double wanted = loop.overTab[i - 1] ? std::max(z, tabTop) : z;
            if (wanted != current) {
                out->words("G1", {{'Z', wanted}});
                current = wanted;
            }
            out->words("G1", {{'X', loop.points[i].x()}, {'Y', loop.points[i].y()}});
        }
    }
    out->words("G0", {{'Z', safeHeight}});
}

} // namespace

QStringList OutlineProgram::build(const QString &gerber, double depth, int tabs, QString *problem)
{
    const GerberFile file(gerber);
    if (!file.image() || file.image()->layertype != GERBV_LAYERTYPE_RS274X) {
        *problem = QStringLiteral("not a Gerber outline");
        return {};
    }
    Paths loops;
    for (const Contour &loop : LoopChainer::chain(drawnLines(*file.image()), chainTolerance))
        loops.push_back(toPath(loop));
    const QVector<Cut> cuts = cutsFor(loops);
    if (cuts.isEmpty()) {
        *problem = QStringLiteral("the outline draws no closed loop");
        return {};
    }
    const int boards = static_cast<int>(std::count_if(cuts.begin(), cuts.end(), [](const Cut &c) { return c.withTabs; }));
    GcodeWriter out;
    AnswerFormat::header(&out, QStringLiteral("board outline: boards %1, cut-outs %2").arg(boards).arg(cuts.size() - boards),
                         QStringLiteral("%1 mm cutter, %2 mm deep in passes of at most %3 mm")
                             .arg(GcodeWriter::number(cutterDiameter, 3), GcodeWriter::number(depth, 4),
                                  GcodeWriter::number(passDepth, 3)));
    AnswerFormat::spindleOn(&out, feed);
    out.words("G0", {{'Z', safeHeight}});
    for (const Cut &cut : cuts)
        writeCut(&out, withTabs(cut.path, cut.withTabs ? tabs : 0), depth);
    out.line(QStringLiteral("M5"));
    return out.lines();
}
