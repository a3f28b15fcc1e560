#include <QRandomGenerator>
#include <QtTest>
#include <Qt3DExtras/QPlaneMesh>
#include <Qt3DCore/QTransform>
#include <Qt3DRender/QGeometryRenderer>

#include <cmath>

#include "preview/gcoderenderhelper.h"
#include "preview/moveableobject.h"
#include "preview/pathgeometry.h"

using Points = QVector<QVector3D>;

namespace {
QVector<GcodeLine> parse(const QStringList &program)
{
    QVector<GcodeLine> lines;
    for (const QString &text : program)
        lines << GcodeLine(text);
    return lines;
}

Points points(const QVector<float> &floats)
{
    Points result;
    for (int i = 0; i + 2 < floats.size(); i += 3)
        result << QVector3D(floats[i], floats[i + 1], floats[i + 2]);
    return result;
}

// Scene points of a flat arc about (cx, cy) in G-code coordinates at height h, n chords from `start`.
Points arcPoints(float cx, float cy, float r, double start, double step, int n, float h)
{
    Points result;
    for (int i = 0; i < n; ++i)
        result << QVector3D(cx + r * std::cos(start + i * step), h, -(cy + r * std::sin(start + i * step)));
    return result;
}

bool closeTo(const Points &a, const Points &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if ((a[i] - b[i]).length() > 1e-4f)
            return false;
    }
    return true;
}

QByteArray describe(const Points &list)
{
    QByteArray text;
    for (const QVector3D &p : list)
        text += QByteArray::number(p.x()) + ',' + QByteArray::number(p.y()) + ',' + QByteArray::number(p.z()) + ' ';
    return text;
}
} // namespace

class TestPathGeometry : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void vertices_data();
    void vertices();
    void radiusArcsPickTheirSide_data();
    void radiusArcsPickTheirSide();
    void hostileProgramsStayBounded();
    void helperDrawsMovesAndMarksStock();
};

void TestPathGeometry::vertices_data()
{
    QTest::addColumn<QStringList>("program");
    QTest::addColumn<Points>("expected");
    QTest::addColumn<Points>("cuts");

    const QVector3D origin;
    QTest::newRow("empty program") << QStringList{} << Points{origin} << Points{};
    QTest::newRow("rapid") << QStringList{"G0 X10 Y20 Z5"} << Points{origin, {10, 5, -20}} << Points{};
    QTest::newRow("coordinates before any motion")
        << QStringList{"X10 Y10", "G1 X10", "Y5"} << Points{origin, {10, 0, 0}, {10, 0, -5}}
        << Points{{10, 0, 0}, {10, 0, -5}};
    QTest::newRow("non-motion words")
        << QStringList{"G0 X1", "G21", "G90", "G92 X0 Y0", "M3 S10000", "(MAX Z 5)", "F300", "Y2"}
        << Points{origin, {1, 0, 0}, {1, 0, -2}} << Points{};
    QTest::newRow("only the last G word counts")
        << QStringList{"G90 G0 X10", "G0 G90 X20"} << Points{origin, {10, 0, 0}} << Points{};
    QTest::newRow("comment at line start") << QStringList{"(G1 X5)", "G1 X3 (Y9)"} << Points{origin, {3, 0, 0}}
                                           << Points{{3, 0, 0}};

    const double quarterStep = -M_PI / 2 / 17;
    QTest::newRow("G2 quarter circle") << QStringList{"G0 X10 Y0", "G2 X0 Y-10 I-10 J0"}
                                       << (Points{origin, {10, 0, 0}} + arcPoints(0, 0, 10, 0, quarterStep, 17, 0) + Points{{0, 0, 10}})
                                       << Points{};
    // Counter-clockwise over a quarter: 1 - trunc(-15.7) = 16 chords, one fewer than clockwise.
    const double g3Step = M_PI / 2 / 16;
    QTest::newRow("G3 quarter circle") << QStringList{"G0 X10 Y0 Z2", "G3 X0 Y10 Z4 I-10"}
                                       << (Points{origin, {10, 2, 0}} + arcPoints(0, 0, 10, 0, g3Step, 16, 2) + Points{{0, 4, -10}})
                                       << Points{};
    QTest::newRow("G3 start equals end") << QStringList{"G0 X10", "G3 X10 Y0 I-10 J0"}
                                         << Points{origin, {10, 0, 0}, {10, 0, 0}} << Points{};
    QTest::newRow("G2 start equals end") << QStringList{"G0 X10", "G2 X10 I-10"}
                                         << Points{origin, {10, 0, 0}, {10, 0, 0}} << Points{};
    QTest::newRow("zero radius") << QStringList{"G1 X5", "G2 X10 I0 J0"} << Points{origin, {5, 0, 0}, {10, 0, 0}}
                                 << Points{{5, 0, 0}};
}

void TestPathGeometry::vertices()
{
    QFETCH(QStringList, program);
    QFETCH(Points, expected);
    QFETCH(Points, cuts);

    PathGeometry geometry;
    QCOMPARE(geometry.build(parse(program)), false);
    const Points drawn = points(geometry.vertices());
    QVERIFY2(closeTo(drawn, expected), describe(drawn));
    QCOMPARE(geometry.vertexCount(), expected.size());
    QVERIFY(closeTo(points(geometry.cutVertices()), cuts));
}

void TestPathGeometry::radiusArcsPickTheirSide_data()
{
    QTest::addColumn<QString>("arc");
    QTest::addColumn<int>("interpolated");
    QTest::addColumn<float>("side");

    // From (0, 0) to (10, 0): a short clockwise arc bulges towards +Y, a counter-clockwise one to -Y.
    // A negative radius takes the long way round (300 degrees) about the centre on the other side.
    QTest::newRow("G2 R10") << "G2 X10 R10" << 12 << 1.0f;
    QTest::newRow("G3 R10") << "G3 X10 R10" << 11 << -1.0f;
    QTest::newRow("G2 R-10") << "G2 X10 R-10" << 54 << 1.0f;
    QTest::newRow("G3 R-10") << "G3 X10 R-10" << 53 << -1.0f;
    QTest::newRow("half circle") << "G2 X10 R5" << 33 << 1.0f;
    QTest::newRow("radius too short") << "G2 X10 R1" << 33 << 1.0f;
}

void TestPathGeometry::radiusArcsPickTheirSide()
{
    QFETCH(QString, arc);
    QFETCH(int, interpolated);
    QFETCH(float, side);

    PathGeometry geometry;
    geometry.build(parse({arc}));
    const Points drawn = points(geometry.vertices());
    QCOMPARE(drawn.size(), interpolated + 2);
    QVERIFY((drawn[1] - QVector3D()).length() < 1e-4f);
    QVERIFY((drawn.last() - QVector3D(10, 0, 0)).length() < 1e-4f);
    const QVector3D middle = drawn[drawn.size() / 2];
    QVERIFY2(-middle.z() * side > 1.0f, describe(drawn));
}

void TestPathGeometry::hostileProgramsStayBounded()
{
    QRandomGenerator random(99);
    QStringList program{"G2 X10 Y10 I1e30", "G3 X1e38 Y-3e38 R0", "G2 X--5 R3e38", "G3 X5 I3e38 J-3e38 K3e38",
                        "G1 X" + QString(100000, QLatin1Char('7')), "G2 X1e39 R1e-30"};
    for (int i = 0; i < 5000; ++i) {
        QByteArray bytes(random.bounded(80), '\0');
        for (char &byte : bytes)
            byte = char(random.bounded(256));
        program << QString::fromLatin1(bytes);
    }
    PathGeometry geometry;
    geometry.build(parse(program));
    // An arc adds at most 64 chords and its end point; every other line at most one point.
    QVERIFY(geometry.vertexCount() <= 1 + 65 * program.size());
    QVERIFY(geometry.vertexCount() > 1);
}

void TestPathGeometry::helperDrawsMovesAndMarksStock()
{
    Qt3DCore::QEntity root;
    Gcoderenderhelper helper;
    helper.setRoot(&root);
    QCOMPARE(helper.translation(), QVector3D());
    QVERIFY(helper.extent().isEmpty());

    helper.buildWithStock({"G0 X5 Y5", "", "G1 X25 Y5", "G1 Y15", "G0 X90 Y90"});
    QCOMPARE(helper.lines().size(), 4);
    QCOMPARE(helper.entities().size(), 1);
    MoveableObject *piece = helper.entities().first();
    QCOMPARE(piece->parentNode(), &root);
    auto *renderer = piece->componentsOfType<Qt3DRender::QGeometryRenderer>().value(0);
    QVERIFY(renderer);
    QCOMPARE(renderer->vertexCount(), 5);
    QCOMPARE(renderer->primitiveType(), Qt3DRender::QGeometryRenderer::LineStrip);

    // Only the feed moves span the stock: X 25 and Y 5 to 15 (the rapids do not count).
    const PathGeometry::Extent extent = helper.extent();
    QCOMPARE(extent.minX, 25.0f);
    QCOMPARE(extent.maxX, 25.0f);
    QCOMPARE(extent.minY, 5.0f);
    QCOMPARE(extent.maxY, 15.0f);
    QVERIFY(helper.stockPlate());
    QCOMPARE(helper.stockPlate()->parentNode(), piece);
    QCOMPARE(helper.stockMesh()->width(), 0.0f);
    QCOMPARE(helper.stockMesh()->height(), 10.0f);
    QCOMPARE(helper.stockTransform()->translation(), QVector3D(25, -0.1f, -10));

    helper.setTranslation(QVector3D(0, 50, 0));
    helper.moveBy(QVector3D(2, 7, -3));
    QCOMPARE(helper.translation(), QVector3D(2, 7, -3));
    helper.hide();
    QVERIFY(!piece->isEnabled());
    QVERIFY(!helper.stockPlate()->isEnabled());
    helper.show();
    QVERIFY(piece->isEnabled());

    helper.buildWithStock({"G0 X5"});
    QCOMPARE(helper.entities().size(), 1);
    QVERIFY(helper.entities().first() != piece);
    QVERIFY2(!helper.stockPlate(), "a program without feed moves has no stock to mark");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QTEST_MAIN(TestPathGeometry)
#include "tst_pathgeometry.moc"
