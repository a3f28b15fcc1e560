#include <QtTest>

#include "link/checkdoormessage.h"
#include "link/probemessage.h"
#include "link/sendqueue.h"
#include "link/stopjoggingmessage.h"
#include "link/unlockserialmessage.h"

// Stands in for the PCB mode as the receiver of a finished surface scan.
class ScanReceiver : public QObject
{
    Q_OBJECT
public:
    QStringList scans;
public Q_SLOTS:
    void scanComplete(QString type) { scans << type; }
};

class TestControlMessages : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void doorAnswer_data();
    void doorAnswer();
    void doorReportThenOk();
    void probeAnswer_data();
    void probeAnswer();
    void lastProbeReportsScanOnce();
    void jogCancelBytes();
    void jogCancelOvertakesFullBuffer();
    void unlockText();
};

void TestControlMessages::doorAnswer_data()
{
    QTest::addColumn<bool>("openBefore");
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("openAfter");
    QTest::addColumn<int>("unlocks");

    QTest::newRow("door still open") << false << "<Door:1|MPos:0.000,0.000,0.000|FS:0,0>" << true << 0;
    QTest::newRow("door closed, ready to resume") << true << "<Door:0|MPos:0.000,0.000,0.000|FS:0,0>" << false << 1;
    QTest::newRow("neither clears the flag") << true << "<Hold:0|MPos:1.000,2.000,3.000|FS:0,0>" << false << 0;
    QTest::newRow("the ok clears it too") << true << "ok" << false << 0;
    QTest::newRow("state words are case-sensitive") << true << "<door:1|MPos:0.000,0.000,0.000>" << false << 0;
}

void TestControlMessages::doorAnswer()
{
    QFETCH(bool, openBefore);
    QFETCH(QString, line);
    QFETCH(bool, openAfter);
    QFETCH(int, unlocks);

    CheckDoorMessage::setDoorOpen(openBefore);
    QSignalSpy door(CheckDoorMessage::instance(), &CheckDoorMessage::doorOpen);
    QSignalSpy unlock(CheckDoorMessage::instance(), &CheckDoorMessage::unlock);

    CheckDoorMessage message;
    message.handleResponse(line);

    QCOMPARE(CheckDoorMessage::isDoorOpen(), openAfter);
    QCOMPARE(door.count(), 1);
    QCOMPARE(door.at(0).at(0).toBool(), openAfter);
    QCOMPARE(unlock.count(), unlocks);
}

void TestControlMessages::doorReportThenOk()
{
    CheckDoorMessage::setDoorOpen(true);
    QSignalSpy door(CheckDoorMessage::instance(), &CheckDoorMessage::doorOpen);
    QSignalSpy unlock(CheckDoorMessage::instance(), &CheckDoorMessage::unlock);

    CheckDoorMessage message;
    QCOMPARE(message.content(), QStringLiteral("?\n"));
    QCOMPARE(message.kind(), qint32(StatusQuery));
    QVERIFY(message.isPriority());
    message.handleResponse(QStringLiteral("<Door:0|MPos:0.000,0.000,0.000|FS:0,0|WCO:0.000,0.000,0.000>"));
    message.handleResponse(QStringLiteral("ok"));

    QCOMPARE(door.count(), 2);
    QCOMPARE(door.at(0).at(0).toBool(), false);
    QCOMPARE(door.at(1).at(0).toBool(), false);
    QCOMPARE(unlock.count(), 1);
}

void TestControlMessages::probeAnswer_data()
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

void TestControlMessages::probeAnswer()
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

void TestControlMessages::lastProbeReportsScanOnce()
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

    QCOMPARE(pcb.scans, QStringList { "top" });
    QCOMPARE(first.z(), -1.5f);
    QCOMPARE(second.z(), -1.25f);
}

void TestControlMessages::jogCancelBytes()
{
    StopJoggingMessage message;
    QVERIFY(message.isPriority());
    QCOMPARE(message.length(), 2);
    QVERIFY(!message.isSent());

    const QByteArray bytes = message.toBytes();
    QCOMPARE(bytes, QByteArray("\x85\x0a", 2));
    QCOMPARE(bytes.size(), message.length());
    QVERIFY(message.isSent());
}

// A jog must stop at once even while the controller's buffer is full of queued lines.
void TestControlMessages::jogCancelOvertakesFullBuffer()
{
    QObject owner;
    QBuffer port;
    QVERIFY(port.open(QIODevice::WriteOnly));
    SendQueue queue;
    queue.setDevice(&port);

    const QString jog = QStringLiteral("$J=G91X10F600") + QString(46, QLatin1Char(' ')) + QLatin1Char('\n');
    QCOMPARE(jog.size(), 60);
    for (int i = 0; i < 3; ++i) {
        auto *line = new SerialMessage(&owner);
        line->setContent(jog);
        queue.enqueue(line);
    }
    queue.msgSentToGRBL(60);
    queue.msgSentToGRBL(60);
    // Two lines are in the controller; the third does not fit the five characters left.
    QCOMPARE(queue.sendBudget(), 5);
    QCOMPARE(port.data().size(), 120);

    queue.enqueuePriority(new StopJoggingMessage);
    QCOMPARE(port.data().size(), 122);
    QVERIFY(port.data().endsWith(QByteArray("\x85\x0a", 2)));
    QCOMPARE(queue.sendBudget(), 3);
    queue.clear();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestControlMessages::unlockText()
{
    UnlockSerialMessage message;
    QCOMPARE(message.content(), QStringLiteral("$H\n"));
    message.setUnlockOnly(true);
    QCOMPARE(message.content(), QStringLiteral("$X\n"));
    message.setUnlockOnly(false);
    QCOMPARE(message.content(), QStringLiteral("$H\n"));
}

QTEST_MAIN(TestControlMessages)
#include "tst_controlmessages.moc"
