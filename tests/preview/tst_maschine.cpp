#include <QTemporaryDir>
#include <QtTest>
#include <Qt3DCore/QTransform>

#include "preview/gcoderender.h"
#include "preview/maschine.h"
#include "settings/database.h"
#include "settings/machine_settings.h"
#include "settings/pcb_settings.h"

class TestMaschine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void pcbPageReachesPreviewCreatedLater();
    void machinePageReachesPreviewCreatedEarlier();
    void repeatedRegistrationConnectsOnce();

private:
    QTemporaryDir m_dir;
};

void TestMaschine::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(!initDatabase(m_dir.filePath(QStringLiteral("korvexdb"))).isValid());
}

void TestMaschine::cleanup()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestMaschine::pcbPageReachesPreviewCreatedLater()
{
    Pcb_Settings page;
    GcodeRender render;
    emit page.pcbSizeChanged(100, 80, 1.6f);
    emit page.pcbPositionChanged(10, 20, 0);
    emit page.pcbProbePositionChanged(30, 40, 0);
    QCOMPARE(render.table()->pcbTransform()->scale3D(), QVector3D(100, 1.6f, 80));
    QVERIFY((render.table()->pcbTransform()->translation() - QVector3D(60, 0.8f, -60)).length() < 1e-5f);
    QCOMPARE(render.table()->probeTransform()->translation(), QVector3D(30, 1, -40));

    // The layers take the board's place at their next load.
    render.loadGcode({"G1 X1 Y1"}, GcodeRender::DrillTarget);
    QVERIFY((render.pcbLayers()->boardTranslation() - QVector3D(10, 1.8f, -20)).length() < 1e-5f);
}

void TestMaschine::machinePageReachesPreviewCreatedEarlier()
{
    GcodeRender render;
    Machine_Settings page;
    emit page.tableChanged(300, 480, 50, 50);
    QCOMPARE(render.table()->gridBarCount(), 5 + 9);
    QCOMPARE(render.table()->tableTransform()->scale3D(), QVector3D(300, -10, -480));
}

void TestMaschine::repeatedRegistrationConnectsOnce()
{
    GcodeRender render;
    Pcb_Settings page;
    Maschine::instance()->setRender(&render);
    Maschine::instance()->setPcbSettings(&page);
    Maschine::instance()->setRender(&render);

    // Each application state change toggles the refresh cube once; a doubled connection would
    // toggle it back.
    render.refresh();
    const bool before = render.table()->refreshCube()->isEnabled();
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    QCOMPARE(render.table()->refreshCube()->isEnabled(), !before);

    Maschine::instance()->setRender(nullptr);
    QVERIFY(!Maschine::instance()->render());
    emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
    QCOMPARE(render.table()->refreshCube()->isEnabled(), !before);
}

QTEST_MAIN(TestMaschine)
#include "tst_maschine.moc"
