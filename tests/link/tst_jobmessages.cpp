#include <QtTest>

#include "app/infodialog.h"
#include "link/gcodeserialmessage.h"
#include "link/pcbserialmessage.h"
#include "link/stlserialmessage.h"
#include "link/stopmessage.h"

// Stands in for a job mode or the check dialog: records what reaches it, in order, in a shared log.
class JobReceiver : public QObject
{
    Q_OBJECT
public:
    JobReceiver(const QString &name, QStringList *log)
        : m_name(name)
        , m_log(log)
    {
    }
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
private Q_SLOTS:
    void init();
    void cleanup();

    void gcodeAnswer_data();
    void gcodeAnswer();
    void pcbAnswer_data();
    void pcbAnswer();
    void stlAnswer_data();
    void stlAnswer();
    void carriersAreSingleAndIdle();
    void stopMessagePausesItsMode();

private:
    QStringList m_log;
    QMetaObject::Connection m_promptLog;
};

void TestJobMessages::init()
{
    m_log.clear();
    m_promptLog = connect(InfoDialog::instance(), &InfoDialog::openQTMessageBox, this, [this](QString text, int type) {
        m_log << QStringLiteral("prompt %1 %2").arg(type).arg(text);
    });
}

void TestJobMessages::cleanup()
{
    disconnect(m_promptLog);
}

void TestJobMessages::gcodeAnswer_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("last");
    QTest::addColumn<bool>("checkRun");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("one-line job marked last") << "ok" << true << false
                                              << QStringList { "mode progress 1", "mode done" };
    QTest::newRow("middle line") << "ok" << false << false << QStringList { "mode progress 1" };
    QTest::newRow("error still advances") << "error" << false << false << QStringList { "mode progress 1" };
    QTest::newRow("error on the last line completes") << "error" << true << false
                                                      << QStringList { "mode progress 1", "mode done" };
    QTest::newRow("check run goes to the dialog") << "ok" << true << true
                                                  << QStringList { "check progress 1", "check done" };
}

void TestJobMessages::gcodeAnswer()
{
    QFETCH(QString, answer);
    QFETCH(bool, last);
    QFETCH(bool, checkRun);
    QFETCH(QStringList, expected);

    JobReceiver mode(QStringLiteral("mode"), &m_log);
    JobReceiver check(QStringLiteral("check"), &m_log);
    GcodeSerialMessage::registerGcodeMode(&mode);
    GcodeSerialMessage::registerCheckDialog(&check);

    GcodeSerialMessage message;
    message.setContent(QStringLiteral("G1X10\n"));
    message.setLineNumber(1);
    message.setLast(last);
    message.setCheckRun(checkRun);
    QVERIFY(message.handleResponse(answer));

    QCOMPARE(m_log, expected);
}

void TestJobMessages::pcbAnswer_data()
{
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("last");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("no prompt: no pause") << QString() << -1 << false << QStringList { "pcb progress 4" };
    QTest::newRow("no prompt, last") << QString() << -1 << true
                                     << QStringList { "pcb complete", "pcb progress 4" };
    QTest::newRow("tool change")
        << "Change to engraving bit" << 0 << false
        << QStringList { "pcb paused", "prompt 0 Change to engraving bit", "pcb progress 4" };
    QTest::newRow("tool change on the last line: prompt before completion")
        << "Change tool bit to 0.8" << 2 << true
        << QStringList { "pcb paused", "prompt 2 Change tool bit to 0.8", "pcb complete", "pcb progress 4" };
}

void TestJobMessages::pcbAnswer()
{
    QFETCH(QString, prompt);
    QFETCH(int, type);
    QFETCH(bool, last);
    QFETCH(QStringList, expected);

    JobReceiver pcb(QStringLiteral("pcb"), &m_log);
    PCBSerialMessage::registerPcbMode(&pcb);

    PCBSerialMessage message(prompt, type);
    message.setContent(QStringLiteral("G1X1F100\n"));
    message.setLineNumber(4);
    message.setLast(last);
    message.handleResponse(QStringLiteral("ok"));

    QCOMPARE(m_log, expected);
}

void TestJobMessages::stlAnswer_data()
{
    QTest::addColumn<bool>("last");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("middle line") << false << QStringList { "stl progress 9" };
    QTest::newRow("last line") << true << QStringList { "stl progress 9", "stl complete" };
}

void TestJobMessages::stlAnswer()
{
    QFETCH(bool, last);
    QFETCH(QStringList, expected);

    JobReceiver stl(QStringLiteral("stl"), &m_log);
    STLSerialMessage::registerStlMode(&stl);

    STLSerialMessage message(QStringLiteral("pocket"), 3);
    message.setLineNumber(9);
    message.setLast(last);
    message.handleResponse(QStringLiteral("error"));

    QCOMPARE(m_log, expected);
}

// The carriers keep their identity for the whole run, so two modes of one kind both hear every line.
void TestJobMessages::carriersAreSingleAndIdle()
{
    QCOMPARE(GcodeSerialMessage::instance(), GcodeSerialMessage::instance());
    QCOMPARE(PCBSerialMessage::instance()->promptType(), -1);
    QVERIFY(PCBSerialMessage::instance()->promptText().isEmpty());
    QCOMPARE(STLSerialMessage::instance()->number(), -1);

    JobReceiver first(QStringLiteral("first"), &m_log);
    JobReceiver second(QStringLiteral("second"), &m_log);
    STLSerialMessage::registerStlMode(&first);
    STLSerialMessage::registerStlMode(&second);
    STLSerialMessage message(QString(), 0);
    message.setLineNumber(2);
    message.handleResponse(QStringLiteral("ok"));
    QCOMPARE(m_log, (QStringList { "first progress 2", "second progress 2" }));
}

void TestJobMessages::stopMessagePausesItsMode()
{
    auto mode = std::make_unique<JobReceiver>(QStringLiteral("pcb"), &m_log);
    StopMessage stop(mode.get());
    QCOMPARE(stop.content(), QStringLiteral("\n"));
    QCOMPARE(stop.length(), 1);

    stop.handleResponse(QStringLiteral("ok"));
    QCOMPARE(m_log, QStringList { "pcb paused" });

    // The mode may be gone when a late answer arrives (window closing while the queue drains).
    StopMessage orphan(mode.get());
    mode.reset();
    orphan.handleResponse(QStringLiteral("ok"));
    QCOMPARE(m_log, QStringList { "pcb paused" });
}

QTEST_MAIN(TestJobMessages)
#include "tst_jobmessages.moc"
