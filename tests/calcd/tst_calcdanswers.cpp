// Answers of every request kind on real sample files, checked for what they mean: where the
// tool goes relative to the copper, the holes, the board, the part and the drawing.
// gerbv's glib headers use "signals" as a name: they come before any Qt object header.
#include "calcd/clipperunits.h"
#include "calcd/copperbuilder.h"
#include "calcd/gerberfile.h"
#include "calcd/stlmesh.h"

#include "calcdtestserver.h"
#include "grblcheck.h"
#include "preview/layoutdisplayconverter.h"
#include "toolpath/gcodeline.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

#include <cmath>

using ClipperLib::Paths;

namespace {

const QString gerbv = QStringLiteral("/usr/share/doc/gerbv/examples/");
const QString protel = gerbv + QStringLiteral("protel-pnp/SE_SG_IF_V2.");
const QString prusaShapes = QStringLiteral("/var/cache/korvex-samples/prusa/usr/share/PrusaSlicer/shapes/");
const QString openscad = QStringLiteral("/usr/share/openscad/testdata/");
const QString librecad = QStringLiteral("/usr/share/librecad/library/");
constexpr double toolWidth = 0.1536;
constexpr double perMm = ClipperUnits::perMm;

QStringList linesOf(const QByteArray &answer)
{
    return QString::fromUtf8(answer).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

Paths offset(const Paths &paths, double mm, ClipperLib::EndType end = ClipperLib::etClosedPolygon)
{
    ClipperLib::ClipperOffset grow(2.0, 0.001 * perMm);
    grow.AddPaths(paths, ClipperLib::jtRound, end);
    Paths out;
    grow.Execute(out, mm * perMm);
    return out;
}

double area(const Paths &paths)
{
    double sum = 0;
    for (const auto &path : paths)
        sum += ClipperLib::Area(path);
    return std::fabs(sum) / (perMm * perMm);
}

Paths toPaths(const QVector<Stretch> &stretches)
{
    Paths paths;
    for (const Stretch &s : stretches) {
        ClipperLib::Path path;
        for (const QPointF &p : s.points)
            path.push_back(ClipperUnits::toInt(p.x(), p.y()));
        paths.push_back(path);
    }
    return paths;
}

// Length in mm of the parts of open paths that run inside the polygons.
double lengthInside(const Paths &open, const Paths &polygons)
{
    ClipperLib::Clipper c;
    c.AddPaths(open, ClipperLib::ptSubject, false);
    c.AddPaths(polygons, ClipperLib::ptClip, true);
    ClipperLib::PolyTree tree;
    c.Execute(ClipperLib::ctIntersection, tree, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
    Paths inside;
    ClipperLib::OpenPathsFromPolyTree(tree, inside);
    double length = 0;
    for (const auto &path : inside)
        for (size_t i = 1; i < path.size(); ++i)
            length += std::hypot(double(path[i].X - path[i - 1].X), double(path[i].Y - path[i - 1].Y)) / perMm;
    return length;
}

void mirror(Paths *paths, ClipperLib::cInt axisTimesTwo)
{
    for (auto &path : *paths)
        for (auto &p : path)
            p.X = axisTimesTwo - p.X;
}

// Points of the answer that a program draws and measures: the ends of its feed moves.
QRectF feedExtent(const QStringList &lines)
{
    QRectF extent;
    for (const Stretch &s : cuttingStretches(lines))
        for (const QPointF &p : s.points)
            extent = extent.isNull() ? QRectF(p, QSizeF(1e-9, 1e-9)) : extent.united(QRectF(p, QSizeF(1e-9, 1e-9)));
    return extent;
}

} // namespace

class TestCalcdAnswers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void drillVisitsEveryHoleOnce_data();
    void drillVisitsEveryHoleOnce();
    void isolationClearsCopperAndCutsEveryGap_data();
    void isolationClearsCopperAndCutsEveryGap();
    void bottomLayoutIsMirroredWithinItsExtent();
    void outlineLoopsCloseAroundTheBoard();
    void stlNeverCutsIntoThePart_data();
    void stlNeverCutsIntoThePart();
    void dxfFiguresAppearOnce_data();
    void dxfFiguresAppearOnce();

private:
    QByteArray askChecked(const QByteArray &request);
    std::unique_ptr<CalcdTestServer> server;
    // Answers already checked, so that tests sharing a sample file ask for it once.
    QHash<QByteArray, QByteArray> answers;
};

void TestCalcdAnswers::initTestCase()
{
    if (!QFile::exists(protel + QStringLiteral("GTL")))
        QSKIP("gerbv's examples are not installed");
    server = std::make_unique<CalcdTestServer>();
    QVERIFY(server->isRunning());
}

QByteArray TestCalcdAnswers::askChecked(const QByteArray &request)
{
    if (answers.contains(request))
        return answers.value(request);
    const QByteArray answer = server->ask(request, 120000);
    answers.insert(request, answer);
    const QStringList problems = answerProblems(QString::fromUtf8(answer));
    [&] { QVERIFY2(problems.isEmpty(), qPrintable(problems.mid(0, 5).join(QLatin1Char('\n')))); }();
    return answer;
}

void TestCalcdAnswers::drillVisitsEveryHoleOnce_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("holesInText");
    QTest::newRow("protel inch, leading zeros") << protel + QStringLiteral("TXT") << 427;
    QTest::newRow("metric without header") << gerbv + QStringLiteral("nollezappare/ThruHolePlated.ncd") << -1;
    QTest::newRow("metric with rout") << gerbv + QStringLiteral("amacro-ref/jj1.drl") << -1;
    QTest::newRow("ekf2 inch") << gerbv + QStringLiteral("ekf2/drill0.exc") << -1;
}

void TestCalcdAnswers::drillVisitsEveryHoleOnce()
{
    QFETCH(QString, path);
    QFETCH(int, holesInText);
    if (!QFile::exists(path))
        QSKIP("sample file missing");
    const QString text = CalcdTestServer::fileText(path);
    const QStringList lines = linesOf(askChecked(CalcdTestServer::pcbRequest(QStringLiteral("Drill"), 2, text)));
    QVERIFY(!lines.isEmpty());

    const GerberFile file(text);
    QVERIFY(file.image());
    QMultiMap<QPair<qint64, qint64>, int> expected;
    for (const gerbv_net_t *net = file.image()->netlist; net; net = net->next)
        if (net->aperture_state == GERBV_APERTURE_STATE_FLASH)
            expected.insert({qRound64(net->stop_x * 25400), qRound64(net->stop_y * 25400)}, 1);
    if (holesInText > 0)
        QCOMPARE(expected.size(), holesInText);

    QMultiMap<QPair<qint64, qint64>, int> drilled;
    int toolChanges = 0;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].contains(QLatin1String("Change tool bit to"))) {
            ++toolChanges;
            QVERIFY(lines[i].contains(QRegularExpression(QStringLiteral("drill size \\d+(\\.\\d+)? mm"))));
            QVERIFY(i + 3 < lines.size());
            QVERIFY(!lines[i + 1].contains(QLatin1Char('X')) && !lines[i + 2].contains(QLatin1Char('X')));
        }
        const GcodeLine line(lines[i]);
        if (line.command() == QLatin1String("G1")) {
            QCOMPARE(line.value(QLatin1Char('Z')), -2.0f);
            const GcodeLine above(lines[i - 1]);
            drilled.insert({qRound64(above.value(QLatin1Char('X')) * 1000), qRound64(above.value(QLatin1Char('Y')) * 1000)}, 1);
        }
    }
    QVERIFY(toolChanges >= 1);
    QCOMPARE(drilled.size(), expected.size());
    for (auto hole = expected.keyBegin(); hole != expected.keyEnd(); ++hole) {
        bool found = false;
        for (auto d = drilled.keyBegin(); d != drilled.keyEnd() && !found; ++d)
            found = std::abs(d->first - hole->first) <= 1 && std::abs(d->second - hole->second) <= 1;
        QVERIFY2(found, "a hole of the file is not drilled");
    }
}

void TestCalcdAnswers::isolationClearsCopperAndCutsEveryGap_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("bottom");
    QTest::newRow("protel top") << protel + QStringLiteral("GTL") << false;
    QTest::newRow("protel bottom") << protel + QStringLiteral("GBL") << true;
    QTest::newRow("macros") << gerbv + QStringLiteral("am-test/am-test.gbx") << false;
    QTest::newRow("clear polarity") << gerbv + QStringLiteral("polarity/6_vbat.gbr") << false;
    QTest::newRow("step and repeat") << gerbv + QStringLiteral("dan/top_sr.gbx") << false;
}

void TestCalcdAnswers::isolationClearsCopperAndCutsEveryGap()
{
    QFETCH(QString, path);
    QFETCH(bool, bottom);
    const QString text = CalcdTestServer::fileText(path);
    const QStringList lines = linesOf(
        askChecked(CalcdTestServer::pcbRequest(bottom ? QStringLiteral("BotLayout") : QStringLiteral("Layout"), 1.6, text)));
    QVERIFY(lines.size() > 3);

    const GerberFile file(text);
    Paths copper = CopperBuilder::build(*file.image());
    QVERIFY(area(copper) > 0);
    // A bottom answer is mirrored within its own extent.
    if (bottom) {
        const QRectF extent = feedExtent(lines);
        mirror(&copper, std::llround((extent.left() + extent.right()) * perMm));
    }
    const double r = toolWidth / 2;
    const QVector<Stretch> stretches = cuttingStretches(lines);
    for (const Stretch &s : stretches)
        for (const double z : s.z)
            QVERIFY(std::fabs(z + 0.1) < 1e-6);
    const Paths cuts = toPaths(stretches);

    // Round corners of the paths are flattened to within 5 micrometres of the true arcs.
    const double touching = lengthInside(cuts, offset(copper, r - 0.01));
    QVERIFY2(touching < 1e-6, qPrintable(QStringLiteral("the tool runs %1 mm over copper").arg(touching)));
    const Paths band = ClipperUnits::combine(offset(copper, r + 0.01), offset(copper, r - 0.01), ClipperLib::ctDifference);
    const Paths uncut = ClipperUnits::combine(band, offset(cuts, r, ClipperLib::etOpenRound), ClipperLib::ctDifference);
    QVERIFY2(area(uncut) < 1e-3 * area(band), qPrintable(QStringLiteral("uncut %1 of %2 mm2").arg(area(uncut)).arg(area(band))));

    // The preview's display form takes the answer as it is.
    QVector<GcodeLine> parsed;
    for (const QString &line : lines)
        parsed.append(GcodeLine(line));
    LayoutDisplayConverter converter;
    converter.convert(parsed);
    QCOMPARE(converter.output().first(), QStringLiteral("G0 Z15"));
    QVERIFY(converter.output().size() >= lines.size() - 3);
}

void TestCalcdAnswers::bottomLayoutIsMirroredWithinItsExtent()
{
    // The program undoes the mirror for its drawing from the answer alone: the mirrored answer
    // must cover the same area as the plain one, with every cutting point at its mirror image.
    const QString bottom = CalcdTestServer::fileText(protel + QStringLiteral("GBL"));
    const QStringList plain = linesOf(askChecked(CalcdTestServer::pcbRequest(QStringLiteral("Layout"), 1.6, bottom)));
    const QStringList mirrored = linesOf(askChecked(CalcdTestServer::pcbRequest(QStringLiteral("BotLayout"), 1.6, bottom)));
    const QRectF plainExtent = feedExtent(plain), mirroredExtent = feedExtent(mirrored);
    QVERIFY(std::fabs(plainExtent.left() - mirroredExtent.left()) < 1e-3);
    QVERIFY(std::fabs(plainExtent.right() - mirroredExtent.right()) < 1e-3);
    QVERIFY(std::fabs(plainExtent.top() - mirroredExtent.top()) < 1e-3);
    QVERIFY(std::fabs(plainExtent.bottom() - mirroredExtent.bottom()) < 1e-3);

    const double axisTimesTwo = plainExtent.left() + plainExtent.right();
    const auto cellsOf = [](const QStringList &lines, double flip) {
        QSet<QPair<qint64, qint64>> cells;
        for (const Stretch &s : cuttingStretches(lines))
            for (const QPointF &p : s.points)
                cells.insert({std::llround((flip == 0 ? p.x() : flip - p.x()) * 100), std::llround(p.y() * 100)});
        return cells;
    };
    const auto covers = [](const QSet<QPair<qint64, qint64>> &cells, const QSet<QPair<qint64, qint64>> &wanted) {
        return std::all_of(wanted.begin(), wanted.end(), [&cells](const QPair<qint64, qint64> &c) {
            for (qint64 dx = -1; dx <= 1; ++dx)
                for (qint64 dy = -1; dy <= 1; ++dy)
                    if (cells.contains({c.first + dx, c.second + dy}))
                        return true;
            return false;
        });
    };
    const auto plainCells = cellsOf(plain, 0), turnedCells = cellsOf(mirrored, axisTimesTwo);
    QVERIFY(plainCells.size() > 1000);
    QVERIFY(covers(plainCells, turnedCells));
    QVERIFY(covers(turnedCells, plainCells));
}

void TestCalcdAnswers::outlineLoopsCloseAroundTheBoard()
{
    const QStringList lines = linesOf(askChecked(
        CalcdTestServer::pcbRequest(QStringLiteral("Outline"), 1.8, CalcdTestServer::fileText(protel + QStringLiteral("GM1")))));
    const QVector<Stretch> stretches = cuttingStretches(lines);
    QVERIFY(!stretches.isEmpty());
    // The board is the 4.134 inch square at the origin drawn in the file.
    const double side = 4.134 * 25.4;
    int tabRaises = 0;
    for (const Stretch &s : stretches) {
        QVERIFY(std::hypot(s.points.first().x() - s.points.last().x(), s.points.first().y() - s.points.last().y()) < 0.01);
        ClipperLib::Path loop = toPaths({s}).front();
        for (const QPointF &corner : {QPointF(0, 0), QPointF(side, 0), QPointF(side, side), QPointF(0, side)})
            QVERIFY(ClipperLib::PointInPolygon(ClipperUnits::toInt(corner.x(), corner.y()), loop) == 1);
        for (int i = 0; i < s.points.size(); ++i) {
            const QPointF p = s.points[i];
            const double dx = std::max({-p.x(), 0.0, p.x() - side}), dy = std::max({-p.y(), 0.0, p.y() - side});
            QVERIFY2(std::hypot(dx, dy) > 1 - 0.01, "the cutter enters the board");
            QVERIFY(s.z[i] >= -1.8 - 1e-6);
            if (i > 0 && s.z[i] > s.z[i - 1] && std::fabs(s.z[i - 1] + 1.8) < 1e-6)
                ++tabRaises;
        }
    }
    QCOMPARE(std::count_if(lines.begin(), lines.end(), [](const QString &l) { return l == QLatin1String("G1 Z-1.8"); }), 4L);
    QCOMPARE(tabRaises, 3);
}

void TestCalcdAnswers::stlNeverCutsIntoThePart_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("binary");
    QTest::newRow("admesh block, ASCII") << QStringLiteral("/usr/share/doc/admesh/examples/block.stl") << false;
    QTest::newRow("openscad circuit, binary") << openscad + QStringLiteral("stl/adns2610_dev_circuit_inv.stl") << true;
    QTest::newRow("prusa cone") << prusaShapes + QStringLiteral("cone.stl") << true;
    QTest::newRow("prusa hex nut") << prusaShapes + QStringLiteral("M3_hex_nut.stl") << true;
    QTest::newRow("prusa bunny, binary starting with solid") << prusaShapes + QStringLiteral("bunny.stl") << true;
}

void TestCalcdAnswers::stlNeverCutsIntoThePart()
{
    QFETCH(QString, path);
    QFETCH(bool, binary);
    if (!QFile::exists(path))
        QSKIP("sample shape missing: run scripts/install-deps.sh to fetch PrusaSlicer's shapes");
    const double diameter = 2, depth = 4, feed = 250, perPass = 1.5;
    const QByteArray bytes = CalcdTestServer::fileBytes(path);
    const QByteArray request = binary ? CalcdTestServer::rawStlRequest(bytes, diameter, depth, feed, perPass)
                                      : CalcdTestServer::stlRequest(CalcdTestServer::fileText(path), diameter, depth, feed, perPass);
    const QStringList lines = linesOf(askChecked(request));
    QVERIFY(!lines.isEmpty());
    for (const QString &line : lines)
        if (line.startsWith(QLatin1String("G1")))
            QCOMPARE(GcodeLine(line).value(QLatin1Char('F')), float(feed));

    StlMesh mesh;
    QVERIFY(mesh.read(bytes));
    mesh.placeTopAtZero();
    // The tool's tip may not sink under any corner of the mesh inside its circle, nor under the
    // facet straight below its centre.
    const double r = diameter / 2;
    const auto lowestAllowed = [&](double x, double y) {
        double h = -depth;
        for (const StlMesh::Triangle &t : mesh.triangles()) {
            for (const StlMesh::Point &p : t)
                if (std::hypot(p.x - x, p.y - y) <= r)
                    h = std::max(h, p.z);
            const double d = (t[1].y - t[2].y) * (t[0].x - t[2].x) + (t[2].x - t[1].x) * (t[0].y - t[2].y);
            if (std::fabs(d) < 1e-12)
                continue;
            const double a = ((t[1].y - t[2].y) * (x - t[2].x) + (t[2].x - t[1].x) * (y - t[2].y)) / d;
            const double b = ((t[2].y - t[0].y) * (x - t[2].x) + (t[0].x - t[2].x) * (y - t[2].y)) / d;
            if (a >= 0 && b >= 0 && a + b <= 1)
                h = std::max(h, a * t[0].z + b * t[1].z + (1 - a - b) * t[2].z);
        }
        return h;
    };
    int checked = 0;
    const QVector<Stretch> stretches = cuttingStretches(lines);
    for (int n = 0; n < stretches.size(); n += std::max(1, int(stretches.size() / 12))) {
        const Stretch &s = stretches[n];
        for (int i = 1; i < s.points.size(); ++i) {
            const int steps = std::max(1, int(std::hypot(s.points[i].x() - s.points[i - 1].x(), s.points[i].y() - s.points[i - 1].y()) / 0.1));
            for (int k = 0; k <= steps; ++k) {
                const double f = double(k) / steps;
                const QPointF p = s.points[i - 1] + (s.points[i] - s.points[i - 1]) * f;
                const double z = s.z[i - 1] + (s.z[i] - s.z[i - 1]) * f;
                QVERIFY(z >= -depth - 1e-6);
                QVERIFY2(z >= lowestAllowed(p.x(), p.y()) - 0.01,
                         qPrintable(QStringLiteral("gouge at %1, %2, %3").arg(p.x()).arg(p.y()).arg(z)));
                ++checked;
            }
        }
    }
    QVERIFY(checked > 100);
}

void TestCalcdAnswers::dxfFiguresAppearOnce_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("figures");
    QTest::newRow("circle") << openscad + QStringLiteral("dxf/circle.dxf") << 1;
    QTest::newRow("two circles and a square") << openscad + QStringLiteral("dxf/circle-double.dxf") << 3;
    QTest::newRow("nine circles, four squares") << openscad + QStringLiteral("dxf/circle-advanced.dxf") << 13;
    QTest::newRow("closed lwpolyline") << openscad + QStringLiteral("dxf/lwpolyline-closed.dxf") << 1;
    QTest::newRow("ellipse arcs") << openscad + QStringLiteral("dxf/ellipse-arc-rot.dxf") << -1;
    QTest::newRow("inserts") << openscad + QStringLiteral("dxf/transform-insert.dxf") << -1;
    QTest::newRow("many holes") << openscad + QStringLiteral("dxf/polygon-many-holes.dxf") << -1;
    QTest::newRow("librecad kinetics") << librecad + QStringLiteral("kinetics/kin99.dxf") << -1;
    QTest::newRow("librecad tube") << librecad + QStringLiteral("elektro/meter-iso/Tube-CRT-RGB.dxf") << -1;
}

void TestCalcdAnswers::dxfFiguresAppearOnce()
{
    QFETCH(QString, path);
    QFETCH(int, figures);
    if (!QFile::exists(path))
        QSKIP("sample drawing missing");
    const QString text = CalcdTestServer::fileText(path);
    for (const bool trace : {true, false}) {
        const double depth = trace ? 1e-7 : 1.0, perPass = trace ? 1e-7 : 0.3;
        const QStringList lines = linesOf(askChecked(CalcdTestServer::dxfRequest(text, 200, perPass, depth, 10000)));
        QVERIFY(lines.size() > 4);
        QCOMPARE(lines.last(), QStringLiteral("M2 (Program end)"));
        int shapes = 0, plunges = 0;
        QPointF start, at;
        const auto closeShape = [&] {
            if (shapes == 0)
                return;
            QCOMPARE(plunges, trace ? 1 : 4);
            if (trace)
                QVERIFY2(std::hypot(at.x() - start.x(), at.y() - start.y()) < 0.02, "a traced figure does not close");
        };
        for (const QString &line : lines.mid(4)) {
            if (line.contains(QLatin1String("(* SHAPE Nr:"))) {
                closeShape();
                QCOMPARE(line, QStringLiteral("(* SHAPE Nr: %1 *)").arg(++shapes));
                plunges = 0;
                continue;
            }
            const GcodeLine parsed(line);
            if (parsed.has(QLatin1Char('X')))
                at = QPointF(parsed.value(QLatin1Char('X')), parsed.value(QLatin1Char('Y')));
            if (parsed.command() == QLatin1String("G0") && parsed.has(QLatin1Char('X')))
                start = at;
            if (line.contains(QLatin1String("G1 Z-"))) {
                ++plunges;
                QVERIFY(parsed.value(QLatin1Char('Z')) >= -depth - 1e-6);
            }
        }
        closeShape();
        QVERIFY(shapes > 0);
        if (figures > 0)
            QCOMPARE(shapes, figures);
    }
}

QTEST_GUILESS_MAIN(TestCalcdAnswers)
#include "tst_calcdanswers.moc"
