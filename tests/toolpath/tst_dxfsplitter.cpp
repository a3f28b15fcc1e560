#include "toolpath/dxfsplitter.h"
#include "toolpath/gcodeline.h"
#include "toolpath/gcodepathtracer.h"

#ifdef KORVEX_HAVE_CALCD
#include "calcd/dxfdrawing.h"
#include "calcd/dxfprogram.h"
#include "calcd/loopchainer.h"
#include "modes/filereaderasync.h"
#endif

#include <QtTest>

#include <cmath>

using ClipperLib::Path;
using ClipperLib::Paths;

namespace {

const QString shapeLine = QStringLiteral("(* SHAPE Nr: 1 *)");
const QString endLine = QStringLiteral("M2 (Program end)");

// A closed figure as the server traces it, corners in mm.
QStringList polygonShape(const QVector<QPointF> &corners)
{
    QStringList lines{shapeLine, QStringLiteral("G0 X%1 Y%2").arg(corners.first().x()).arg(corners.first().y()),
                      QStringLiteral("G1 Z-1e-07 F33")};
    for (const QPointF &c : corners.mid(1) + QVector<QPointF>{corners.first()})
        lines << QStringLiteral("G1 X%1 Y%2 F33").arg(c.x()).arg(c.y());
    return lines << QStringLiteral("G1 Z2 F300");
}

QStringList circleShape(double radius)
{
    return {shapeLine, QStringLiteral("G0 X%1 Y0").arg(radius), QStringLiteral("G1 Z-1e-07 F33"),
            QStringLiteral("G3 X%1 Y0 I%2 J0 F33").arg(-radius).arg(-radius),
            QStringLiteral("G3 X%1 Y0 I%2 J0 F33").arg(radius).arg(radius), QStringLiteral("G1 Z2 F300")};
}

QStringList square10()
{
    return polygonShape({{0, 0}, {10, 0}, {10, 10}, {0, 10}}) << endLine;
}

QVector<float> passDepths(const QStringList &program)
{
    QVector<float> depths;
    for (const QString &line : program)
        if (line.startsWith(QLatin1String("G1 Z ")) && (depths.isEmpty() || depths.last() != GcodeLine(line).value(QLatin1Char('Z'))))
            depths << GcodeLine(line).value(QLatin1Char('Z'));
    return depths;
}

QVector<QPointF> tracedPoints(const QStringList &lines)
{
    GcodePathTracer tracer;
    for (const QString &line : lines)
        tracer.trace(GcodeLine(line));
    QVector<QPointF> points;
    for (int i = 0; i + 2 < tracer.vertices().size(); i += 3)
        points << QPointF(tracer.vertices()[i], tracer.vertices()[i + 1]);
    return points;
}

QVector<QPointF> inMm(const Path &ring)
{
    QVector<QPointF> points;
    for (const ClipperLib::IntPoint &p : ring)
        points << QPointF(p.X / 1e7, p.Y / 1e7);
    return points;
}

// Judges a pocket from first principles: what a round cutter of the given radius can reach inside the
// figures (their opening: shrunk by the radius and grown back, both rounded), less what the cutter
// swept along the rings, is the area left standing. The reach is taken a band narrower than exact:
// the traced arcs' chords lie up to 0.003 mm inside the drawn arcs. Works in micrometres, apart from
// the splitter's units.
class PocketJudge
{
public:
    static constexpr double perMm = 1e3;
    static constexpr double chordBand = 0.005;

    PocketJudge(const QVector<QVector<QPointF>> &figures, double radius) : radius(radius)
    {
        ClipperLib::Clipper clipper;
        for (const QVector<QPointF> &figure : figures)
            clipper.AddPath(toUnits(figure), ClipperLib::ptSubject, true);
        clipper.Execute(ClipperLib::ctUnion, tree, ClipperLib::pftEvenOdd, ClipperLib::pftEvenOdd);
    }

    // The largest uncut area inside any one outer figure, in mm².
    double worstUncutArea(const QVector<Path> &rings) const
    {
        Paths swept;
        ClipperLib::ClipperOffset sweep(2.0, 0.0005 * perMm);
        for (const Path &ring : rings)
            sweep.AddPath(toUnits(inMm(ring)), ClipperLib::jtRound, ClipperLib::etClosedLine);
        sweep.Execute(swept, radius * perMm);
        double worst = 0;
        for (const ClipperLib::PolyNode *outer : tree.Childs) {
            Paths figure{outer->Contour};
            for (const ClipperLib::PolyNode *hole : outer->Childs)
                figure.push_back(hole->Contour);
            worst = std::max(worst, area(difference(opening(figure), swept)) / (perMm * perMm));
        }
        return worst;
    }

    // How far the rings' lines reach outside the figures beyond the tolerance, as a count of pieces.
    int ringPiecesOutside(const QVector<Path> &rings, double toleranceMm) const
    {
        Paths figures;
        ClipperLib::PolyTreeToPaths(tree, figures);
        ClipperLib::ClipperOffset grow;
        grow.AddPaths(figures, ClipperLib::jtRound, ClipperLib::etClosedPolygon);
        Paths grown;
        grow.Execute(grown, toleranceMm * perMm);
        ClipperLib::Clipper clipper;
        for (const Path &ring : rings) {
            Path line = toUnits(inMm(ring));
            line.push_back(line.front());
            clipper.AddPath(line, ClipperLib::ptSubject, false);
        }
        clipper.AddPaths(grown, ClipperLib::ptClip, true);
        ClipperLib::PolyTree outside;
        clipper.Execute(ClipperLib::ctDifference, outside, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
        Paths pieces;
        ClipperLib::OpenPathsFromPolyTree(outside, pieces);
        return int(pieces.size());
    }

    int figureCount() const { return tree.ChildCount(); }

private:
    static Path toUnits(const QVector<QPointF> &points)
    {
        Path path;
        for (const QPointF &p : points)
            path.emplace_back(ClipperLib::cInt(std::llround(p.x() * perMm)), ClipperLib::cInt(std::llround(p.y() * perMm)));
        return path;
    }

    Paths opening(const Paths &figure) const
    {
        Paths shrunk, opened;
        ClipperLib::ClipperOffset in(2.0, 0.0005 * perMm);
        in.AddPaths(figure, ClipperLib::jtRound, ClipperLib::etClosedPolygon);
        in.Execute(shrunk, -(radius + chordBand) * perMm);
        ClipperLib::ClipperOffset out(2.0, 0.0005 * perMm);
        out.AddPaths(shrunk, ClipperLib::jtRound, ClipperLib::etClosedPolygon);
        out.Execute(opened, radius * perMm);
        return opened;
    }

    static Paths difference(const Paths &a, const Paths &b)
    {
        ClipperLib::Clipper clipper;
        clipper.AddPaths(a, ClipperLib::ptSubject, true);
        clipper.AddPaths(b, ClipperLib::ptClip, true);
        Paths out;
        clipper.Execute(ClipperLib::ctDifference, out, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
        return out;
    }

    static double area(const Paths &paths)
    {
        double sum = 0;
        for (const Path &p : paths)
            sum += ClipperLib::Area(p);
        return sum;
    }

    double radius;
    ClipperLib::PolyTree tree;
};

} // namespace

class TestDxfSplitter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void withoutTwoBoundariesNothingIsMilled_data();
    void withoutTwoBoundariesNothingIsMilled();
    void passesEndExactlyAtTheDepth_data();
    void passesEndExactlyAtTheDepth();
    void squareRingsLieAtTheirDistances_data();
    void squareRingsLieAtTheirDistances();
    void ringWithAHoleIsCutOutsideAndInside();
    void tracerFollowsArcsAndModalMoves_data();
    void tracerFollowsArcsAndModalMoves();
    void programLinesHaveTheirSpacing();
    void badInputIsRefusedOrHarmless_data();
    void badInputIsRefusedOrHarmless();
    void pocketsLeaveNoReachableAreaUncut_data();
    void pocketsLeaveNoReachableAreaUncut();
};

void TestDxfSplitter::withoutTwoBoundariesNothingIsMilled_data()
{
    QTest::addColumn<QStringList>("input");
    QTest::newRow("no boundary") << QStringList{QStringLiteral("G0 X0 Y0"), QStringLiteral("G1 X10 Y0"), QStringLiteral("G1 X10 Y10")};
    QTest::newRow("one boundary") << polygonShape({{0, 0}, {10, 0}, {10, 10}});
    QTest::newRow("lines after the end") << (QStringList{endLine} + polygonShape({{0, 0}, {10, 0}, {10, 10}}).mid(1));
}

void TestDxfSplitter::withoutTwoBoundariesNothingIsMilled()
{
    QFETCH(QStringList, input);
    for (const int mode : {DXFSplitter::Pocket, DXFSplitter::Cut}) {
        const DXFSplitter splitter(input, 33, 12000, 1, 0.25f, 3, mode);
        QCOMPARE(splitter.result(), (QStringList{QStringLiteral("G0 Z  5.000 "), QStringLiteral("F33"), QStringLiteral("S12000"),
                                                 QStringLiteral("M3"), QStringLiteral("G92.1"), QStringLiteral("G0 Z0"),
                                                 QStringLiteral("M5"), QStringLiteral("\n")}));
    }
}

void TestDxfSplitter::passesEndExactlyAtTheDepth_data()
{
    QTest::addColumn<float>("depth");
    QTest::addColumn<float>("perPass");
    QTest::addColumn<QVector<float>>("passes");
    QTest::newRow("1.0 in 0.25") << 1.0f << 0.25f << QVector<float>{-0.25f, -0.5f, -0.75f, -1.0f};
    QTest::newRow("0.6 in 0.25") << 0.6f << 0.25f << QVector<float>{-0.25f, -0.5f, -0.6f};
    QTest::newRow("below one pass") << 0.1f << 0.25f << QVector<float>{-0.1f};
}

void TestDxfSplitter::passesEndExactlyAtTheDepth()
{
    QFETCH(float, depth);
    QFETCH(float, perPass);
    QFETCH(QVector<float>, passes);
    const DXFSplitter splitter(square10(), 33, 12000, depth, perPass, 3, DXFSplitter::Cut);
    QCOMPARE(passDepths(splitter.result()), passes);
    QCOMPARE(splitter.result().count(QStringLiteral("G0 Z  5.000 ")), passes.size() + 1);
}

void TestDxfSplitter::squareRingsLieAtTheirDistances_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QVector<double>>("halfSides");
    // Cut: 1.5 mm outside with square corners; pocket: 1.5, 1.65, 2.55, 3.45, 4.35 mm inside the
    // edges of the 10 mm square; 5.25 mm would pass the middle.
    QTest::newRow("cut") << int(DXFSplitter::Cut) << QVector<double>{6.5};
    QTest::newRow("pocket") << int(DXFSplitter::Pocket) << QVector<double>{3.5, 3.35, 2.45, 1.55, 0.65};
}

void TestDxfSplitter::squareRingsLieAtTheirDistances()
{
    QFETCH(int, mode);
    QFETCH(QVector<double>, halfSides);
    const DXFSplitter splitter(square10(), 33, 12000, 1, 1, 3, mode);
    QCOMPARE(splitter.toolPaths().size(), halfSides.size());
    for (int i = 0; i < halfSides.size(); ++i) {
        const QVector<QPointF> ring = inMm(splitter.toolPaths()[i]);
        QCOMPARE(ring.size(), 4);
        for (const QPointF &p : ring) {
            QVERIFY2(std::fabs(std::fabs(p.x() - 5) - halfSides[i]) < 1e-5, qPrintable(QString::number(p.x())));
            QVERIFY2(std::fabs(std::fabs(p.y() - 5) - halfSides[i]) < 1e-5, qPrintable(QString::number(p.y())));
        }
    }
}

void TestDxfSplitter::ringWithAHoleIsCutOutsideAndInside()
{
    const DXFSplitter splitter(circleShape(10) + circleShape(5) << endLine, 33, 12000, 1, 1, 1, DXFSplitter::Cut);
    QCOMPARE(splitter.toolPaths().size(), 2);
    QVector<double> radii;
    for (const Path &ring : splitter.toolPaths()) {
        double low = 1e9, high = 0;
        for (const QPointF &p : inMm(ring)) {
            low = std::min(low, std::hypot(p.x(), p.y()));
            high = std::max(high, std::hypot(p.x(), p.y()));
        }
        // Chords of the traced circle lie a little inside it; mitred joins reach a little further out.
        QVERIFY(high - low < 0.01);
        radii << (low + high) / 2;
    }
    std::sort(radii.begin(), radii.end());
    QVERIFY(std::fabs(radii[0] - 4.5) < 0.01);
    QVERIFY(std::fabs(radii[1] - 10.5) < 0.01);
}

void TestDxfSplitter::tracerFollowsArcsAndModalMoves_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QPointF>("centre");
    QTest::addColumn<double>("radius");
    QTest::addColumn<int>("points");
    // 10 * pi/2 = 15.7 gives n = 15 and a step of (pi/2) / (15 * 2): 30 chords, then the end point;
    // three quarters: n = 47, 94 chords; a full circle of radius 5: n = 62, 93 chords.
    QTest::newRow("quarter, offset form") << QStringList{QStringLiteral("G0 X10 Y0"), QStringLiteral("G3 X0 Y10 I-10 J0")}
                                          << QPointF(0, 0) << 10.0 << 31;
    QTest::newRow("quarter, radius form clockwise") << QStringList{QStringLiteral("G0 X0 Y10"), QStringLiteral("G2 X10 Y0 R10")}
                                                    << QPointF(0, 0) << 10.0 << 31;
    QTest::newRow("three quarters, negative radius") << QStringList{QStringLiteral("G0 X0 Y10"), QStringLiteral("G2 X10 Y0 R-10")}
                                                     << QPointF(10, 10) << 10.0 << 95;
    QTest::newRow("start equals end: full circle") << QStringList{QStringLiteral("G0 X5 Y0"), QStringLiteral("G2 X5 Y0 I-5 J0")}
                                                   << QPointF(0, 0) << 5.0 << 94;
    QTest::newRow("under 0.1 rad: end point only") << QStringList{QStringLiteral("G0 X10 Y0"), QStringLiteral("G3 X9.9955 Y0.2999 I-10 J0")}
                                                   << QPointF(0, 0) << 10.0 << 1;
    QTest::newRow("F word line ignored, modal repeat kept")
        << QStringList{QStringLiteral("G0 X10 Y0"), QStringLiteral("G1 X0 Y10"), QStringLiteral("X-10 Y0 F100"),
                       QStringLiteral("X-10 Y0"), QStringLiteral("M3"), QStringLiteral("G21"), QStringLiteral("X0 Y-10")}
        << QPointF(0, 0) << 10.0 << 3;
}

void TestDxfSplitter::tracerFollowsArcsAndModalMoves()
{
    QFETCH(QStringList, lines);
    QFETCH(QPointF, centre);
    QFETCH(double, radius);
    QFETCH(int, points);
    const QVector<QPointF> traced = tracedPoints(lines);
    QCOMPARE(traced.size(), points);
    for (const QPointF &p : traced)
        QVERIFY2(std::fabs(std::hypot(p.x() - centre.x(), p.y() - centre.y()) - radius) < 1e-3,
                 qPrintable(QStringLiteral("%1, %2").arg(p.x()).arg(p.y())));
    const GcodeLine last(lines.last());
    QCOMPARE(traced.last(), QPointF(last.value(QLatin1Char('X')), last.value(QLatin1Char('Y'))));
}

void TestDxfSplitter::programLinesHaveTheirSpacing()
{
    const QStringList program =
        DXFSplitter(polygonShape({{10, 1.75}, {20, 1.75}, {20, 10}}) << endLine, 33, 12000, 0.25f, 0.25f, 3, DXFSplitter::Pocket).result();
    QCOMPARE(program.mid(0, 4), (QStringList{QStringLiteral("G0 Z  5.000 "), QStringLiteral("F33"), QStringLiteral("S12000"), QStringLiteral("M3")}));
    QCOMPARE(program.at(4), QStringLiteral("G0 Z  5.000 "));
    QVERIFY(QRegularExpression(QStringLiteral("^G0 X[-0-9.]+ Y [-0-9.]+$")).match(program.at(5)).hasMatch());
    QCOMPARE(program.at(6), QStringLiteral("G1 Z -0.25"));
    QCOMPARE(program.at(7), QString(program.at(5)).replace(QLatin1String("G0"), QLatin1String("G1")));
    QVERIFY(QRegularExpression(QStringLiteral("^G1 X[-0-9.]+ Y [-0-9.]+$")).match(program.at(8)).hasMatch());
    QCOMPARE(program.mid(program.size() - 4), (QStringList{QStringLiteral("G92.1"), QStringLiteral("G0 Z0"), QStringLiteral("M5"), QStringLiteral("\n")}));
}

void TestDxfSplitter::badInputIsRefusedOrHarmless_data()
{
    QTest::addColumn<QStringList>("input");
    QTest::addColumn<float>("perPass");
    QTest::addColumn<float>("diameter");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<int>("rings");
    const QStringList square = square10();
    QTest::newRow("no depth per pass") << square << 0.0f << 3.0f << 0 << QStringLiteral("The depth per pass must be more than 0 mm.") << 0;
    QTest::newRow("negative depth per pass") << square << -0.25f << 3.0f << 1 << QStringLiteral("The depth per pass must be more than 0 mm.") << 0;
    QTest::newRow("cutter of 0 mm") << square << 0.25f << 0.0f << 0 << QStringLiteral("The cutter diameter must be more than 0 mm.") << 0;
    QTest::newRow("negative cutter") << square << 0.25f << -3.0f << 1 << QStringLiteral("The cutter diameter must be more than 0 mm.") << 0;
    QTest::newRow("1000 mm cutter pocket") << square << 0.25f << 1000.0f << 0 << QString() << 0;
    QTest::newRow("1000 mm cutter cut") << square << 0.25f << 1000.0f << 1 << QString() << 1;
    QTest::newRow("hair-thin cutter") << square << 0.25f << 1e-6f << 0
                                      << QStringLiteral("The program would exceed 4000000 lines; choose a larger cutter or depth per pass.") << 0;
    QTest::newRow("huge coordinates") << (polygonShape({{0, 0}, {1e12, 0}, {1e12, 1e12}}) << endLine) << 0.25f << 3.0f << 0
                                      << QStringLiteral("The drawing reaches beyond 10000 mm; check its units.") << 0;
    QTest::newRow("self-intersecting bow tie") << (polygonShape({{0, 0}, {20, 20}, {20, 0}, {0, 20}}) << endLine) << 0.25f << 1.0f << 0
                                               << QString() << 4;
    QTest::newRow("open figure") << (QStringList{shapeLine, QStringLiteral("G0 X0 Y0"), QStringLiteral("G1 X0 Y0"), QStringLiteral("G1 X20 Y0"),
                                                 QStringLiteral("G1 X20 Y20")} << endLine)
                                 << 0.25f << 1.0f << 1 << QString() << 1;
    QTest::newRow("zero area") << (polygonShape({{0, 0}, {20, 0}, {0, 0}}) << endLine) << 0.25f << 1.0f << 0 << QString() << 0;
    QTest::newRow("arc of a huge radius") << (QStringList{shapeLine, QStringLiteral("G0 X0 Y0"), QStringLiteral("G3 X-2000000 Y0 I-1000000 J0"),
                                                          QStringLiteral("G1 X0 Y10")} << endLine)
                                          << 0.25f << 1.0f << 0 << QStringLiteral("The drawing reaches beyond 10000 mm; check its units.") << 0;
    QTest::newRow("garbage") << QStringList{shapeLine, QStringLiteral("G2"), QStringLiteral("G3 R0 X"), QStringLiteral("XYZ"), QStringLiteral("G1 X1e30"), endLine}
                             << 0.25f << 1.0f << 0 << QStringLiteral("The drawing reaches beyond 10000 mm; check its units.") << 0;
}

void TestDxfSplitter::badInputIsRefusedOrHarmless()
{
    QFETCH(QStringList, input);
    QFETCH(float, perPass);
    QFETCH(float, diameter);
    QFETCH(int, mode);
    QFETCH(QString, refusal);
    QFETCH(int, rings);
    const DXFSplitter splitter(input, 33, 12000, 1, perPass, diameter, mode);
    QCOMPARE(splitter.error(), refusal);
    QCOMPARE(splitter.result().isEmpty(), !refusal.isEmpty());
    if (rings > 1)
        QVERIFY(splitter.toolPaths().size() >= rings);
    else
        QCOMPARE(splitter.toolPaths().size(), rings);
}

void TestDxfSplitter::pocketsLeaveNoReachableAreaUncut_data()
{
    QTest::addColumn<QString>("drawing");
    QTest::addColumn<double>("diameter");
    QTest::newRow("10 mm square, 3 mm cutter") << QString() << 3.0;
    QTest::newRow("Tube-CRT-RGB, 1 mm cutter") << QStringLiteral("/usr/share/librecad/library/elektro/meter-iso/Tube-CRT-RGB.dxf") << 1.0;
}

void TestDxfSplitter::pocketsLeaveNoReachableAreaUncut()
{
    QFETCH(QString, drawing);
    QFETCH(double, diameter);
    QStringList trace = square10();
    QVector<QVector<QPointF>> figures{{{0, 0}, {10, 0}, {10, 10}, {0, 10}}};
    if (!drawing.isEmpty()) {
#ifdef KORVEX_HAVE_CALCD
        if (!QFile::exists(drawing))
            QSKIP("librecad-data is not installed");
        QString text;
        QVERIFY(FileReaderAsync::readText(drawing, &text).isEmpty());
        DxfProgram::Cut once;
        once.depth = once.depthPerPass = DxfProgram::traceDepth;
        trace = DxfProgram::build(text, once).mid(4);
        figures.clear();
        for (const Contour &figure : LoopChainer::chain(DxfDrawing::read(text), 0.01))
            figures << figure.points(0.0005);
#else
        QSKIP("korvex-calcd is not built");
#endif
    }
    const DXFSplitter splitter(trace, 300, 12000, 1, 0.5f, float(diameter), DXFSplitter::Pocket);
    QVERIFY(splitter.error().isEmpty());
    const PocketJudge judge(figures, diameter / 2);
    QVERIFY(judge.figureCount() > 0);
    const double worst = judge.worstUncutArea(splitter.toolPaths());
    qInfo("%d figures, %d rings, largest uncut area %.5f mm²", judge.figureCount(), int(splitter.toolPaths().size()), worst);
    QVERIFY2(worst < 0.05, qPrintable(QString::number(worst)));
    QCOMPARE(judge.ringPiecesOutside(splitter.toolPaths(), 0.01), 0);
}

QTEST_GUILESS_MAIN(TestDxfSplitter)
#include "tst_dxfsplitter.moc"
