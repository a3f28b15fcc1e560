#include <QTemporaryDir>
#include <QtTest>
#include <Qt3DCore/QTransform>
#include <Qt3DExtras/QPhongAlphaMaterial>
#include <Qt3DExtras/QPlaneMesh>
#include <Qt3DRender/QGeometryRenderer>

#include <cmath>

#include "preview/gcoderender.h"
#include "preview/layoutdisplayconverter.h"
#include "preview/maschine.h"
#include "preview/moveableobject.h"
#include "settings/database.h"
#include "settings/machine_settings.h"
#include "settings/pcb_settings.h"

using Points = QVector<QVector3D>;

// The preview's scene without a window: tool path geometry, the display form of layout programs, the
// table, the PCB layers and the hub that wires the settings pages to them.
namespace {
// A layout program as the calculation server writes it: three header lines, then the copper moves.
const QStringList Layout{"G21", "G90", "G94", "G0 X10 Y10 Z1", "G1 Z-0.1", "G1 X40 Y10", "G1 X40 Y30"};

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

bool near(const QVector3D &a, const QVector3D &b, float tolerance = 1e-5f)
{
    return (a - b).length() < tolerance;
}

// Empty when the point lists agree within 1e-4, else the drawn points for the failure message.
QByteArray mismatch(const Points &drawn, const Points &expected)
{
    bool same = drawn.size() == expected.size();
    for (int i = 0; same && i < drawn.size(); ++i)
        same = near(drawn[i], expected[i], 1e-4f);
    QByteArray text;
    for (const QVector3D &p : drawn)
        text += same ? QByteArray() : QByteArray::number(p.x()) + ',' + QByteArray::number(p.y()) + ',' + QByteArray::number(p.z()) + ' ';
    return text;
}

QRectF rect(const PathGeometry::Extent &e)
{
    return QRectF(QPointF(e.minX, e.minY), QPointF(e.maxX, e.maxY));
}

QVector<float> corners(const PathGeometry::Extent &e)
{
    return {e.minX, e.minY, e.maxX, e.maxY};
}

// The G-code X and Y area of scene points.
PathGeometry::Extent extentOf(const Points &scene)
{
    PathGeometry::Extent extent = PathGeometry::Extent::empty();
    for (const QVector3D &p : scene)
        extent.unite({p.x(), -p.z(), p.x(), -p.z()});
    return extent;
}
} // namespace

class TestPreviewScene : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(!initDatabase(m_dir.filePath(QStringLiteral("korvexdb"))).isValid()); }
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    void vertices_data();
    void vertices();
    void radiusArcsPickTheirSide_data();
    void radiusArcsPickTheirSide();
    void hostileArcsStayBounded();
    void helperDrawsMovesAndMarksStock();
    void layoutDisplayForm_data();
    void layoutDisplayForm();
    void longestLayoutMoveStaysBounded();
    void gridBars_data();
    void gridBars();
    void layersFollowTheBoard();
    void previewTargetsAndModes();
    void settingsPagesReachThePreviewInAnyOrder();
    void repeatedRegistrationConnectsOnce();

private:
    QTemporaryDir m_dir;
};

void TestPreviewScene::vertices_data()
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

    const double quarterStep = -M_PI / 2 / 17;
    QTest::newRow("G2 quarter circle") << QStringList{"G0 X10 Y0", "G2 X0 Y-10 I-10 J0"}
                                       << (Points{origin, {10, 0, 0}} + arcPoints(0, 0, 10, 0, quarterStep, 17, 0) + Points{{0, 0, 10}})
                                       << Points{};
    // Counter-clockwise over a quarter: 1 - trunc(-15.7) = 16 chords, one fewer than clockwise.
    const double g3Step = M_PI / 2 / 16;
    QTest::newRow("G3 quarter circle") << QStringList{"G0 X10 Y0 Z2", "G3 X0 Y10 Z4 I-10"}
                                       << (Points{origin, {10, 2, 0}} + arcPoints(0, 0, 10, 0, g3Step, 16, 2) + Points{{0, 4, -10}})
                                       << Points{};
    // A full circle is not drawn: start equal to end sweeps nothing, with either rounding of the chord count.
    QTest::newRow("start equals end") << QStringList{"G0 X10", "G3 X10 Y0 I-10 J0", "G2 X10 I-10"}
                                      << Points{origin, {10, 0, 0}, {10, 0, 0}, {10, 0, 0}} << Points{};
    QTest::newRow("zero radius") << QStringList{"G1 X5", "G2 X10 I0 J0"} << Points{origin, {5, 0, 0}, {10, 0, 0}}
                                 << Points{{5, 0, 0}};
}

void TestPreviewScene::vertices()
{
    QFETCH(QStringList, program);
    QFETCH(Points, expected);
    QFETCH(Points, cuts);

    PathGeometry geometry;
    QCOMPARE(geometry.build(parse(program)), false);
    const QByteArray drawn = mismatch(points(geometry.vertices()), expected);
    QVERIFY2(drawn.isEmpty(), drawn);
    QCOMPARE(geometry.vertexCount(), expected.size());
    QCOMPARE(corners(geometry.cutExtent()), corners(extentOf(cuts)));
}

void TestPreviewScene::radiusArcsPickTheirSide_data()
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

void TestPreviewScene::radiusArcsPickTheirSide()
{
    QFETCH(QString, arc);
    QFETCH(int, interpolated);
    QFETCH(float, side);

    PathGeometry geometry;
    geometry.build(parse({arc}));
    const Points drawn = points(geometry.vertices());
    QCOMPARE(drawn.size(), interpolated + 2);
    QVERIFY(near(drawn[1], QVector3D(), 1e-4f));
    QVERIFY(near(drawn.last(), QVector3D(10, 0, 0), 1e-4f));
    QVERIFY2(-drawn[drawn.size() / 2].z() * side > 1.0f, mismatch(drawn, {}));
}

// Numbers at the ends of the float range must neither hang the chord loop nor flood the buffer; an
// arc adds at most 64 chords and its end point.
void TestPreviewScene::hostileArcsStayBounded()
{
    const QStringList program{"G2 X10 Y10 I1e30", "G3 X1e38 Y-3e38 R0", "G2 X--5 R3e38", "G3 X5 I3e38 J-3e38 K3e38",
                              "G1 X" + QString(100000, QLatin1Char('7')), "G2 X1e39 R1e-30", "G3 X-1e-30 R-3e38"};
    PathGeometry geometry;
    geometry.build(parse(program));
    QVERIFY(geometry.vertexCount() > program.size());
    QVERIFY(geometry.vertexCount() <= 1 + 65 * program.size());
}

void TestPreviewScene::helperDrawsMovesAndMarksStock()
{
    Qt3DCore::QEntity root;
    Gcoderenderhelper helper;
    helper.setRoot(&root);
    helper.buildWithStock({"G0 X5 Y5", "", "G1 X25 Y5", "G1 Y15", "G0 X90 Y90"});
    QCOMPARE(helper.lines().size(), 4);
    QCOMPARE(helper.entities().size(), 1);
    MoveableObject *piece = helper.entities().first();
    QCOMPARE(piece->parentNode(), &root);
    const auto renderers = piece->componentsOfType<Qt3DRender::QGeometryRenderer>();
    QCOMPARE(renderers.size(), 1);
    QCOMPARE(renderers[0]->vertexCount(), 5);
    QCOMPARE(renderers[0]->primitiveType(), Qt3DRender::QGeometryRenderer::LineStrip);

    // Only the feed moves span the stock: X 25 and Y 5 to 15 (the rapids do not count).
    QCOMPARE(rect(helper.extent()), QRectF(25, 5, 0, 10));
    QCOMPARE(helper.stockPlate()->parentNode(), piece);
    QCOMPARE(helper.stockMesh()->width(), 0.0f);
    QCOMPARE(helper.stockMesh()->height(), 10.0f);
    QCOMPARE(helper.stockTransform()->translation(), QVector3D(25, -0.1f, -10));

    helper.setTranslation(QVector3D(0, 50, 0));
    helper.moveBy(QVector3D(2, 7, -3));
    QCOMPARE(helper.translation(), QVector3D(2, 7, -3));
    helper.hide();
    QVERIFY(!piece->isEnabled() && !helper.stockPlate()->isEnabled());
    helper.show();
    QVERIFY(piece->isEnabled() && helper.stockPlate()->isEnabled());

    helper.buildWithStock({"G0 X5"});
    QCOMPARE(helper.entities().size(), 1);
    QVERIFY(helper.entities().first() != piece);
    QVERIFY2(!helper.stockPlate(), "a program without feed moves has no stock to mark");
}

void TestPreviewScene::layoutDisplayForm_data()
{
    QTest::addColumn<QStringList>("program");
    QTest::addColumn<QStringList>("expected");

    // Three lines the conversion drops, as a layout program's header would be.
    const QStringList header{"G21", "G90", "G94"};
    QTest::newRow("two lines vanish") << QStringList{"G0 X1", "G1 X2"} << QStringList{"G0 Z15"};
    QTest::newRow("unset axes are left out")
        << header + QStringList{"G0 X1 Y2", "G1 X4"} << QStringList{"G0 Z15", "G0 X 1Y 2", "G1 X 4Y 2"};
    QTest::newRow("12 mm feed in three pieces")
        << header + QStringList{"G0 X0 Y0 Z0", "G1 X12"}
        << QStringList{"G0 Z15", "G0 X 0Y 0Z 0", "G1 X 5Y 0Z 0", "G1 X 10Y 0Z 0", "G1 X 12Y 0Z 0"};
    QTest::newRow("exactly 5 mm stays whole")
        << header + QStringList{"G0 X0 Y0 Z0", "G1 Y5"} << QStringList{"G0 Z15", "G0 X 0Y 0Z 0", "G1 X 0Y 5Z 0"};
    QTest::newRow("modal continuation is split too")
        << header + QStringList{"G1 X0 Y0 Z-0.1", "Y6"}
        << QStringList{"G0 Z15", "G1 X 0Y 0Z -0.1", "G1 X 0Y 5Z -0.1", "G1 X 0Y 6Z -0.1"};
    QTest::newRow("out of reach becomes 0")
        << header + QStringList{"G0 X600 Y-501 Z3", "G1 Y1"} << QStringList{"G0 Z15", "G0 X 0Y 0Z 3", "G1 X 0Y 1Z 3"};
    QTest::newRow("copied unchanged")
        << header + QStringList{"F300", "M3", "G21", "X5 F100", "G4 P1"}
        << QStringList{"G0 Z15", "F300", "M3", "G21", "X5 F100", "G4 P1"};
    QTest::newRow("arcs are copied, their end followed")
        << header + QStringList{"G0 X0 Y0", "G2 X5 Y5 I5", "X5 Y5", "G1 X5"}
        << QStringList{"G0 Z15", "G0 X 0Y 0", "G2 X5 Y5 I5", "X5 Y5", "G1 X 5Y 5"};
    QTest::newRow("coordinates before a motion word") << header + QStringList{"X3"} << QStringList{"G0 Z15", "X3"};
}

void TestPreviewScene::layoutDisplayForm()
{
    QFETCH(QStringList, program);
    QFETCH(QStringList, expected);
    LayoutDisplayConverter converter;
    converter.convert(parse(program));
    QCOMPARE(converter.output(), expected);
}

// Corner to corner of the reach (1732 mm) in 347 lines; a number beyond the float range reads as 0,
// so the last move runs 500 mm back to X 0 in 100 lines.
void TestPreviewScene::longestLayoutMoveStaysBounded()
{
    LayoutDisplayConverter converter;
    converter.convert(parse({"G21", "G90", "G94", "G0 X-500 Y-500 Z-500", "G1 X500 Y500 Z500", "G1 X1e39"}));
    const QStringList output = converter.output();
    QCOMPARE(output.size(), 1 + 1 + 347 + 100);
    QCOMPARE(output.at(2 + 346), QStringLiteral("G1 X 500Y 500Z 500"));
    QCOMPARE(output.last(), QStringLiteral("G1 X 0Y 500Z 500"));
}

void TestPreviewScene::gridBars_data()
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

void TestPreviewScene::gridBars()
{
    QFETCH(QVector<float>, table);
    QFETCH(int, bars);

    Qt3DCore::QEntity root;
    MillingTable millingTable;
    millingTable.buildScene(&root);
    millingTable.changeTable(table[0], table[1], table[2], table[3]);
    QCOMPARE(millingTable.gridBarCount(), bars);
    QCOMPARE(millingTable.tableTransform()->scale3D(), QVector3D(std::abs(table[0]), -10, -std::abs(table[1])));
    QCOMPARE(millingTable.tableTransform()->translation(), QVector3D(table[0] / 2, -5, -table[1] / 2));
}

void TestPreviewScene::layersFollowTheBoard()
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
    QCOMPARE(rect(layers.layersExtent()), QRectF(10, 10, 40, 20));
    QCOMPARE(layers.stockHolder().stockMesh()->width(), 40.0f);

    // Moving the board takes effect with the next load or clear.
    layers.pcbPositionChanged(5, 0, 0);
    QVERIFY(near(layers.boardTranslation(), offset));
    layers.clearTop();
    QVERIFY(near(layers.boardTranslation(), QVector3D(5, 1.8f, 0)));
    layers.clearDrill();

    // The bottom layout's feed moves span X 10 to 40; turned over, they still do, shifted with the board.
    layers.loadBottomLayout(Layout);
    const Gcoderenderhelper &bottom = layers.bottomLayout();
    const QMatrix4x4 toWorld = bottom.entities().first()->transform()->matrix();
    const float ends[] = {toWorld.map(QVector3D(bottom.extent().minX, 0, 0)).x(),
                          toWorld.map(QVector3D(bottom.extent().maxX, 0, 0)).x()};
    QCOMPARE(std::min(ends[0], ends[1]), 5.0f + 10.0f);
    QCOMPARE(std::max(ends[0], ends[1]), 5.0f + 40.0f);
    QVERIFY(qAbs(bottom.translation().y() - 0.3f) < 1e-5f);
    QCOMPARE(bottom.entities().first()->transform()->rotationZ(), 180.0f);
    // With a bottom side the stock reaches 10 mm beyond the layers on every side.
    QCOMPARE(layers.stockHolder().stockMesh()->width(), 30.0f + 20.0f);
    QCOMPARE(layers.stockHolder().stockMesh()->height(), 20.0f + 20.0f);

    layers.clearBottom();
    QVERIFY(layers.layersExtent().isEmpty());
    QVERIFY(!layers.stockHolder().stockPlate());
}

void TestPreviewScene::previewTargetsAndModes()
{
    GcodeRender render;
    const QStringList program{"G0 X1 Y1", "G1 X20 Y5"};

    render.loadGcode(program, GcodeRender::GcodeTarget);
    QCOMPARE(render.gcodePath()->translation(), QVector3D(0, 50, 0));
    render.loadGcode(program, GcodeRender::StlTarget);
    QVERIFY(render.stlPath()->stockPlate());
    QCOMPARE(render.stlPath()->translation(), QVector3D(0, 50, 0));
    render.loadGcode(program, 6);
    render.loadGcode(program, -1);
    QVERIFY(render.pcbLayers()->layersExtent().isEmpty());
    // With a bottom side the blank turns translucent, its one material replaced.
    Qt3DCore::QEntity *blank = render.table()->pcbBlank();
    QVERIFY(blank->componentsOfType<Qt3DExtras::QPhongAlphaMaterial>().isEmpty());
    render.loadGcode(Layout, GcodeRender::BottomLayoutTarget);
    QCOMPARE(blank->componentsOfType<Qt3DExtras::QPhongAlphaMaterial>().size(), 1);
    QCOMPARE(blank->componentsOfType<Qt3DRender::QMaterial>().size(), 1);

    // Per mode: PCB blank, G-code path, PCB layers, STL path shown or not.
    const auto shown = [&render, blank] {
        return QVector<bool>{blank->isEnabled(), render.gcodePath()->entities().first()->isEnabled(),
                             render.pcbLayers()->bottomLayout().entities().first()->isEnabled(),
                             render.stlPath()->entities().first()->isEnabled()};
    };
    const bool first = render.showGcodeMode();
    QCOMPARE(shown(), (QVector<bool>{false, true, false, false}));
    QCOMPARE(render.showPcbMode(), !first);
    QCOMPARE(shown(), (QVector<bool>{true, false, true, false}));
    QCOMPARE(render.showStlMode(), first);
    QCOMPARE(shown(), (QVector<bool>{false, false, false, true}));
}

// The hub wires each page to the preview whether the page was made before it or after it.
void TestPreviewScene::settingsPagesReachThePreviewInAnyOrder()
{
    Pcb_Settings pcbPage;
    GcodeRender render;
    Machine_Settings machinePage;
    const MillingTable *table = render.table();
    emit pcbPage.pcbSizeChanged(100, 80, 1.6f);
    emit pcbPage.pcbPositionChanged(10, 20, 0);
    QCOMPARE(table->pcbTransform()->scale3D(), QVector3D(100, 1.6f, 80));
    QVERIFY(near(table->pcbTransform()->translation(), QVector3D(60, 0.8f, -60)));
    // Position before size: placed with the old size until the next position change.
    emit pcbPage.pcbPositionChanged(0, 0, 5);
    emit pcbPage.pcbSizeChanged(50, 40, 2);
    QVERIFY(near(table->pcbTransform()->translation(), QVector3D(50, 5.8f, -40)));
    QCOMPARE(table->pcbTransform()->scale3D(), QVector3D(50, 2, 40));

    emit pcbPage.pcbProbePositionChanged(30, 40, 0);
    QCOMPARE(table->probeTransform()->scale3D(), QVector3D(3, 2, 3));
    QCOMPARE(table->probeTransform()->translation(), QVector3D(30, 1, -40));
    emit pcbPage.pcbProbePositionChanged(30, 40, -15);
    QCOMPARE(table->probeTransform()->scale3D().y(), 17.0f);
    emit machinePage.tableChanged(300, 480, 50, 50);
    QCOMPARE(table->gridBarCount(), 5 + 9);

    // The layers take the board's place at their next load.
    render.loadGcode({"G1 X1 Y1"}, GcodeRender::DrillTarget);
    QVERIFY(near(render.pcbLayers()->boardTranslation(), QVector3D(0, 2, 0)));
}

void TestPreviewScene::repeatedRegistrationConnectsOnce()
{
    GcodeRender render;
    Pcb_Settings page;
    Maschine::instance()->setRender(&render);
    Maschine::instance()->setPcbSettings(&page);
    Maschine::instance()->setRender(&render);

    // The hub nudges the on-demand renderer once per application state change; a doubled
    // connection would toggle the refresh cube back.
    const bool flag = render.refresh();
    QCOMPARE(render.table()->refreshCube()->isEnabled(), !flag);
    const bool before = render.table()->refreshCube()->isEnabled();
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    QCOMPARE(render.table()->refreshCube()->isEnabled(), !before);

    Maschine::instance()->setRender(nullptr);
    emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
    QCOMPARE(render.table()->refreshCube()->isEnabled(), !before);
}

QTEST_MAIN(TestPreviewScene)
#include "tst_previewscene.moc"
