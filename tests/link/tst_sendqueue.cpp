#include "link/checkdoormessage.h"
#include "link/gcodeserialmessage.h"
#include "link/sendqueue.h"
#include "link/serialmessage.h"
#include "link/stopjoggingmessage.h"

#include <QBuffer>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

// The send queue against an in-memory device: write completion is reported by hand, so every step
// of the character counting can be looked at. Queueing from a worker thread is tested with a real
// port in tst_linksimulator.
class TestSendQueue : public QObject
{
    Q_OBJECT

private:
    QBuffer *m_device = nullptr;
    SendQueue *m_queue = nullptr;

    static SerialMessage *line(const QString &content, bool priority = false, qint32 kind = Ordinary)
    {
        auto *message = new SerialMessage;
        message->setContent(content);
        message->setPriority(priority);
        message->setKind(kind);
        return message;
    }
    // A line of the given length, its line end included.
    static QString text(int length, QChar fill = QLatin1Char('X')) { return QString(length - 1, fill) + QLatin1Char('\n'); }
    void enqueue(const QString &content) { m_queue->enqueue(line(content)); }
    QByteArray takeWritten()
    {
        const QByteArray written = m_device->data();
        m_device->buffer().clear();
        m_device->seek(0);
        return written;
    }
    void completeWrite(qint64 size) { m_queue->msgSentToGRBL(size); }
    // The text of the message the next "ok" belongs to, empty for none.
    QString answered()
    {
        std::unique_ptr<SerialMessage> message(m_queue->takeAnsweredMessage());
        return message ? message->content() : QString();
    }

private Q_SLOTS:
    void init()
    {
        m_device = new QBuffer(this);
        m_device->open(QIODevice::WriteOnly);
        m_queue = new SendQueue(this);
        m_queue->setDevice(m_device);
    }
    void cleanup()
    {
        delete m_queue;
        delete m_device;
    }

    void overlongPriorityLineGoesOutAtOnce()
    {
        m_queue->enqueuePriority(line(text(126), true));
        QCOMPARE(takeWritten().size(), 126);
        QCOMPARE(m_queue->sendBudget(), -1);
    }

    // A write reported in parts completes once, after its last part.
    void thirdLineWaitsForFirstAnswer()
    {
        enqueue(text(60, QLatin1Char('A')));
        enqueue(text(60, QLatin1Char('B')));
        enqueue(text(60, QLatin1Char('C')));
        QCOMPARE(takeWritten(), text(60, QLatin1Char('A')).toLatin1());
        completeWrite(20);
        QVERIFY(m_queue->isInFlight());
        QVERIFY(takeWritten().isEmpty());
        completeWrite(40);
        QCOMPARE(takeWritten(), text(60, QLatin1Char('B')).toLatin1());
        completeWrite(60);
        QCOMPARE(m_queue->sendBudget(), 5);
        QVERIFY(takeWritten().isEmpty());
        QCOMPARE(answered(), text(60, QLatin1Char('A')));
        QCOMPARE(takeWritten(), text(60, QLatin1Char('C')).toLatin1());
        QCOMPARE(m_queue->sendBudget(), 5);
    }

    // A real-time command overtakes every unsent line but not the write in flight; it is never answered,
    // so every "ok" belongs to the oldest line, in the order GRBL received them.
    void realtimeOvertakesAndIsNeverAnswered()
    {
        for (int i = 1; i <= 4; ++i)
            enqueue(QStringLiteral("G1X%1\n").arg(i));
        m_queue->enqueuePriority(line(QStringLiteral("(PLV:Read)\n"), true));
        m_queue->enqueuePriority(line(QStringLiteral("!"), true));
        QCOMPARE(takeWritten(), QByteArray("G1X1\n"));
        completeWrite(5);
        QCOMPARE(takeWritten(), QByteArray("!"));
        QCOMPARE(m_queue->sendBudget(), SendQueue::InitialBudget - 5);
        completeWrite(1);
        QCOMPARE(takeWritten(), QByteArray("(PLV:Read)\n"));
        completeWrite(11);
        QCOMPARE(takeWritten(), QByteArray("G1X2\n"));
        QCOMPARE(answered(), QStringLiteral("G1X1\n"));
        QCOMPARE(answered(), QStringLiteral("(PLV:Read)\n"));
        QCOMPARE(answered(), QStringLiteral("G1X2\n"));
        QVERIFY(answered().isNull());
    }

    // GRBL's ring buffer holds 127 characters: priority lines may use the two beyond the budget, no more.
    void priorityLinesStayWithinTheBuffer()
    {
        enqueue(text(120));
        takeWritten();
        completeWrite(120);
        m_queue->enqueuePriority(line(text(6), true));
        QCOMPARE(takeWritten(), text(6).toLatin1());
        completeWrite(6);
        QCOMPARE(m_queue->sendBudget(), -1);
        m_queue->enqueuePriority(line(QStringLiteral("\n"), true));
        QCOMPARE(takeWritten(), QByteArray("\n"));
        completeWrite(1);
        m_queue->enqueuePriority(line(QStringLiteral("\n"), true));
        QVERIFY(takeWritten().isEmpty());
        m_queue->enqueuePriority(line(QStringLiteral("?"), true, StatusQuery));
        QCOMPARE(takeWritten(), QByteArray("?"));   // real-time commands take no room at all
        completeWrite(1);
        QCOMPARE(answered(), text(120));
        QCOMPARE(takeWritten(), QByteArray("\n"));
    }

    void jogCancelOvertakesExhaustedBudget()
    {
        enqueue(text(120));
        completeWrite(120);
        enqueue(text(60));
        takeWritten();
        m_queue->enqueuePriority(new StopJoggingMessage);
        QCOMPARE(takeWritten(), QByteArray("\x85\n"));
        QCOMPARE(m_queue->sendBudget(), 5 - 1);   // the jog-cancel byte never enters GRBL's buffer
        completeWrite(2);
        QVERIFY(takeWritten().isEmpty());
        QCOMPARE(answered(), text(120));
        QCOMPARE(answered(), QStringLiteral("\n"));
    }

    // A probe keeps its place until its own "ok"; status queries wait for reports; a vendor request
    // is answered by "ok" only until the vendor extension has shown itself.
    void specialKindsAreTakenByTheirOwnLines()
    {
        m_queue->enqueue(line(QStringLiteral("(PLV:Version)\n"), false, Vendor));
        completeWrite(14);
        m_queue->enqueue(line(QStringLiteral("G38.2Z-5F100\n"), false, Probe));
        completeWrite(13);
        m_queue->enqueuePriority(line(QStringLiteral("?"), true, StatusQuery));
        completeWrite(1);
        QCOMPARE(answered(), QStringLiteral("(PLV:Version)\n"));   // no vendor extension has answered yet
        QCOMPARE(m_queue->oldestUnanswered()->kind(), qint32(Probe));
        QScopedPointer<SerialMessage> status(m_queue->takeStatusMessage());
        QCOMPARE(status->kind(), qint32(StatusQuery));
        QVERIFY(!m_queue->takeStatusMessage());
        QCOMPARE(answered(), QStringLiteral("G38.2Z-5F100\n"));
        QVERIFY(!m_queue->takeVendorMessage());
        QVERIFY(m_queue->isVendorConfirmed());
        // once the vendor extension has answered, "ok" no longer belongs to vendor requests
        m_queue->enqueuePriority(line(QStringLiteral("(PLV:Read)\n"), true, Vendor));
        completeWrite(11);
        QVERIFY(answered().isNull());
        QScopedPointer<SerialMessage> vendor(m_queue->takeVendorMessage());
        QVERIFY(vendor);
        QCOMPARE(m_queue->sendBudget(), SendQueue::InitialBudget);
    }

    // After the soft reset nothing gets out, not even what a worker queues a moment later.
    void closedQueueTakesNothing()
    {
        enqueue(QStringLiteral("G1X1\n"));
        enqueue(QStringLiteral("G1X2\n"));
        QCOMPARE(takeWritten(), QByteArray("G1X1\n"));
        m_queue->close(true);
        QCOMPARE(takeWritten(), QByteArray("\x18"));
        QPointer<SerialMessage> late = line(QStringLiteral("G1X3\n"));
        m_queue->enqueue(late);
        m_queue->enqueuePriority(line(QStringLiteral("!"), true));
        completeWrite(5);
        QVERIFY(takeWritten().isEmpty());
        QCOMPARE(m_queue->count(), 0);
        QTRY_VERIFY(!late);
    }

    void stayAwakeFollowsTheQueue()
    {
        QSignalSpy awake(m_queue, &SendQueue::keepAwake);
        enqueue(QStringLiteral("G1X1\n"));
        enqueue(QStringLiteral("G1X2\n"));
        QCOMPARE(awake, QList<QVariantList>{{true}});
        completeWrite(5);
        completeWrite(5);
        answered();
        QCOMPARE(awake.count(), 1);
        answered();
        QCOMPARE(awake, (QList<QVariantList>{{true}, {false}}));
    }

    void eepromLinesAreRecognised_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<bool>("eeprom");
        QTest::newRow("setting") << "$110=500\n" << true;
        QTest::newRow("restore") << "$RST=*\n" << true;
        QTest::newRow("startup line") << "$N0=G21\n" << true;
        QTest::newRow("build info") << "$I=Korvex\n" << true;
        QTest::newRow("G10 L2") << "G10 L2 P1 X0\n" << true;
        QTest::newRow("G10L20 lower case") << "g10l20p1x0y0\n" << true;
        QTest::newRow("L20 before G10") << "L20 G10 P1 Z0\n" << true;
        QTest::newRow("G28.1") << "G28.1\n" << true;
        QTest::newRow("G30.1") << "G30.1\n" << true;
        QTest::newRow("list settings") << "$$\n" << false;
        QTest::newRow("build info read") << "$I\n" << false;
        QTest::newRow("home") << "$H\n" << false;
        QTest::newRow("jog") << "$J=G91X5F600\n" << false;
        QTest::newRow("G28") << "G28\n" << false;
        QTest::newRow("G28.10 is no G28.1") << "G28.10\n" << false;
        QTest::newRow("G1 L2 without G10") << "G1X2\n" << false;
        QTest::newRow("G100 L2") << "G100 L2\n" << false;
        QTest::newRow("G10 L3") << "G10 L3\n" << false;
    }
    void eepromLinesAreRecognised()
    {
        QFETCH(QString, content);
        QFETCH(bool, eeprom);
        QCOMPARE(SendQueue::writesEeprom(content), eeprom);
    }

    void eepromWriteGoesOutAlone()
    {
        enqueue(QStringLiteral("G1X1\n"));
        completeWrite(5);
        enqueue(QStringLiteral("$110=500\n"));
        enqueue(QStringLiteral("G1X2\n"));
        QCOMPARE(takeWritten(), QByteArray("G1X1\n"));
        answered();
        QCOMPARE(takeWritten(), QByteArray("$110=500\n"));
        completeWrite(9);
        m_queue->enqueuePriority(line(QStringLiteral("?"), true, StatusQuery));
        QVERIFY(takeWritten().isEmpty());   // not even a real-time command while the EEPROM is written
        answered();
        QCOMPARE(takeWritten(), QByteArray("?"));
        completeWrite(1);
        QCOMPARE(takeWritten(), QByteArray("G1X2\n"));
    }

    void nonAsciiIsCountedByEncodedLength()
    {
        auto *message = line(QStringLiteral("(Fr\u00e4ser)\n"));
        QCOMPARE(message->content().size(), 9);
        QCOMPARE(message->length(), 10);
        m_queue->enqueue(message);
        enqueue(QStringLiteral("G1X1\n"));
        QCOMPARE(takeWritten().size(), 10);
        completeWrite(9);
        QVERIFY(takeWritten().isEmpty());
        completeWrite(1);
        QCOMPARE(takeWritten(), QByteArray("G1X1\n"));
        QCOMPARE(m_queue->sendBudget(), SendQueue::InitialBudget - 15);
    }

    void releaseSparesOwnedMessages()
    {
        QPointer<SerialMessage> answered = line(QStringLiteral("G1X1\n"));
        QPointer<SerialMessage> owned = new SerialMessage(this);
        QPointer<SerialMessage> queued = line(QStringLiteral("G1X2\n"));
        SendQueue::release(answered);
        SendQueue::release(owned);
        SendQueue::release(GcodeSerialMessage::instance());
        SendQueue::release(CheckDoorMessage::instance());
        m_queue->enqueue(queued);
        m_queue->clear();
        QTRY_VERIFY(!answered && !queued);
        QVERIFY(owned);
        QCOMPARE(GcodeSerialMessage::instance()->kind(), qint32(Ordinary));
        QCOMPARE(CheckDoorMessage::instance()->content(), QStringLiteral("?"));
        QCOMPARE(m_queue->sendBudget(), SendQueue::InitialBudget);
        QVERIFY(!m_queue->isInFlight());
    }
};

QTEST_MAIN(TestSendQueue)
#include "tst_sendqueue.moc"
