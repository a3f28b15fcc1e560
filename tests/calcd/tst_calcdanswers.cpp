// Answers of every request kind on real sample files, checked for what they mean: where the
// tool goes relative to the copper, the holes, the board, the part and the drawing.
// gerbv's glib headers use "signals" as a name: they come before any Qt object header.
#include "calcd/clipperunits.h"
#include "calcd/copperbuilder.h"
#include "calcd/gerberfile.h"
#include "calcd/stlmesh.h"

#include "calcdtestserver.h"
#include "copperraster.h"
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

// Points of the answer that a program draws and measures: the ends of its feed moves.
QRectF feedExtent(const QStringList &lines)
{
    QRectF extent;
    for (const Stretch &s : cuttingStretches(lines))
        for (const QPointF &p : s.points)
            extent = extent.isNull() ? QRectF(p, QSizeF(1e-9, 1e-9)) : extent.united(QRectF(p, QSizeF(1e-9, 1e-9)));
    return extent;
}

// Centres of the pads flashed on copper layers, in mm, read with gerbv's library.
QVector<QPointF> padFlashes(const QStringList &copperPaths, double minimumDiameter = 0)
{
    QVector<QPointF> pads;
    for (const QString &path : copperPaths) {
        const GerberFile file(CalcdTestServer::fileText(path));
        if (!file.image())
            continue;
        for (const gerbv_net_t *net = file.image()->netlist; net; net = net->next) {
            const gerbv_aperture_t *aperture = net->aperture >= 0 && net->aperture < APERTURE_MAX ? file.image()->aperture[net->aperture] : nullptr;
            if (net->aperture_state == GERBV_APERTURE_STATE_FLASH && aperture
                && (minimumDiameter == 0 || (aperture->type == GERBV_APTYPE_CIRCLE && aperture->parameter[0] * 25.4 >= minimumDiameter)))
                pads.append(QPointF(net->stop_x, net->stop_y) * 25.4);
        }
    }
    return pads;
}

// The holes of a drill answer, one list per tool change: where the tool stands when it plunges.
QVector<QVector<QPointF>> drilledHoles(const QStringList &lines)
{
    QVector<QVector<QPointF>> tools;
    QPointF at;
    for (const QString &text : lines) {
        if (text.contains(QLatin1String("Change tool bit to")))
            tools.append(QVector<QPointF>());
        const GcodeLine line(text);
        if (line.has(QLatin1Char('X')))
            at.setX(line.value(QLatin1Char('X')));
        if (line.has(QLatin1Char('Y')))
            at.setY(line.value(QLatin1Char('Y')));
        if (line.command() == QLatin1String("G1") && line.value(QLatin1Char('Z')) < 0 && !tools.isEmpty())
            tools.last().append(at);
    }
    return tools;
}

double chebyshev(QPointF a, QPointF b)
{
    return std::max(std::fabs(a.x() - b.x()), std::fabs(a.y() - b.y()));
}

// Length of the minimum spanning tree (Prim): no path through all points is shorter.
double spanningTree(const QVector<QPointF> &points)
{
    if (points.size() < 2)
        return 0;
    QVector<double> nearest(points.size(), std::numeric_limits<double>::max());
    QVector<bool> inTree(points.size(), false);
    double length = 0;
    int added = 0;
    nearest[0] = 0;
    for (int round = 0; round < points.size(); ++round) {
        added = -1;
        for (int i = 0; i < points.size(); ++i)
            if (!inTree[i] && (added < 0 || nearest[i] < nearest[added]))
                added = i;
        inTree[added] = true;
        length += nearest[added];
        for (int i = 0; i < points.size(); ++i)
            if (!inTree[i])
                nearest[i] = std::min(nearest[i], chebyshev(points[added], points[i]));
    }
    return length;
}

// Travel of rapid moves in the XY plane (straight-line length) and the number of plunges.
QPair<double, int> rapidsAndPlunges(const QStringList &lines)
{
    double length = 0;
    int plunges = 0;
    QPointF at;
    for (const QString &text : lines) {
        const GcodeLine line(text);
        QPointF to = at;
        if (line.has(QLatin1Char('X')))
            to.setX(line.value(QLatin1Char('X')));
        if (line.has(QLatin1Char('Y')))
            to.setY(line.value(QLatin1Char('Y')));
        if (line.command() == QLatin1String("G0"))
            length += std::hypot(to.x() - at.x(), to.y() - at.y());
        if (line.command() == QLatin1String("G1") && !line.has(QLatin1Char('X')) && line.value(QLatin1Char('Z')) < 0)
            ++plunges;
        at = to;
    }
    return {length, plunges};
}

QString excellon(const QString &header, const QVector<QPointF> &holes, double scale, bool leadingZeros)
{
    QString text = header;
    for (const QPointF &h : holes) {
        const auto number = [&](double v) {
            const qint64 n = qRound64(std::fabs(v) * scale);
            QString digits = leadingZeros ? QStringLiteral("%1").arg(n, 6, 10, QLatin1Char('0')) : QString::number(n);
            if (leadingZeros)
                while (digits.endsWith(QLatin1Char('0')) && digits.size() > 1)
                    digits.chop(1);
            return (v < 0 ? QStringLiteral("-") : QString()) + digits;
        };
        text += QStringLiteral("X%1Y%2\n").arg(number(h.x()), number(h.y()));
    }
    return text + QStringLiteral("M30\n");
}

} // namespace

class TestCalcdAnswers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void drillHolesLandOnPads_data();
    void drillHolesLandOnPads();
    void drillSlotsFollowTheirRoutes();
    void isolationKeepsClearAndCutsEveryGap_data();
    void isolationKeepsClearAndCutsEveryGap();
    void protelTravelIsShort();
    void spindleRunsForEveryCut_data();
    void spindleRunsForEveryCut();
    void outlineKeepsTheBoardOnTheLeftAndHeld_data();
    void outlineKeepsTheBoardOnTheLeftAndHeld();
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
    // Pad centres of copper layers already read, by the layers' paths.
    QHash<QString, QVector<QPointF>> padsOfLayers;
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

void TestCalcdAnswers::drillHolesLandOnPads_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("copper");
    QTest::addColumn<int>("holes");
    const auto file = [](const QString &path) { return CalcdTestServer::fileText(gerbv + path); };
    const auto layers = [](const QStringList &paths) {
        QStringList full;
        for (const QString &p : paths)
            full << gerbv + p;
        return full;
    };
    // Expected holes: the coordinate lines of the file, counted plainly.
    const auto count = [](const QString &text) {
        return int(text.split(QLatin1Char('\n')).filter(QRegularExpression(QStringLiteral("^[XY][-+0-9.]"))).size());
    };
    const QStringList protelCopper = layers({QStringLiteral("protel-pnp/SE_SG_IF_V2.GTL"), QStringLiteral("protel-pnp/SE_SG_IF_V2.GBL")});
    QTest::newRow("protel INCH,LZ with ;FILE_FORMAT=2:3") << file(QStringLiteral("protel-pnp/SE_SG_IF_V2.TXT")) << protelCopper << 427;
    const QStringList ekf = layers({QStringLiteral("ekf2/l0.grb"), QStringLiteral("ekf2/l1.grb"), QStringLiteral("ekf2/l2.grb"),
                                    QStringLiteral("ekf2/l3.grb"), QStringLiteral("ekf2/l4.grb"), QStringLiteral("ekf2/l5.grb"),
                                    QStringLiteral("ekf2/gnd.grb"), QStringLiteral("ekf2/pow.grb")});
    for (const QString &name : {QStringLiteral("drill0"), QStringLiteral("drill1"), QStringLiteral("drill20"), QStringLiteral("drill30")}) {
        const QString text = file(QStringLiteral("ekf2/%1.exc").arg(name));
        QTest::addRow("ekf2 %s, M72 without INCH", qPrintable(name)) << text << ekf << count(text);
    }
    const QString metric = file(QStringLiteral("nollezappare/ThruHolePlated.ncd"));
    QTest::newRow("nollezappare, M71 without METRIC") << metric << layers({QStringLiteral("nollezappare/EtchLayer2Bottom.gdo")}) << count(metric);
    const QString hell = file(QStringLiteral("hellboard/hellboard.plated-drill.cnc"));
    QTest::newRow("hellboard INCH,TZ") << hell << layers({QStringLiteral("hellboard/hellboard.front.gbr")}) << count(hell);
    const QString tap = file(QStringLiteral("orcad/thruhole.tap"));
    QTest::newRow("orcad, no header at all") << tap << layers({QStringLiteral("orcad/rs232_cm.top"), QStringLiteral("orcad/rs232_cm.bot")}) << count(tap);
    const QString gEda = file(QStringLiteral("numpres/numpres.pcb.output_plated-drill.grb"));
    QTest::newRow("numpres INCH,TZ in thousandths") << gEda << layers({QStringLiteral("numpres/numpres.pcb.output_group1.grb")}) << count(gEda);

    // The round pads of the protel board written out as drill files in other forms.
    const QVector<QPointF> pads = padFlashes({protelCopper.first()}, 1.2);
    QTest::newRow("METRIC,TZ") << excellon(QStringLiteral("M48\nMETRIC,TZ\nT1C0.600\n%\nT1\n"), pads, 1000, false)
                               << protelCopper << int(pads.size());
    QTest::newRow("no header, inches") << excellon(QStringLiteral("T1C0.024\n"), QVector<QPointF>(pads).mid(0), 10000 / 25.4, false)
                                       << protelCopper << int(pads.size());
    QTest::newRow("METRIC,LZ,000.000") << excellon(QStringLiteral("M48\nMETRIC,LZ,000.000\nT01C0.6\n%\nT01\n"), pads, 1000, true)
                                       << protelCopper << int(pads.size());
}

void TestCalcdAnswers::drillHolesLandOnPads()
{
    QFETCH(QString, text);
    QFETCH(QStringList, copper);
    QFETCH(int, holes);
    const QStringList lines = linesOf(askChecked(CalcdTestServer::pcbRequest(QStringLiteral("Drill"), 2, text)));
    const QString layers = copper.join(QLatin1Char('\n'));
    if (!padsOfLayers.contains(layers))
        padsOfLayers.insert(layers, padFlashes(copper));
    const QVector<QPointF> pads = padsOfLayers.value(layers);
    QVERIFY(!pads.isEmpty());
    int drilled = 0;
    for (const QVector<QPointF> &tool : drilledHoles(lines))
        for (const QPointF &hole : tool) {
            ++drilled;
            const bool onPad = std::any_of(pads.begin(), pads.end(), [&](const QPointF &pad) {
                return std::hypot(pad.x() - hole.x(), pad.y() - hole.y()) <= 0.05;
            });
            QVERIFY2(onPad, qPrintable(QStringLiteral("hole at %1, %2 lies on no pad").arg(hole.x()).arg(hole.y())));
        }
    QCOMPARE(drilled, holes);
}

void TestCalcdAnswers::drillSlotsFollowTheirRoutes()
{
    // jj1.drl routes three slots (METRIC,TZ): a 0.8 mm one from (2.55, 79.5) to (2.55, 80.5) and
    // two 1 mm ones from 7.95 to 8.55 in X at Y 77.3 and 82.7.
    const QStringList lines = linesOf(askChecked(
        CalcdTestServer::pcbRequest(QStringLiteral("Drill"), 2, CalcdTestServer::fileText(gerbv + QStringLiteral("amacro-ref/jj1.drl")))));
    struct Slot
    {
        QPointF from, to;
        double diameter;
    };
    const QVector<Slot> routes{{{2.55, 79.5}, {2.55, 80.5}, 0.8}, {{7.95, 77.3}, {8.55, 77.3}, 1.0}, {{7.95, 82.7}, {8.55, 82.7}, 1.0}};
    const QVector<QVector<QPointF>> tools = drilledHoles(lines);
    QCOMPARE(tools.size(), 2);
    QVector<QPointF> all = tools[0] + tools[1];
    for (const Slot &slot : routes) {
        QVector<double> along;
        for (const QPointF &h : all) {
            const QPointF d = slot.to - slot.from;
            const double t = QPointF::dotProduct(h - slot.from, d) / QPointF::dotProduct(d, d);
            const QPointF foot = slot.from + d * t;
            if (std::hypot(h.x() - foot.x(), h.y() - foot.y()) < 0.001 && t > -1e-3 && t < 1 + 1e-3)
                along.append(t * std::hypot(d.x(), d.y()));
        }
        std::sort(along.begin(), along.end());
        QVERIFY(along.size() >= 3);
        QVERIFY(along.first() < 1e-3 && along.last() > std::hypot(slot.to.x() - slot.from.x(), slot.to.y() - slot.from.y()) - 1e-3);
        for (int i = 1; i < along.size(); ++i)
            QVERIFY(along[i] - along[i - 1] <= slot.diameter / 4 + 1e-3);
        all.erase(std::remove_if(all.begin(), all.end(), [&](const QPointF &h) {
            const QPointF d = slot.to - slot.from;
            const double t = QPointF::dotProduct(h - slot.from, d) / QPointF::dotProduct(d, d);
            const QPointF foot = slot.from + d * t;
            return std::hypot(h.x() - foot.x(), h.y() - foot.y()) < 0.001;
        }), all.end());
    }
    QVERIFY2(all.isEmpty(), "a hole lies off every slot");
}

void TestCalcdAnswers::isolationKeepsClearAndCutsEveryGap_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("bottom");
    // The part of the layer judged, in mm; empty: all of it. On the larger boards this is the part
    // that holds what the row is about, to keep the pixel count within reason.
    QTest::addColumn<QRectF>("window");
    QTest::newRow("protel top") << protel + QStringLiteral("GTL") << false << QRectF();
    QTest::newRow("protel bottom") << protel + QStringLiteral("GBL") << true << QRectF();
    // The macros in the middle of a 254 mm frame.
    QTest::newRow("macros with rotation") << gerbv + QStringLiteral("am-test/am-test.gbx") << false
                                          << QRectF(40, 95, 210, 90);
    QTest::newRow("negative image, clear polarity") << gerbv + QStringLiteral("polarity/6_vbat.gbr") << false << QRectF();
    // Two columns and two rows of the six repeated boards, bounded in the empty space between rows.
    QTest::newRow("step and repeat") << gerbv + QStringLiteral("dan/top_sr.gbx") << false << QRectF(-2, 8, 186, 141);
}

void TestCalcdAnswers::isolationKeepsClearAndCutsEveryGap()
{
    QFETCH(QString, path);
    QFETCH(bool, bottom);
    QFETCH(QRectF, window);
    const QStringList lines = linesOf(askChecked(CalcdTestServer::pcbRequest(
        bottom ? QStringLiteral("BotLayout") : QStringLiteral("Layout"), 1.6, CalcdTestServer::fileText(path))));
    QVector<Stretch> cuts = cuttingStretches(lines);
    QVERIFY(!cuts.isEmpty());
    QVector<QPointF> reports;
    static const QRegularExpression report(QStringLiteral("^\\(Not isolated at X(-?\\d+\\.\\d{3}) Y(-?\\d+\\.\\d{3})\\)$"));
    for (const QString &line : lines) {
        if (!line.startsWith(QLatin1String("(Not isolated")))
            continue;
        const QRegularExpressionMatch m = report.match(line);
        if (m.hasMatch())
            reports.append(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()));
    }
    // A bottom answer is mirrored within its own extent: turn it back onto the file's copper.
    const QRectF extent = feedExtent(lines);
    if (bottom) {
        const double axisTimesTwo = extent.left() + extent.right();
        for (Stretch &s : cuts)
            for (QPointF &p : s.points)
                p.setX(axisTimesTwo - p.x());
        for (QPointF &p : reports)
            p.setX(axisTimesTwo - p.x());
    }
    const QRectF judged = window.isEmpty() ? extent.adjusted(-1, -1, 1, 1) : window;
    reports.erase(std::remove_if(reports.begin(), reports.end(), [&](const QPointF &p) { return !judged.contains(p); }),
                  reports.end());
    const CopperRaster raster(path, judged, 1000);
    QVERIFY(raster.isValid());
    const double r = toolWidth / 2, tolerance = 0.02;

    // No copper pixel within the tool's radius (less the tolerance) of any cutting move. gerbv
    // paints a pixel whose centre lies up to half a pixel outside the drawn edge.
    const double clear = r - tolerance - raster.pixel() / 2;
    std::vector<quint8> cut(size_t(raster.width()) * raster.height(), 0);
    int tooNear = 0;
    QPointF where;
    for (const Stretch &s : cuts)
        for (int i = 1; i < s.points.size(); ++i)
            raster.aroundSegment(s.points[i - 1], s.points[i], r, [&](int x, int y, double distance) {
                cut[raster.index(x, y)] = 1;
                if (distance < clear && raster.isCopper(x, y)) {
                    ++tooNear;
                    where = raster.centre(x, y);
                }
            });
    QVERIFY2(tooNear == 0, qPrintable(QStringLiteral("%1 copper pixels within reach of the tool, one at %2, %3")
                                          .arg(tooNear).arg(where.x()).arg(where.y())));

    // Pieces of copper that lie farther apart than the tool is wide (plus the tolerance) end up
    // in different uncut regions. Pieces closer than that form one cluster and may stay joined.
    const QVector<qint32> distance = raster.squaredCopperDistance();
    const double clusterReach = raster.squaredPixels(r + tolerance / 2), tightReach = raster.squaredPixels(r - tolerance / 2);
    int pieces = 0, clusters = 0, tightClusters = 0, regions = 0;
    // A copper sliver narrower than a pixel comes out as pixels that touch only at their corners.
    const QVector<int> piece = raster.regions([&](int i) { return raster.isCopperAt(i); },
                                              &pieces, CopperRaster::Touch::SidesAndCorners);
    const QVector<int> cluster = raster.regions([&](int i) { return distance[i] <= clusterReach; }, &clusters);
    const QVector<int> tight = raster.regions([&](int i) { return distance[i] <= tightReach; }, &tightClusters);
    const QVector<int> uncut = raster.regions([&](int i) { return !cut[i]; }, &regions);
    const auto near = [&](const QString &what, int i) {
        const QPointF p = raster.centre(i % raster.width(), i / raster.width());
        return what.arg(p.x()).arg(p.y());
    };
    QVector<int> clusterOfRegion(regions, -1);
    int joined = -1;
    for (int i = 0; i < piece.size() && joined < 0; ++i) {
        if (piece[i] < 0 || uncut[i] < 0)
            continue;
        int &owner = clusterOfRegion[uncut[i]];
        if (owner >= 0 && owner != cluster[i])
            joined = i;
        owner = cluster[i];
    }
    QVERIFY2(joined < 0, qPrintable(near(QStringLiteral("copper pieces left joined near %1, %2"), joined)));

    // Every cluster of pieces closer than the tool has a report, and every report lies in a cluster
    // of more than one piece. Each piece lies in one cluster and in one tight cluster.
    QVector<int> pixelOfPiece(pieces, -1);
    for (int i = 0; i < piece.size(); ++i)
        if (piece[i] >= 0 && pixelOfPiece[piece[i]] < 0)
            pixelOfPiece[piece[i]] = i;
    QVector<int> piecesInCluster(clusters, 0), piecesInTight(tightClusters, 0);
    for (const int i : qAsConst(pixelOfPiece)) {
        ++piecesInCluster[cluster[i]];
        ++piecesInTight[tight[i]];
    }
    QSet<int> reported;
    for (const QPointF &p : reports) {
        int found = -1;
        raster.aroundSegment(p, p, r + tolerance, [&](int x, int y, double) {
            const int c = cluster[raster.index(x, y)];
            if (c >= 0 && piecesInCluster[c] > 1)
                found = c;
        });
        QVERIFY2(found >= 0, qPrintable(QStringLiteral("report at %1, %2 lies between no two pieces").arg(p.x()).arg(p.y())));
        reported.insert(found);
    }
    int unreported = -1;
    for (const int i : qAsConst(pixelOfPiece))
        if (piecesInTight[tight[i]] > 1 && !reported.contains(cluster[i]))
            unreported = i;
    QVERIFY2(unreported < 0, qPrintable(near(QStringLiteral("pieces too close near %1, %2 are not reported"), unreported)));

    // The preview's display form takes the answer as it is.
    QVector<GcodeLine> parsed;
    for (const QString &line : lines)
        parsed.append(GcodeLine(line));
    LayoutDisplayConverter converter;
    converter.convert(parsed);
    QCOMPARE(converter.output().first(), QStringLiteral("G0 Z15"));
}

void TestCalcdAnswers::protelTravelIsShort()
{
    const auto layout = [&](const QString &part, const QString &suffix) {
        return rapidsAndPlunges(linesOf(askChecked(CalcdTestServer::pcbRequest(part, 1.6, CalcdTestServer::fileText(protel + suffix)))));
    };
    const QPair<double, int> top = layout(QStringLiteral("Layout"), QStringLiteral("GTL"));
    const QPair<double, int> bottom = layout(QStringLiteral("BotLayout"), QStringLiteral("GBL"));
    qInfo("protel top: %d plunges, %.0f mm of rapids; bottom: %d plunges, %.0f mm of rapids", top.second, top.first,
          bottom.second, bottom.first);
    QVERIFY(top.second <= 700);
    QVERIFY(top.first <= 7500);
    QVERIFY(bottom.first <= 14000);

    const QStringList drill = linesOf(askChecked(CalcdTestServer::pcbRequest(QStringLiteral("Drill"), 2, CalcdTestServer::fileText(protel + QStringLiteral("TXT")))));
    double worst = 0;
    for (const QVector<QPointF> &holes : drilledHoles(drill)) {
        double travel = 0;
        for (int i = 1; i < holes.size(); ++i)
            travel += chebyshev(holes[i - 1], holes[i]);
        const double bound = spanningTree(holes);
        qInfo("%d holes: %.1f mm of travel, spanning tree %.1f mm", int(holes.size()), travel, bound);
        worst = std::max(worst, bound > 0 ? travel / bound : 1.0);
    }
    QVERIFY2(worst <= 1.15, qPrintable(QStringLiteral("travel reaches %1 times the spanning tree").arg(worst)));
}

void TestCalcdAnswers::spindleRunsForEveryCut_data()
{
    QTest::addColumn<QString>("part");
    QTest::addColumn<QString>("path");
    QTest::newRow("top layout") << QStringLiteral("Layout") << protel + QStringLiteral("GTL");
    QTest::newRow("bottom layout") << QStringLiteral("BotLayout") << protel + QStringLiteral("GBL");
    QTest::newRow("drill") << QStringLiteral("Drill") << protel + QStringLiteral("TXT");
    QTest::newRow("outline") << QStringLiteral("Outline") << protel + QStringLiteral("GM1");
}

void TestCalcdAnswers::spindleRunsForEveryCut()
{
    // The program drops the first three lines of a layout answer, stops the spindle before each
    // stage, and at each "Change tool bit to" line stops it and skips that line and the next two.
    QFETCH(QString, part);
    QFETCH(QString, path);
    QStringList lines = linesOf(askChecked(CalcdTestServer::pcbRequest(part, 2, CalcdTestServer::fileText(path))));
    if (part.endsWith(QLatin1String("Layout")))
        lines = lines.mid(3);
    bool spindle = false;
    int cuts = 0, stopped = -1;
    for (int i = 0; i < lines.size() && stopped < 0; ++i) {
        if (lines[i].contains(QLatin1String("Change tool bit to"))) {
            spindle = false;
            i += 2;
            continue;
        }
        const GcodeLine line(lines[i]);
        if (line.has(QLatin1Char('M')) && (lines[i].startsWith(QLatin1String("M3")) || lines[i].startsWith(QLatin1String("M5"))))
            spindle = lines[i].startsWith(QLatin1String("M3"));
        if (line.command() == QLatin1String("G1") && line.value(QLatin1Char('Z')) < 0) {
            ++cuts;
            if (!spindle)
                stopped = i;
        }
    }
    QVERIFY2(stopped < 0, qPrintable(QStringLiteral("line %1 cuts with the spindle stopped: %2").arg(stopped).arg(lines.value(stopped))));
    QVERIFY(cuts > 0);
}

void TestCalcdAnswers::outlineKeepsTheBoardOnTheLeftAndHeld_data()
{
    QTest::addColumn<QString>("gerber");
    QTest::addColumn<int>("boards");
    QTest::addColumn<int>("cutOuts");
    const auto square = [](double x0, double y0, double x1, double y1) {
        const auto c = [](double v) { return QString::number(qRound(v * 10000)); };
        return QStringLiteral("X%1Y%2D02*\nX%3Y%2D01*\nX%3Y%4D01*\nX%1Y%4D01*\nX%1Y%2D01*\n").arg(c(x0 / 25.4), c(y0 / 25.4), c(x1 / 25.4), c(y1 / 25.4));
    };
    const QString head = QStringLiteral("%FSLAX24Y24*%\n%MOIN*%\n%ADD10C,0.0100*%\nG01*\nD10*\n");
    QTest::newRow("board with a cut-out") << head + square(0, 0, 40, 30) + square(10, 10, 20, 18) + QStringLiteral("M02*\n") << 1 << 1;
    QTest::newRow("board of 6 x 4 mm") << head + square(0, 0, 6, 4) + QStringLiteral("M02*\n") << 1 << 0;
}

void TestCalcdAnswers::outlineKeepsTheBoardOnTheLeftAndHeld()
{
    QFETCH(QString, gerber);
    QFETCH(int, boards);
    QFETCH(int, cutOuts);
    const QStringList lines = linesOf(askChecked(CalcdTestServer::pcbRequest(QStringLiteral("Outline"), 1.8, gerber)));
    int aroundBoards = 0, insideCutOuts = 0, tabRaises = 0;
    for (const Stretch &s : cuttingStretches(lines)) {
        // Climb milling with a clockwise spindle: the board on the left, so counter-clockwise
        // around a board and clockwise inside a cut-out. The cut-outs here lie inside (10..20, 10..18).
        const double area = ClipperLib::Area(toPaths({s}).front());
        const bool cutOut = s.points.first().x() > 5 && s.points.first().x() < 25 && s.points.first().y() > 5 && s.points.first().y() < 23;
        QVERIFY2(cutOut ? area < 0 : area > 0, "a loop runs with the board on its right");
        (cutOut ? insideCutOuts : aroundBoards) += 1;
        for (int i = 1; i < s.z.size(); ++i)
            tabRaises += s.z[i] > s.z[i - 1] ? 1 : 0;
    }
    QVERIFY(aroundBoards >= boards && (cutOuts == 0) == (insideCutOuts == 0));
    QVERIFY2(tabRaises >= 1, "the board is cut free without a tab");
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
