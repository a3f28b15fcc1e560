#include "link/checkdoormessage.h"
#include "link/probemessage.h"

#include <QtTest>

// Stands in for the PCB mode as the receiver of a finished surface scan.
class ScanReceiver : public QObject
{
    Q_OBJECT
public:
    QStringList scans;
public Q_SLOTS:
    void scanComplete(QString type) { scans << type; }
};

// The jog cancel's bytes and budget are tested with the send queue, where they matter.
class TestControlMessages : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void doorAnswers_data()
    {
        QTest::addColumn<bool>("openBefore");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QVariantList>("reported");   // doorOpen(bool) per line
        QTest::addColumn<int>("unlocks");
        QTest::newRow("door still open") << false << QStringList{"<Door:1|MPos:0.000,0.000,0.000>"} << QVariantList{true} << 0;
        QTest::newRow("closed and ready, then ok") << true << QStringList{"<Door:0|MPos:0.000,0.000,0.000|FS:0,0>", "ok"}
                                                   << QVariantList{false, false} << 1;
        QTest::newRow("neither clears the flag") << true << QStringList{"<Hold:0|MPos:1.000,2.000,3.000>"} << QVariantList{false} << 0;
        QTest::newRow("the ok clears it too") << true << QStringList{"ok"} << QVariantList{false} << 0;
        QTest::newRow("state words are case-sensitive") << true << QStringList{"<door:1|MPos:0,0,0>"} << QVariantList{false} << 0;
    }
    void doorAnswers()
    {
        QFETCH(bool, openBefore);
        QFETCH(QStringList, lines);
        QFETCH(QVariantList, reported);
        QFETCH(int, unlocks);
        CheckDoorMessage::setDoorOpen(openBefore);
        QSignalSpy door(CheckDoorMessage::instance(), &CheckDoorMessage::doorOpen);
        QSignalSpy unlock(CheckDoorMessage::instance(), &CheckDoorMessage::unlock);
        CheckDoorMessage message;
        QVERIFY(message.isPriority());   // the query must not wait behind a full buffer of job lines
        for (const QString &line : lines)
            message.handleResponse(line);
        QVariantList seen;
        for (const QList<QVariant> &signal : qAsConst(door))
            seen << signal.at(0);
        QCOMPARE(seen, reported);
        QCOMPARE(CheckDoorMessage::isDoorOpen(), reported.last().toBool());
        QCOMPARE(unlock.count(), unlocks);
    }

    void probeAnswer_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<float>("z");
        QTest::addColumn<bool>("done");
        QTest::newRow("touch") << "[PRB:10.000,20.000,1.250:1]" << 1.25f << true;
        QTest::newRow("negative height") << "[PRB:0.000,0.000,-61.375:1]" << -61.375f << true;
        QTest::newRow("ok before the result") << "ok" << 7.0f << false;
        QTest::newRow("too few fields") << "[PRB:10.000,1.250:1]" << 7.0f << false;
        QTest::newRow("garbled height is not a height") << "[PRB:1.000,2.000,x1.5:1]" << 7.0f << false;
    }
    void probeAnswer()
    {
        QFETCH(QString, line);
        QFETCH(float, z);
        QFETCH(bool, done);
        QVector3D point(3.0f, 4.0f, 7.0f);
        ProbeMessage message(&point);
        QCOMPARE(message.kind(), qint32(Probe));
        message.handleResponse(line);
        QCOMPARE(point, QVector3D(3.0f, 4.0f, z));
        QCOMPARE(message.isDone(), done);
    }

    // Once done, a probe ignores the "ok" and any later result; only the last one reports the scan.
    void lastProbeReportsScanOnce()
    {
        ScanReceiver pcb;
        ProbeMessage::registerPcbMode(&pcb);
        QVector3D first;
        QVector3D second;
        ProbeMessage middle(&first);
        ProbeMessage last(&second);
        last.setLast(true);
        last.setProbeType(QStringLiteral("top"));
        middle.handleResponse(QStringLiteral("[PRB:0.000,0.000,-1.500:1]"));
        middle.handleResponse(QStringLiteral("ok"));
        QVERIFY(pcb.scans.isEmpty());
        last.handleResponse(QStringLiteral("[PRB:5.000,0.000,-1.250:1]"));
        last.handleResponse(QStringLiteral("ok"));
        last.handleResponse(QStringLiteral("[PRB:5.000,0.000,-9.000:1]"));
        QCOMPARE(pcb.scans, QStringList{"top"});
        QCOMPARE(first.z(), -1.5f);
        QCOMPARE(second.z(), -1.25f);
    }
};

QTEST_MAIN(TestControlMessages)
#include "tst_controlmessages.moc"
