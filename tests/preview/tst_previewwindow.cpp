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

struct PixelCounts
{
    int orange = 0;
    int grey = 0;
    int black = 0;
};

PixelCounts countPixels(const QImage &image)
{
    PixelCounts counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 170 && c.green() > 40 && c.green() < 170 && c.blue() < 130 && c.red() - c.green() > 70)
                ++counts.orange;
            else if (c.red() < 60 && c.green() < 60 && c.blue() < 60)
                ++counts.black;
            else if (qAbs(c.red() - c.green()) < 12 && qAbs(c.green() - c.blue()) < 12 && c.red() > 60 && c.red() < 225)
                ++counts.grey;
        }
    }
    return counts;
}

// A zigzag of feed moves over most of the table, so the path covers many pixels.
QStringList zigzag()
{
    QStringList program{"G0 X20 Y20 Z0"};
    for (int row = 0; row < 40; ++row)
        program << QStringLiteral("G1 X%1 Y%2").arg(row % 2 ? 20 : 280).arg(20 + row * 10);
    return program;
}
} // namespace

class TestPreviewWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void cameraFollowsTheTable();
    void mouseMovesCameraAndDrawings();
    void drawsTableGridAndPath();

private:
    QTemporaryDir m_dir;
};

void TestPreviewWindow::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(!initDatabase(m_dir.filePath(QStringLiteral("korvexdb"))).isValid());
}

void TestPreviewWindow::cleanup()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestPreviewWindow::cameraFollowsTheTable()
{
    {
        GcodeRender render;
        render.setCameraSettings(QVector3D(1, 2, 3), QVector3D());
        QVERIFY(!render.camera());
        QStackedWidget stack;
        render.createWindow(&stack);
        QCOMPARE(stack.count(), 1);
        Qt3DRender::QCamera *camera = render.camera();
        QCOMPARE(camera->viewCenter(), FactoryViewCentre);
        QCOMPARE(camera->position().x(), 150.0f);
        QVERIFY(qAbs((camera->position() - camera->viewCenter()).length() - FactoryCameraDistance) < 1e-3f);
        // Tilted 20 degrees out of the table's plane, looking down on it.
        QVERIFY(qAbs(camera->position().y() - FactoryCameraDistance * std::sin(qDegreesToRadians(20.0f))) < 1e-2f);

        const QVector3D placed = camera->position();
        render.setCameraSettings(300, 480, 50, 50);
        QCOMPARE(camera->position(), placed);
        render.setCameraSettings(300, 480, 25, 25);
        QCOMPARE(camera->position(), placed);
        render.setCameraSettings(QVector3D(1, 2, 3), QVector3D(4, 5, 6));
        QCOMPARE(camera->viewCenter(), QVector3D(4, 5, 6));
        QCOMPARE(camera->position(), QVector3D(1, 2, 3));
    }

    QSqlQuery query;
    QVERIFY(query.exec(QStringLiteral("DELETE FROM maschine_settings WHERE machine_name = 'current'")));
    GcodeRender render;
    QStackedWidget stack;
    render.createWindow(&stack);
    QVERIFY(render.camera()->viewCenter() != FactoryViewCentre);
    render.setCameraSettings(300, 480, 25, 25);
    QCOMPARE(render.camera()->viewCenter(), FactoryViewCentre);
}

void TestPreviewWindow::mouseMovesCameraAndDrawings()
{
    GcodeRender render;
    QStackedWidget stack;
    render.createWindow(&stack);
    render.setCameraSettings(300, 480, 25, 25);
    Qt3DRender::QCamera *camera = render.camera();
    Qt3DExtras::Qt3DWindow *window = render.window();
    const QVector3D start = camera->position();

    const auto wheel = [&](int delta) {
        QWheelEvent event(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(window, &event);
    };
    wheel(9);
    QCOMPARE(camera->position(), start);
    wheel(120);
    QVERIFY(qAbs((camera->position() - camera->viewCenter()).length() - (FactoryCameraDistance - 12)) < 1e-3f);
    wheel(-120);
    QVERIFY((camera->position() - start).length() < 1e-3f);

    MillCamController *controller = render.cameraController();
    QKeyEvent ctrlDown(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier);
    QKeyEvent ctrlUp(QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &ctrlDown);
    QVERIFY(controller->isCtrlHeld());
    controller->moveCamera(0.1f, 1.0f, 0.5f);
    QCOMPARE(camera->viewCenter(), FactoryViewCentre + QVector3D(-20, 0, 10));
    QVERIFY((camera->position() - (start + QVector3D(-20, 0, 10))).length() < 1e-3f);
    QCoreApplication::sendEvent(window, &ctrlUp);
    QVERIFY(!controller->isCtrlHeld());
    const QVector3D centre = camera->viewCenter();
    controller->moveCamera(0.1f, 1.0f, 0.0f);
    QVERIFY((camera->viewCenter() - centre).length() < 1e-3f);
    QVERIFY(qAbs((camera->position() - centre).length() - FactoryCameraDistance) < 1e-2f);
    QVERIFY(qAbs(camera->position().x() - centre.x()) > 10.0f);

    // Dragging a drawing: mouse right moves it right, mouse up pushes it away from the viewer,
    // three millimetres per unit of mouse motion, always in the table's plane.
    render.setCameraSettings(300, 480, 25, 25);
    QCOMPARE(MoveableObject::sceneCamera(), camera);
    const QVector3D right = MoveableObject::dragStep(camera, 1.0f, 0.0f);
    QVERIFY((right - QVector3D(3, 0, 0)).length() < 1e-4f);
    const QVector3D away = MoveableObject::dragStep(camera, 0.0f, 1.0f);
    QVERIFY((away - QVector3D(0, 0, -3)).length() < 1e-4f);
}

void TestPreviewWindow::drawsTableGridAndPath()
{
    GcodeRender render;
    QStackedWidget stack;
    render.createWindow(&stack);
    stack.resize(800, 450);
    stack.show();
    QVERIFY(QTest::qWaitForWindowExposed(&stack));
    render.setCameraSettings(300, 480, 25, 25);

    auto *capture = new Qt3DRender::QRenderCapture;
    render.window()->activeFrameGraph()->setParent(capture);
    render.window()->setActiveFrameGraph(capture);
    render.loadGcode(zigzag(), GcodeRender::GcodeTarget);
    render.showGcodeMode();

    PixelCounts counts;
    QImage frame;
    for (int attempt = 0; attempt < 40 && counts.orange < 2000; ++attempt) {
        std::unique_ptr<Qt3DRender::QRenderCaptureReply> reply(capture->requestCapture());
        QSignalSpy completed(reply.get(), &Qt3DRender::QRenderCaptureReply::completed);
        render.refresh();
        if (completed.wait(3000)) {
            frame = reply->image();
            counts = countPixels(frame);
        }
    }
    const QByteArray found = QByteArray("orange ") + QByteArray::number(counts.orange) + " grey " +
                             QByteArray::number(counts.grey) + " black " + QByteArray::number(counts.black);
    if (qEnvironmentVariableIsSet("KORVEX_PREVIEW_FRAME"))
        frame.save(qEnvironmentVariable("KORVEX_PREVIEW_FRAME"));
    QVERIFY2(counts.orange >= 2000, found);
    QVERIFY2(counts.grey >= 20000, found);
    QVERIFY2(counts.black >= 1000, found);
}

QTEST_MAIN(TestPreviewWindow)
#include "tst_previewwindow.moc"
