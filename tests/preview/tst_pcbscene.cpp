#include <QtTest>
#include <cfloat>
#include <Qt3DCore/QTransform>
#include <Qt3DExtras/QPhongAlphaMaterial>
#include <Qt3DExtras/QPlaneMesh>

#include "preview/gcoderender.h"
#include "preview/maschine.h"
#include "preview/millingtable.h"
#include "preview/moveableobject.h"
#include "preview/pcbrenderhelper.h"

namespace {
// A layout program as the calculation server writes it: three header lines, then the copper moves.
const QStringList Layout{"G21", "G90", "G94", "G0 X10 Y10 Z1", "G1 Z-0.1", "G1 X40 Y10", "G1 X40 Y30"};

bool near(const QVector3D &a, const QVector3D &b)
{
    return (a - b).length() < 1e-5f;
}

// World X range of a drawing's feed moves, through the transform of its one piece.
QPair<float, float> worldRangeX(const Gcoderenderhelper &drawing)
{
    const QMatrix4x4 matrix = drawing.entities().first()->transform()->matrix();
    const QVector<float> &cuts = drawing.geometries().first()->cutVertices();
    float low = FLT_MAX;
    float high = -FLT_MAX;
    for (int i = 0; i + 2 < cuts.size(); i += 3) {
        const float x = matrix.map(QVector3D(cuts[i], cuts[i + 1], cuts[i + 2])).x();
        low = std::min(low, x);
        high = std::max(high, x);
    }
    return {low, high};
}
} // namespace

class TestPcbScene : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void gridBars_data();
    void gridBars();
    void blankAndProbePlacement();
    void layersFollowTheBoard();
    void bottomLayoutIsTurnedOverInPlace();
    void previewTargetsAndModes();
};

void TestPcbScene::cleanup()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestPcbScene::gridBars_data()
{
    QTest::addColumn<QVector<float>>("table");
    QTest::addColumn<int>("bars");

    QTest::newRow("factory table, 25 mm") << QVector<float>{300, 480, 25, 25} << 11 + 19;
    QTest::newRow("50 mm") << QVector<float>{300, 480, 50, 50} << 5 + 9;
    QTest::newRow("spacing beyond the table") << QVector<float>{300, 480, 500, 500} << 0;
    QTest::newRow("uneven") << QVector<float>{310, 470, 25, 25} << 12 + 18;
    QTest::newRow("negative size") << QVector<float>{-300, -480, 25, 25} << 11 + 19;
    QTest::newRow("zero spacing") << QVector<float>{300, 480, 0, 25} << 19;
    QTest::newRow("spacing no grid can show") << QVector<float>{1e9f, 480, 1, 25} << 19;
}

void TestPcbScene::gridBars()
{
    QFETCH(QVector<float>, table);
    QFETCH(int, bars);

    Qt3DCore::QEntity root;
    MillingTable millingTable;
    millingTable.buildScene(&root);
    QCOMPARE(millingTable.gridBarCount(), 30);
    millingTable.changeTable(table[0], table[1], table[2], table[3]);
    QCOMPARE(millingTable.gridBarCount(), bars);
    QCOMPARE(millingTable.tableTransform()->scale3D(), QVector3D(std::abs(table[0]), -10, -std::abs(table[1])));
    QCOMPARE(millingTable.tableTransform()->translation(), QVector3D(table[0] / 2, -5, -table[1] / 2));
}

void TestPcbScene::blankAndProbePlacement()
{
    Qt3DCore::QEntity root;
    MillingTable millingTable;
    millingTable.buildScene(&root);

    millingTable.changePCBSize(100, 80, 1.6f);
    millingTable.changePCBPosition(10, 20, 0);
    QVERIFY(near(millingTable.pcbTransform()->translation(), QVector3D(60, 0.8f, -60)));

    // Position before size: placed with the old size until the next position change.
    millingTable.changePCBPosition(0, 0, 5);
    millingTable.changePCBSize(50, 40, 2);
    QVERIFY(near(millingTable.pcbTransform()->translation(), QVector3D(50, 5.8f, -40)));
    QCOMPARE(millingTable.pcbTransform()->scale3D(), QVector3D(50, 2, 40));

    millingTable.changeProbePosition(30, 40, 0);
    QCOMPARE(millingTable.probeTransform()->scale3D(), QVector3D(3, 2, 3));
    QCOMPARE(millingTable.probeTransform()->translation(), QVector3D(30, 1, -40));
    millingTable.changeProbePosition(30, 40, -15);
    QCOMPARE(millingTable.probeTransform()->scale3D().y(), 17.0f);

    QVERIFY(millingTable.pcbBlank()->componentsOfType<Qt3DExtras::QPhongAlphaMaterial>().isEmpty());
    millingTable.setPcbBlankTranslucent(0.5f);
    QCOMPARE(millingTable.pcbBlank()->componentsOfType<Qt3DExtras::QPhongAlphaMaterial>().size(), 1);
    QCOMPARE(millingTable.pcbBlank()->componentsOfType<Qt3DRender::QMaterial>().size(), 1);

    QCOMPARE(millingTable.refresh(), false);
    QVERIFY(millingTable.refreshCube()->isEnabled());
    QCOMPARE(millingTable.refresh(), true);
    QVERIFY(!millingTable.refreshCube()->isEnabled());
}

void TestPcbScene::layersFollowTheBoard()
{
    Qt3DCore::QEntity root;
    PcbRenderHelper layers;
    layers.setRoot(&root);
    QCOMPARE(layers.boardTranslation(), QVector3D());
    QVERIFY(layers.layersExtent().isEmpty());

    layers.pcbSizeChanged(100, 80, 1.6f);
    layers.pcbPositionChanged(10, 20, 99);
    QCOMPARE(layers.boardTranslation(), QVector3D());
    layers.loadDrill({"G0 X15 Y15", "G1 Z-2", "G0 Z2", "G0 X50 Y25", "G1 Z-2"});
    const QVector3D offset(10, 1.8f, -20);
    QVERIFY(near(layers.boardTranslation(), offset));

    layers.loadTopLayout(Layout);
    QVERIFY(near(layers.topLayout().translation(), offset));
    const PathGeometry::Extent extent = layers.layersExtent();
    QCOMPARE(extent.minX, 10.0f);
    QCOMPARE(extent.maxX, 50.0f);
    QCOMPARE(extent.minY, 10.0f);
    QCOMPARE(extent.maxY, 30.0f);
    QVERIFY(layers.stockHolder().stockPlate());
    QCOMPARE(layers.stockHolder().stockMesh()->width(), 40.0f);

    // Moving the board takes effect with the next load or clear.
    layers.pcbPositionChanged(0, 0, 0);
    QVERIFY(near(layers.boardTranslation(), offset));
    layers.clearTop();
    QVERIFY(near(layers.boardTranslation(), QVector3D(0, 1.8f, 0)));
    layers.clearDrill();
    QVERIFY(layers.layersExtent().isEmpty());
    QVERIFY(!layers.stockHolder().stockPlate());
}

void TestPcbScene::bottomLayoutIsTurnedOverInPlace()
{
    Qt3DCore::QEntity root;
    PcbRenderHelper layers;
    layers.setRoot(&root);
    layers.pcbSizeChanged(100, 80, 1.6f);
    layers.pcbPositionChanged(5, 0, 0);
    layers.loadBottomLayout(Layout);

    const auto range = worldRangeX(layers.bottomLayout());
    QCOMPARE(range.first, 5.0f + 10.0f);
    QCOMPARE(range.second, 5.0f + 40.0f);
    const QVector3D t = layers.bottomLayout().translation();
    QVERIFY(qAbs(t.y() - 0.3f) < 1e-5f);
    QCOMPARE(layers.bottomLayout().entities().first()->transform()->rotationZ(), 180.0f);
    // With a bottom side the stock reaches 10 mm beyond the layers on every side.
    QCOMPARE(layers.stockHolder().stockMesh()->width(), 30.0f + 20.0f);
    QCOMPARE(layers.stockHolder().stockMesh()->height(), 20.0f + 20.0f);

    layers.clearBottom();
    QVERIFY(!layers.stockHolder().stockPlate());
}

void TestPcbScene::previewTargetsAndModes()
{
    GcodeRender render;
    QCOMPARE(Maschine::instance()->render(), &render);
    const QStringList program{"G0 X1 Y1", "G1 X20 Y5"};

    render.loadGcode(program, GcodeRender::GcodeTarget);
    QCOMPARE(render.gcodePath()->translation(), QVector3D(0, 50, 0));
    render.loadGcode(program, GcodeRender::StlTarget);
    QVERIFY(render.stlPath()->stockPlate());
    QCOMPARE(render.stlPath()->translation(), QVector3D(0, 50, 0));
    render.loadGcode(program, 6);
    render.loadGcode(program, -1);
    QCOMPARE(render.pcbLayers()->layersExtent().isEmpty(), true);
    render.loadGcode(Layout, GcodeRender::BottomLayoutTarget);
    QVERIFY(!render.pcbLayers()->bottomLayout().entities().isEmpty());
    QVERIFY(!render.table()->pcbBlank()->componentsOfType<Qt3DExtras::QPhongAlphaMaterial>().isEmpty());

    const bool first = render.showGcodeMode();
    QVERIFY(!render.table()->pcbBlank()->isEnabled());
    QVERIFY(render.gcodePath()->entities().first()->isEnabled());
    QVERIFY(!render.stlPath()->entities().first()->isEnabled());
    QCOMPARE(render.showPcbMode(), !first);
    QVERIFY(render.table()->pcbBlank()->isEnabled());
    QVERIFY(render.pcbLayers()->bottomLayout().entities().first()->isEnabled());
    QVERIFY(!render.gcodePath()->entities().first()->isEnabled());
    render.showStlMode();
    QVERIFY(render.stlPath()->entities().first()->isEnabled());
    QVERIFY(!render.pcbLayers()->bottomLayout().entities().first()->isEnabled());

    // The hub nudges the on-demand renderer whenever the application's state changes.
    const bool before = render.table()->refreshCube()->isEnabled();
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    QCOMPARE(render.table()->refreshCube()->isEnabled(), !before);
}

QTEST_MAIN(TestPcbScene)
#include "tst_pcbscene.moc"
