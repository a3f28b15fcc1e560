#include "link/pcbserialmessage.h"
#include "link/probemessage.h"
#include "modes/probegrid.h"
#include "modes/signallingmessage.h"
#include "modes/surfacefollower.h"
#include "modes/turnoutline.h"
#include "toolpath/gcodeline.h"

#include <QtTest>

#include <cmath>
#include <functional>

namespace {
using Surface = std::function<double(double x, double y)>;

// Answers every probe of the grid as the controller would, with the machine Z of the surface at
// the point's machine position.
void probe(ProbeGrid *grid, const QVector3D &origin, const Surface &surface)
{
    const QList<SerialMessage *> messages = grid->probeMessages(QStringLiteral("top"));
    int point = 0;
    for (SerialMessage *message : messages) {
        if (auto *probe = qobject_cast<ProbeMessage *>(message)) {
            const QVector3D p = grid->point(point++);
            const double z = surface(p.x() + origin.x(), p.y() + origin.y());
            probe->handleResponse(QStringLiteral("[PRB:%1,%2,%3:1]").arg(p.x()).arg(p.y()).arg(z, 0, 'f', 6));
            probe->handleResponse(QStringLiteral("ok"));
        }
    }
    qDeleteAll(messages);
}

QStringList contents(const QList<SerialMessage *> &messages)
{
    QStringList texts;
    for (const SerialMessage *message : messages)
        texts << message->content();
    return texts;
}

QStringList follow(const ProbeGrid &grid, const QStringList &program, const QString &suffix = QString(), float shift = 0)
{
    QStringList written;
    SurfaceFollower follower(grid, [&written](const QString &line) { written << line; }, shift);
    for (const QString &line : program)
        follower.rewrite(GcodeLine(line), suffix);
    return written;
}

// Equal lines, except that the Z of a rewritten feed move may differ by single-precision noise.
bool sameLines(const QStringList &actual, const QStringList &expected)
{
    if (actual.size() != expected.size())
        return false;
    static const QRegularExpression z(QStringLiteral(" Z(-?[0-9.]+)"));
    for (int i = 0; i < actual.size(); ++i) {
        const QRegularExpressionMatch a = z.match(actual[i]);
        const QRegularExpressionMatch e = z.match(expected[i]);
        if (QString(actual[i]).replace(z, QStringLiteral(" Z")) != QString(expected[i]).replace(z, QStringLiteral(" Z"))
            || a.hasMatch() != e.hasMatch()
            || (a.hasMatch() && std::fabs(a.captured(1).toDouble() - e.captured(1).toDouble()) > 2.5e-6))
            return false;
    }
    return true;
}

// The parts of a rewritten "G1 X.. Y.. Z.." line.
QVector3D feedEnd(const QString &line)
{
    const GcodeLine parsed(line);
    return QVector3D(parsed.value(QLatin1Char('X')), parsed.value(QLatin1Char('Y')), parsed.value(QLatin1Char('Z')));
}

const Surface tilted = [](double x, double y) { return -20.0 + 0.002 * x + 0.001 * y; };
} // namespace

// The probe grid, the surface following of feed moves and the flip frame, each on its own.
class TstPcbGeometry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void gridPoints_data();
    void gridPoints();
    void probingMessages();
    void heights_data();
    void heights();
    void unreadableProbeAnswerLeavesPointUnmeasured();
    void collinearCornersGiveNearestHeight();
    void rewriting_data();
    void rewriting();
    void longMoveFollowsSurface();
    void frame_data();
    void frame();
    void frameMessages_data();
    void frameMessages();
};

void TstPcbGeometry::gridPoints_data()
{
    QTest::addColumn<QRectF>("design");
    QTest::addColumn<QVector<QPointF>>("points");
    QTest::addColumn<int>("columns");
    // 25.011 / 3 along X, 8.011 / 1 along Y; the last position is clamped onto the edge.
    QTest::newRow("25 x 8") << QRectF(0, 0, 25, 8)
                            << QVector<QPointF>{{0, 0}, {0, 8.001}, {8.337, 8.001}, {8.337, 0},
                                                {16.674, 0}, {16.674, 8.001}, {25.001, 8.001}, {25.001, 0}}
                            << 4;
    QTest::newRow("9.989 gives the two edges") << QRectF(2, 3, 9.989, 9.989)
                                               << QVector<QPointF>{{2, 3}, {2, 12.99}, {11.99, 12.99}, {11.99, 3}} << 2;
    // Downward columns step from the upper edge, so their inner points lie 0.01 mm lower.
    QTest::newRow("9.99 needs three") << QRectF(0, 0, 9.99, 9.99)
                                      << QVector<QPointF>{{0, 0}, {0, 5.0005}, {0, 9.991},
                                                          {5.0005, 9.991}, {5.0005, 4.9905}, {5.0005, 0},
                                                          {9.991, 0}, {9.991, 5.0005}, {9.991, 9.991}}
                                      << 3;
}

void TstPcbGeometry::gridPoints()
{
    QFETCH(QRectF, design);
    QFETCH(QVector<QPointF>, points);
    QFETCH(int, columns);
    const ProbeGrid grid(float(design.left()), float(design.top()), float(design.right()), float(design.bottom()), {});
    QCOMPARE(grid.columns(), columns);
    QCOMPARE(grid.pointCount(), points.size());
    for (int i = 0; i < points.size(); ++i) {
        QVERIFY2(std::fabs(grid.point(i).x() - points[i].x()) < 1e-4 && std::fabs(grid.point(i).y() - points[i].y()) < 1e-4,
                 qPrintable(QStringLiteral("point %1 at %2 %3").arg(i).arg(grid.point(i).x()).arg(grid.point(i).y())));
        QCOMPARE(grid.point(i).z(), 0.0f);
    }
    // The serpentine order: the second column runs downward.
    QCOMPARE(grid.pointIndex(1, 0), 2 * grid.rows() - 1);
    QCOMPARE(grid.pointIndex(-3, 99), grid.rows() - 1);
}

void TstPcbGeometry::probingMessages()
{
    ProbeGrid grid(0, 0, 9.989f, 9.989f, QVector3D(10, 20, 0));
    const QList<SerialMessage *> messages = grid.probeMessages(QStringLiteral("bot"));
    const QStringList expected{
        "M5\n", "G21\n", "G90\n", "G92.1\n", "G0 X10.000000 Y20.000000\n", "G92 X0.000000 Y0.000000\n",
        "G38.2 Z-62.0 F100\n",
        // 9.989 + 0.001 in single precision
        "G92 Z0\n", "G0 Z2\n", "G0 X0.000000 Y9.990001\n", "G38.2 Z-4.0 F100\n",
        "G92 Z0\n", "G0 Z2\n", "G0 X9.990001 Y9.990001\n", "G38.2 Z-4.0 F100\n",
        "G92 Z0\n", "G0 Z2\n", "G0 X9.990001 Y0.000000\n", "G38.2 Z-4.0 F100\n",
        "G0 Z10\n"};
    QCOMPARE(contents(messages), expected);
    int probes = 0;
    for (const SerialMessage *message : messages) {
        const auto *probe = qobject_cast<const ProbeMessage *>(message);
        probes += probe ? 1 : 0;
        QCOMPARE(message->isLast(), message == messages.at(messages.size() - 2));
        QCOMPARE(message->lineNumber(), 0u);
    }
    QCOMPARE(probes, 4);
    QCOMPARE(qobject_cast<ProbeMessage *>(messages.at(messages.size() - 2))->probeType(), QStringLiteral("bot"));
    QVERIFY(qobject_cast<SignallingMessage *>(messages.last()));
    qDeleteAll(messages);
}

void TstPcbGeometry::heights_data()
{
    QTest::addColumn<bool>("probed");
    QTest::addColumn<QPointF>("at");
    QTest::addColumn<double>("expected");
    // The 25 x 8 grid at origin (30, 40): tilted, 0.002 per mm in X and 0.001 in Y.
    QTest::newRow("not probed") << false << QPointF(12, 5) << 0.0;
    QTest::newRow("inside") << true << QPointF(12, 5) << 0.002 * 12 + 0.001 * 5;
    QTest::newRow("inside, near a cell middle") << true << QPointF(20.8, 4.0) << 0.002 * 20.8 + 0.001 * 4.0;
    QTest::newRow("just outside") << true << QPointF(-0.5, 8.5) << 0.002 * -0.5 + 0.001 * 8.5;
    QTest::newRow("two cells beyond the right edge") << true << QPointF(45, -12) << 0.002 * 45 + 0.001 * -12;
    QTest::newRow("beyond a corner") << true << QPointF(-30, 30) << 0.002 * -30 + 0.001 * 30;
}

// A tilted but flat board is reproduced exactly, inside the grid and, extended, outside it.
void TstPcbGeometry::heights()
{
    QFETCH(bool, probed);
    QFETCH(QPointF, at);
    QFETCH(double, expected);
    const QVector3D origin(30, 40, 0);
    ProbeGrid grid(0, 0, 25, 8, origin);
    if (probed)
        probe(&grid, origin, tilted);
    QCOMPARE(grid.firstUnmeasured(), probed ? -1 : 0);
    QVERIFY2(std::fabs(grid.heightOffset(float(at.x()), float(at.y())) - expected) < 2e-5,
             qPrintable(QString::number(grid.heightOffset(float(at.x()), float(at.y())), 'g', 9)));
}

void TstPcbGeometry::unreadableProbeAnswerLeavesPointUnmeasured()
{
    ProbeGrid grid(0, 0, 25, 8, {});
    const QList<SerialMessage *> messages = grid.probeMessages(QStringLiteral("top"));
    for (SerialMessage *message : messages) {
        if (auto *probe = qobject_cast<ProbeMessage *>(message))
            probe->handleResponse(probe == messages.at(10) ? QStringLiteral("[PRB:8.337,8.001:1]")
                                                           : QStringLiteral("[PRB:0,0,-20.000:1]"));
    }
    qDeleteAll(messages);
    QCOMPARE(grid.firstUnmeasured(), 1);
    QCOMPARE(grid.point(1).z(), 0.0f);
}

void TstPcbGeometry::collinearCornersGiveNearestHeight()
{
    const QVector3D a(0, 0, 1), b(5, 0, 2), c(10, 0, 3);
    QCOMPARE(ProbeGrid::planeHeight(a, b, c, 4, 7), 2.0);
    QCOMPARE(ProbeGrid::planeHeight(a, a, c, 1, -1), 1.0);
}

void TstPcbGeometry::rewriting_data()
{
    QTest::addColumn<QStringList>("program");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<float>("shift");
    QTest::addColumn<QStringList>("written");
    // On the tilted grid at origin (0, 0): the offset at (x, y) is 0.002 x + 0.001 y.
    QTest::newRow("feed word dropped") << QStringList{"M3 S12000 F150", "G1 X1 Y2 Z-0.1 F200"} << QString() << 0.0f
                                       << QStringList{"M3 S12000 F150\n", "G1 X1.000000 Y2.000000 Z-0.096000\n"};
    QTest::newRow("continuation of a feed move") << QStringList{"M3", "G1 X1 Y2 Z-0.1", "X3 Y4"} << QString() << 0.0f
                                                 << QStringList{"M3\n", "G1 X1.000000 Y2.000000 Z-0.096000\n",
                                                                "G1 X3.000000 Y4.000000 Z-0.090000\n"};
    QTest::newRow("continuation of a rapid") << QStringList{"G0 X1 Y2", "X3 Y4"} << QString() << 0.0f
                                             << QStringList{"G0 X1 Y2\n", "X3 Y4\n"};
    QTest::newRow("rapid continuation moves the start") << QStringList{"M3", "G0 X1 Y2", "X3 Y4", "G1 Z-0.1"} << QString()
                                                        << 0.0f
                                                        << QStringList{"M3\n", "G0 X1 Y2\n", "X3 Y4\n",
                                                                       "G1 X3.000000 Y4.000000 Z-0.090000\n"};
    QTest::newRow("G64 and comments") << QStringList{"G64", "(Not isolated at X1 Y2)", "G0 X1 (to the start)", "G0 Z1"}
                                      << QString() << 0.0f << QStringList{"G0 X1\n", "G0 Z1\n"};
    QTest::newRow("spindle started for a cut") << QStringList{"G0 X1 Y2", "G1 Z-0.1", "M5", "G1 Z-0.2"} << QString() << 0.0f
                                               << QStringList{"G0 X1 Y2\n", "M3 S12000\n",
                                                              "G1 X1.000000 Y2.000000 Z-0.096000\n", "M5\n",
                                                              "M3 S12000\n", "G1 X1.000000 Y2.000000 Z-0.196000\n"};
    QTest::newRow("drill feed") << QStringList{"M3 S12000 F60", "G0 X1 Y2", "G1 Z-2"} << QStringLiteral(" F60.000000")
                                << 0.0f
                                << QStringList{"M3 S12000 F60\n", "G0 X1 Y2\n",
                                               "G1 X1.000000 Y2.000000 Z-1.996000 F60.000000\n"};
    QTest::newRow("moved along X") << QStringList{"M3", "G0 X1 Y2", "G1 X3 Z-0.1"} << QString() << 5.0f
                                   << QStringList{"M3\n", "G0 X6.000000 Y2\n", "G1 X8.000000 Y2.000000 Z-0.082000\n"};
}

void TstPcbGeometry::rewriting()
{
    QFETCH(QStringList, program);
    QFETCH(QString, suffix);
    QFETCH(float, shift);
    QFETCH(QStringList, written);
    ProbeGrid grid(0, 0, 25, 8, {});
    probe(&grid, {}, tilted);
    const QStringList actual = follow(grid, program, suffix, shift);
    QVERIFY2(sameLines(actual, written), qPrintable(actual.join(QLatin1Char('|'))));
}

// A 25 mm move across the 25 x 8 grid: cut at the two cell borders it crosses (X 8.337 and 16.674)
// and into pieces of at most 5 mm, two in each cell; every end on the move, at the surface's depth.
void TstPcbGeometry::longMoveFollowsSurface()
{
    ProbeGrid grid(0, 0, 25, 8, {});
    probe(&grid, {}, tilted);
    const QStringList written = follow(grid, {"M3", "G0 X0 Y0 Z1", "G1 Z-0.1", "G1 X24 Y7", "G1 X23 Y6.5"});
    const QStringList pieces = written.mid(3);
    QCOMPARE(pieces.size(), 6 + 1);
    QVector2D previous(0, 0);
    QStringList borders;
    for (const QString &piece : pieces.mid(0, 6)) {
        const QVector3D end = feedEnd(piece);
        QVERIFY2(std::fabs(end.x() * 7 - end.y() * 24) < 1e-3, qPrintable(piece));
        QVERIFY(end.toVector2D().distanceToPoint(previous) <= 5.0f + 1e-4f);
        QVERIFY(std::fabs(end.z() - (-0.1 + 0.002 * end.x() + 0.001 * end.y())) < 2e-6);
        for (const float border : {8.337f, 16.674f}) {
            if (std::fabs(end.x() - border) < 1e-3f)
                borders << QString::number(border);
        }
        previous = end.toVector2D();
    }
    QCOMPARE(borders, (QStringList{"8.337", "16.674"}));
    // The last piece ends exactly where the move does; a short move inside one cell stays one line.
    QVERIFY(sameLines(pieces.mid(5), {"G1 X24.000000 Y7.000000 Z-0.045000\n", "G1 X23.000000 Y6.500000 Z-0.047500\n"}));
}

void TstPcbGeometry::frame_data()
{
    QTest::addColumn<QRectF>("design");
    QTest::addColumn<QRectF>("expected");
    // Grown by 2.2 mm per side to 9.4 mm, then widened to 20 mm, centred on the design.
    QTest::newRow("5 x 5 widened") << QRectF(10, 10, 5, 5) << QRectF(2.5, 2.5, 20, 20);
    QTest::newRow("50 x 30 grown only") << QRectF(0, 0, 50, 30) << QRectF(-2.2, -2.2, 54.4, 34.4);
    QTest::newRow("60 x 5 widened in Y") << QRectF(0, 0, 60, 5) << QRectF(-2.2, -7.5, 64.4, 20);
}

void TstPcbGeometry::frame()
{
    QFETCH(QRectF, design);
    QFETCH(QRectF, expected);
    const TurnOutline frame(float(design.left()), float(design.top()), float(design.right()), float(design.bottom()), 2.0f);
    QVERIFY(std::fabs(frame.left() - expected.left()) < 1e-4 && std::fabs(frame.right() - expected.right()) < 1e-4);
    QVERIFY(std::fabs(frame.bottom() - expected.top()) < 1e-4 && std::fabs(frame.top() - expected.bottom()) < 1e-4);
    const QVector<QVector2D> path = frame.path();
    QCOMPARE(path.size(), 37);
    QCOMPARE(path.first(), path.last());
    QCOMPARE(path.first(), QVector2D(frame.left(), frame.bottom()));
    // The left side's channel runs 3 mm (cutter + 1) outside the frame, its two lines 1.985 mm apart.
    const QVector<QVector2D> left = path.mid(1, 8);
    for (const QVector2D &p : left)
        QVERIFY(std::fabs(std::fabs(p.x() - (frame.left() - 3.0f)) - 0.9925f) < 1e-4);
    QVERIFY(std::fabs(path.at(2).y() - (frame.bottom() + (frame.top() - frame.bottom()) / 4)) < 1e-4);
    // Every side begins at a corner of the frame rectangle.
    for (int side = 0; side < 4; ++side) {
        const QVector2D corner = path.at(side * 9);
        QVERIFY(qFuzzyCompare(corner.x(), frame.left()) || qFuzzyCompare(corner.x(), frame.right()));
        QVERIFY(qFuzzyCompare(corner.y(), frame.bottom()) || qFuzzyCompare(corner.y(), frame.top()));
    }
}

void TstPcbGeometry::frameMessages_data()
{
    QTest::addColumn<float>("depthPerPass");
    QTest::addColumn<QStringList>("depths");
    QTest::newRow("three passes") << 0.6f << QStringList{"-0.516667", "-1.033333", "-1.550000"};
    QTest::newRow("no usable depth per pass") << 0.0f << QStringList{"-1.550000"};
    QTest::newRow("deeper than needed") << 2.0f << QStringList{"-1.550000"};
}

void TstPcbGeometry::frameMessages()
{
    QFETCH(float, depthPerPass);
    QFETCH(QStringList, depths);
    const TurnOutline frame(10, 10, 15, 15, 2.0f);
    const QList<PCBSerialMessage *> messages = frame.messages(-1.55f, 300, depthPerPass);
    QStringList lines;
    for (const PCBSerialMessage *message : messages) {
        lines << message->content();
        QVERIFY(message->promptText().isEmpty());
        QCOMPARE(message->promptType(), -1);
    }
    qDeleteAll(messages);
    QCOMPARE(lines.mid(0, 4), (QStringList{"G0 X2.500000 Y2.500000 Z30.000000\n", "F300\n", "M8\n", "M3 S12000\n"}));
    QCOMPARE(lines.size(), 4 + 37 * depths.size());
    for (int pass = 0; pass < depths.size(); ++pass) {
        QCOMPARE(lines.at(4 + 37 * pass), QStringLiteral("G1 X2.500000 Y2.500000 Z%1\n").arg(depths.at(pass)));
        QVERIFY(lines.at(4 + 37 * pass + 36).endsWith(QStringLiteral(" Z") + depths.at(pass) + QLatin1Char('\n')));
    }
}

QTEST_MAIN(TstPcbGeometry)
#include "tst_pcbgeometry.moc"
