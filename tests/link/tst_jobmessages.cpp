#include "app/infodialog.h"
#include "link/gcodeserialmessage.h"
#include "link/pcbserialmessage.h"
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

private:
    QString m_name;
    QStringList *m_log;
};

class TestJobMessages : public QObject
{
    Q_OBJECT
private:
    QStringList m_log;
    QMetaObject::Connection m_promptLog;

private Q_SLOTS:
    void init()
    {
        m_log.clear();
        m_promptLog = connect(InfoDialog::instance(), &InfoDialog::openQTMessageBox, this,
                              [this](QString text, int type) { m_log << QStringLiteral("prompt %1 %2").arg(type).arg(text); });
    }
    void cleanup() { disconnect(m_promptLog); }

    // Line 4 of a job answered; the answer's text never matters. "check" is a G-code check-run line.
    void answers_data()
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
    void answers()
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
        QCOMPARE(m_log, expected);
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
        QCOMPARE(m_log, (QStringList{"first progress 2", "second progress 2"}));
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

QTEST_MAIN(TestJobMessages)
#include "tst_jobmessages.moc"
