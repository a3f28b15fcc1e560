#include <QSqlQuery>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <Qt3DExtras/Qt3DWindow>
#include <Qt3DRender/QCamera>
#include <Qt3DRender/QRenderCapture>

#include "preview/gcoderender.h"
#include "preview/millcamcontroller.h"
#include "preview/moveableobject.h"
#include "settings/database.h"

namespace {
const QVector3D FactoryViewCentre(150, 0, -240);
constexpr float FactoryCameraDistance = 288 + 240;

bool near(const QVector3D &a, const QVector3D &b, float tolerance = 1e-3f)
{
    return (a - b).length() < tolerance;
}

float distance(const Qt3DRender::QCamera *camera)
{
    return (camera->position() - camera->viewCenter()).length();
}

enum Colour { PathOrange, GridBlack, TableGrey, ExecutedBlue, ToolGreen, ColourCount };

// Pixels of the path still to run (orange), the grid bars (black), the table (grey), the path already
// run (blue) and the tool (green, shaded) in a frame.
QByteArray countPixels(const QImage &image, int counts[ColourCount])
{
    std::fill(counts, counts + ColourCount, 0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 170 && c.green() > 40 && c.green() < 170 && c.blue() < 130 && c.red() - c.green() > 70)
                ++counts[PathOrange];
            else if (c.red() < 60 && c.green() < 60 && c.blue() < 60)
                ++counts[GridBlack];
            else if (qAbs(c.red() - c.green()) < 12 && qAbs(c.green() - c.blue()) < 12 && c.red() > 60 && c.red() < 225)
                ++counts[TableGrey];
            else if (c.blue() > 150 && c.blue() - c.red() > 100 && c.blue() - c.green() > 60)
                ++counts[ExecutedBlue];
            else if (c.green() > 60 && c.green() - c.red() > 40 && c.green() - c.blue() > 40)
                ++counts[ToolGreen];
        }
    }
    return "orange " + QByteArray::number(counts[PathOrange]) + " black " + QByteArray::number(counts[GridBlack])
           + " grey " + QByteArray::number(counts[TableGrey]) + " blue " + QByteArray::number(counts[ExecutedBlue])
           + " green " + QByteArray::number(counts[ToolGreen]);
}

// A zigzag of feed moves over most of the table, so the path covers many pixels.
QStringList zigzag()
{
    QStringList program{"G0 X20 Y20 Z0", "F1000"};
    for (int row = 0; row < 40; ++row)
        program << QStringLiteral("G1 X%1 Y%2").arg(row % 2 ? 20 : 280).arg(20 + row * 10);
    return program;
}

// Frames until `enough` holds for the pixel counts; the first frames can come before the geometry is
// uploaded.
template<typename Enough>
QByteArray captureUntil(GcodeRender &render, Enough enough)
{
    auto *capture = new Qt3DRender::QRenderCapture;
    render.window()->activeFrameGraph()->setParent(capture);
    render.window()->setActiveFrameGraph(capture);
    int counts[ColourCount] = {};
    QByteArray found;
    for (int attempt = 0; attempt < 40 && !enough(counts); ++attempt) {
        std::unique_ptr<Qt3DRender::QRenderCaptureReply> reply(capture->requestCapture());
        QSignalSpy completed(reply.get(), &Qt3DRender::QRenderCaptureReply::completed);
        render.refresh();
        if (completed.wait(3000))
            found = countPixels(reply->image(), counts);
    }
    return enough(counts) ? QByteArray() : "not enough: " + found;
}
} // namespace

class TestPreviewWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(!initDatabase(m_dir.filePath(QStringLiteral("korvexdb"))).isValid()); }
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    void cameraFollowsTableAndMouse();
    void drawsTableGridAndPath();
    void drawsExecutedPartAndTool();

private:
    QTemporaryDir m_dir;
};

void TestPreviewWindow::cameraFollowsTableAndMouse()
{
    auto render = std::make_unique<GcodeRender>();
    render->setCameraSettings(300, 480, 25, 25);
    QVERIFY(!render->camera());
    QStackedWidget stack;
    render->createWindow(&stack);
    Qt3DRender::QCamera *camera = render->camera();
    QCOMPARE(camera->viewCenter(), FactoryViewCentre);
    QCOMPARE(camera->position().x(), 150.0f);
    QVERIFY(qAbs(distance(camera) - FactoryCameraDistance) < 1e-3f);
    // Tilted 20 degrees out of the table's plane, looking down on it; the grid spacing plays no part.
    QVERIFY(qAbs(camera->position().y() - FactoryCameraDistance * std::sin(qDegreesToRadians(20.0f))) < 1e-2f);
    const QVector3D start = camera->position();
    render->setCameraSettings(300, 480, 50, 50);
    QCOMPARE(camera->position(), start);

    const auto send = [&render](QEvent &&event) { QCoreApplication::sendEvent(render->window(), &event); };
    const auto wheel = [&](int delta) {
        send(QWheelEvent(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                         Qt::NoScrollPhase, false));
    };
    wheel(9);
    QCOMPARE(camera->position(), start);
    wheel(120);
    QVERIFY(qAbs(distance(camera) - (FactoryCameraDistance - 12)) < 1e-3f);
    wheel(-120);
    QVERIFY(near(camera->position(), start));

    // Right-drag with Ctrl slides the view in the table's plane; without Ctrl it orbits the centre.
    MillCamController *controller = render->cameraController();
    send(QKeyEvent(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier));
    QVERIFY(controller->isCtrlHeld());
    controller->moveCamera(0.1f, 1.0f, 0.5f);
    QCOMPARE(camera->viewCenter(), FactoryViewCentre + QVector3D(-20, 0, 10));
    QVERIFY(near(camera->position(), start + QVector3D(-20, 0, 10)));
    send(QKeyEvent(QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier));
    QVERIFY(!controller->isCtrlHeld());
    const QVector3D centre = camera->viewCenter();
    controller->moveCamera(0.1f, 1.0f, 0.0f);
    QVERIFY(near(camera->viewCenter(), centre));
    QVERIFY(qAbs(distance(camera) - FactoryCameraDistance) < 1e-2f);
    QVERIFY(qAbs(camera->position().x() - centre.x()) > 10.0f);

    // Dragging a drawing: mouse right moves it right, mouse up pushes it away from the viewer,
    // three millimetres per unit of mouse motion, always in the table's plane.
    render->setCameraSettings(300, 480, 25, 25);
    QCOMPARE(MoveableObject::sceneCamera(), camera);
    QVERIFY(near(MoveableObject::dragStep(camera, 1.0f, 0.0f), QVector3D(3, 0, 0), 1e-4f));
    QVERIFY(near(MoveableObject::dragStep(camera, 0.0f, 1.0f), QVector3D(0, 0, -3), 1e-4f));

    // Without a "current" machine the camera stays unplaced until the table is known.
    render.reset();
    QVERIFY(QSqlQuery().exec(QStringLiteral("DELETE FROM maschine_settings WHERE machine_name = 'current'")));
    render = std::make_unique<GcodeRender>();
    render->createWindow(&stack);
    QVERIFY(render->camera()->viewCenter() != FactoryViewCentre);
    render->setCameraSettings(300, 480, 25, 25);
    QCOMPARE(render->camera()->viewCenter(), FactoryViewCentre);
}

// Drawn by Mesa under Xvfb: the path must show in its own colour (a line strip has no normals, so
// lighting alone would draw it black), over the grey table with its black grid bars.
void TestPreviewWindow::drawsTableGridAndPath()
{
    GcodeRender render;
    QStackedWidget stack;
    render.createWindow(&stack);
    stack.resize(800, 450);
    stack.show();
    QVERIFY(QTest::qWaitForWindowExposed(&stack));
    render.setCameraSettings(300, 480, 25, 25);
    render.loadGcode(zigzag(), GcodeRender::GcodeTarget);
    render.showGcodeMode();
    const QByteArray missing = captureUntil(render, [](const int *counts) {
        return counts[PathOrange] >= 2000 && counts[GridBlack] >= 1000 && counts[TableGrey] >= 20000
               && counts[ExecutedBlue] == 0 && counts[ToolGreen] == 0;
    });
    QVERIFY2(missing.isEmpty(), missing);
}

// Half the zigzag run: its first rows blue, the rest orange, the tool standing where the run got to.
void TestPreviewWindow::drawsExecutedPartAndTool()
{
    GcodeRender render;
    QStackedWidget stack;
    render.createWindow(&stack);
    stack.resize(800, 450);
    stack.show();
    QVERIFY(QTest::qWaitForWindowExposed(&stack));
    render.setCameraSettings(300, 480, 25, 25);
    render.loadGcode(zigzag(), GcodeRender::GcodeTarget);
    render.showGcodeMode();
    render.setExecutedLine(22);
    render.setToolPosition(20, 210, 0);
    const QByteArray missing = captureUntil(render, [](const int *counts) {
        return counts[PathOrange] >= 1000 && counts[ExecutedBlue] >= 1000 && counts[ToolGreen] >= 30;
    });
    QVERIFY2(missing.isEmpty(), missing);
}

QTEST_MAIN(TestPreviewWindow)
#include "tst_previewwindow.moc"
