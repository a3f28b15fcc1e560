#include "link/checkdoormessage.h"
#include "link/gcodeserialmessage.h"
#include "link/pcbserialmessage.h"
#include "link/probemessage.h"
#include "link/stlserialmessage.h"
#include "link/stopmessage.h"

#include <QtTest>

#include <memory>

// Stands in for a job mode or the check dialog: records what reaches it, in order, in a shared log.
class JobReceiver : public QObject
{
    Q_OBJECT
public:
    JobReceiver(const QString &name, QStringList *log) : m_name(name), m_log(log) {}
    void setPaused(bool paused) { *m_log << m_name + (paused ? QStringLiteral(" paused") : QStringLiteral(" running")); }

public Q_SLOTS:
    void setProgressBar(qint64 line) { *m_log << m_name + QStringLiteral(" progress ") + QString::number(line); }
    void lastMsgComplete() { *m_log << m_name + QStringLiteral(" done"); }
    void complete() { *m_log << m_name + QStringLiteral(" complete"); }
    void scanComplete(QString type) { *m_log << m_name + QStringLiteral(" scanned ") + type; }

private:
    QString m_name;
    QStringList *m_log;
};

// The job and machine control messages' answers, without a port: each handler is called as the reader
// calls it. The jog cancel's bytes and budget are tested with the send queue, where they matter.
class TestMessages : public QObject
{
    Q_OBJECT
private:
    QStringList m_log;

private Q_SLOTS:
    void initTestCase()
    {
        connect(PCBSerialMessage::instance(), &PCBSerialMessage::openQTMessageBox, this,
                [this](QString text, int type) { m_log << QStringLiteral("prompt %1 %2").arg(type).arg(text); });
    }
    void init() { m_log.clear(); }

    // Line 4 of a job answered; the answer's text never matters. "check" is a G-code check-run line.
    void jobAnswers_data()
    {
        QTest::addColumn<QString>("job");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("last");
        QTest::addColumn<QStringList>("expected");
        const QString none;
        QTest::newRow("gcode, last") << "gcode" << none << "ok" << true << QStringList{"gcode progress 4", "gcode done"};
        QTest::newRow("gcode, middle line") << "gcode" << none << "ok" << false << QStringList{"gcode progress 4"};
        QTest::newRow("gcode, error still advances") << "gcode" << none << "error" << false << QStringList{"gcode progress 4"};
        QTest::newRow("gcode, error on the last line") << "gcode" << none << "error" << true << QStringList{"gcode progress 4", "gcode done"};
        QTest::newRow("check run goes to the dialog") << "check" << none << "ok" << true << QStringList{"check progress 4", "check done"};
        QTest::newRow("pcb without prompt: no pause") << "pcb" << none << "ok" << false << QStringList{"pcb progress 4"};
        QTest::newRow("pcb without prompt, last") << "pcb" << none << "ok" << true << QStringList{"pcb complete", "pcb progress 4"};
        QTest::newRow("tool change") << "pcb" << "Change to engraving bit" << "ok" << false
                                     << QStringList{"pcb paused", "prompt 2 Change to engraving bit", "pcb progress 4"};
        QTest::newRow("tool change on the last line: prompt before completion") << "pcb" << "Change tool bit to 0.8" << "ok" << true
            << QStringList{"pcb paused", "prompt 2 Change tool bit to 0.8", "pcb complete", "pcb progress 4"};
        QTest::newRow("stl, middle line") << "stl" << none << "error" << false << QStringList{"stl progress 4"};
        QTest::newRow("stl, last line") << "stl" << none << "error" << true << QStringList{"stl progress 4", "stl complete"};
    }
    void jobAnswers()
    {
        QFETCH(QString, job);
        QFETCH(QString, prompt);
        QFETCH(QString, answer);
        QFETCH(bool, last);
        QFETCH(QStringList, expected);
        JobReceiver gcode(QStringLiteral("gcode"), &m_log);
        JobReceiver check(QStringLiteral("check"), &m_log);
        JobReceiver pcb(QStringLiteral("pcb"), &m_log);
        JobReceiver stl(QStringLiteral("stl"), &m_log);
        GcodeSerialMessage::registerGcodeMode(&gcode);
        GcodeSerialMessage::registerCheckDialog(&check);
        PCBSerialMessage::registerPcbMode(&pcb);
        STLSerialMessage::registerStlMode(&stl);
        std::unique_ptr<SerialMessage> message;
        if (job == QLatin1String("gcode") || job == QLatin1String("check"))
            message = std::make_unique<GcodeSerialMessage>();
        else if (job == QLatin1String("pcb"))
            message = std::make_unique<PCBSerialMessage>(prompt, 2);
        else
            message = std::make_unique<STLSerialMessage>(QStringLiteral("pocket"), 3);
        message->setContent(QStringLiteral("G1X10\n"));
        message->setLineNumber(4);
        message->setLast(last);
        message->setCheckRun(job == QLatin1String("check"));
        QVERIFY(message->handleResponse(answer));
        // The job signals arrive queued, after the reader's call has returned.
        QTRY_COMPARE(m_log, expected);
    }

    // The carrier keeps its identity for the whole run, so two modes of one kind both hear every line.
    void secondModeHearsTheSameCarrier()
    {
        JobReceiver first(QStringLiteral("first"), &m_log);
        JobReceiver second(QStringLiteral("second"), &m_log);
        STLSerialMessage::registerStlMode(&first);
        STLSerialMessage::registerStlMode(&second);
        STLSerialMessage message(QString(), 0);
        message.setLineNumber(2);
        message.handleResponse(QStringLiteral("ok"));
        QTRY_COMPARE(m_log, (QStringList{"first progress 2", "second progress 2"}));
    }

    void doorAnswers_data()
    {
        QTest::addColumn<bool>("openBefore");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QVariantList>("reported");   // doorOpen(bool) per line
        QTest::addColumn<int>("unlocks");
        QTest::newRow("door still open") << false << QStringList{"<Door:1|MPos:0.000,0.000,0.000>"} << QVariantList{true} << 0;
        QTest::newRow("closed and ready") << true << QStringList{"<Door:0|MPos:0.000,0.000,0.000|FS:0,0>"}
                                          << QVariantList{false} << 1;
        QTest::newRow("neither clears the flag") << true << QStringList{"<Hold:0|MPos:1.000,2.000,3.000>"} << QVariantList{false} << 0;
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
        JobReceiver pcb(QStringLiteral("pcb"), &m_log);
        ProbeMessage::registerPcbMode(&pcb);
        QVector3D first;
        QVector3D second;
        ProbeMessage middle(&first);
        ProbeMessage last(&second);
        last.setLast(true);
        last.setProbeType(QStringLiteral("top"));
        middle.handleResponse(QStringLiteral("[PRB:0.000,0.000,-1.500:1]"));
        middle.handleResponse(QStringLiteral("ok"));
        QVERIFY(m_log.isEmpty());
        last.handleResponse(QStringLiteral("[PRB:5.000,0.000,-1.250:1]"));
        last.handleResponse(QStringLiteral("ok"));
        last.handleResponse(QStringLiteral("[PRB:5.000,0.000,-9.000:1]"));
        QTRY_COMPARE(m_log, QStringList{"pcb scanned top"});
        QCOMPARE(first.z(), -1.5f);
        QCOMPARE(second.z(), -1.25f);
    }

    void stopMessagePausesItsMode()
    {
        auto mode = std::make_unique<JobReceiver>(QStringLiteral("pcb"), &m_log);
        StopMessage stop(mode.get());
        QCOMPARE(stop.content(), QStringLiteral("\n"));
        stop.handleResponse(QStringLiteral("ok"));
        QCOMPARE(m_log, QStringList{"pcb paused"});
        // The mode may be gone when a late answer arrives (window closing while the queue drains).
        StopMessage orphan(mode.get());
        mode.reset();
        orphan.handleResponse(QStringLiteral("ok"));
        QCOMPARE(m_log, QStringList{"pcb paused"});
    }
};

QTEST_MAIN(TestMessages)
#include "tst_messages.moc"
