#include "preview/gcoderender.h"
#include "settings/database.h"

#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <Qt3DExtras/Qt3DWindow>
#include <Qt3DRender/QRenderCapture>

namespace {
struct Counts {
    int blue = 0;
    int red = 0;
};

Counts count(const QImage &image)
{
    Counts counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            counts.blue += c.blue() > 150 && c.red() < 80 && c.green() < 120;
            counts.red += c.red() > 150 && c.green() < 80 && c.blue() < 80;
        }
    }
    return counts;
}

// Frames until `enough` holds; the first frames can come before the geometry is uploaded.
template<typename Enough>
Counts captureUntil(GcodeRender &render, Enough enough)
{
    auto *capture = new Qt3DRender::QRenderCapture;
    render.window()->activeFrameGraph()->setParent(capture);
    render.window()->setActiveFrameGraph(capture);
    Counts counts;
    for (int attempt = 0; attempt < 40 && !enough(counts); ++attempt) {
        std::unique_ptr<Qt3DRender::QRenderCaptureReply> reply(capture->requestCapture());
        QSignalSpy completed(reply.get(), &Qt3DRender::QRenderCaptureReply::completed);
        render.refresh();
        if (completed.wait(3000))
            counts = count(reply->image());
    }
    return counts;
}
} // namespace

// The measured board surface as Mesa draws it under Xvfb: coloured by height (blue low, red high),
// shown in the PCB mode only.
class TstHeightMapView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(!initDatabase(m_dir.filePath(QStringLiteral("korvexdb"))).isValid()); }
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    void drawnByHeightInPcbModeOnly();

private:
    QTemporaryDir m_dir;
};

void TstHeightMapView::drawnByHeightInPcbModeOnly()
{
    GcodeRender render;
    QStackedWidget stack;
    render.createWindow(&stack);
    stack.resize(800, 450);
    stack.show();
    QVERIFY(QTest::qWaitForWindowExposed(&stack));
    render.setCameraSettings(300, 480, 25, 25);
    // A board 120 mm square rising 0.2 mm from left to right.
    QVector<QVector3D> points;
    for (int column = 0; column < 7; ++column) {
        for (int row = 0; row < 7; ++row)
            points << QVector3D(20 * column, 20 * row, 0.2f * column / 6);
    }
    render.heightMap()->build(points, 7, 7, QVector3D(60, 1.6f, -60));
    render.showPcbMode();
    const Counts shown = captureUntil(render, [](const Counts &c) { return c.blue >= 300 && c.red >= 300; });
    QVERIFY2(shown.blue >= 300 && shown.red >= 300, qPrintable(QStringLiteral("blue %1 red %2").arg(shown.blue).arg(shown.red)));

    render.showGcodeMode();
    const Counts hidden = captureUntil(render, [](const Counts &c) { return c.blue + c.red == 0; });
    QCOMPARE(hidden.blue + hidden.red, 0);
}

QTEST_MAIN(TstHeightMapView)
#include "tst_heightmapview.moc"
