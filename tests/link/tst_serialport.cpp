#include "app/infodialog.h"
#include "link/checkdoormessage.h"
#include "link/sendqueue.h"
#include "link/serialmessage.h"
#include "link/serialport.h"
#include "link/serialportreader.h"
#include "tools/grblsim/pseudoterminal.h"

#include <QPointer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <cerrno>
#include <unistd.h>

namespace {
const QByteArray banner = "\r\nGrbl 1.1h ['$' for help]\r\n";

// The controller's end of a pseudo-terminal pair, played by the test itself: it reads what the
// program wrote and writes whatever answers the test wants, byte for byte.
class PtyController
{
public:
    PtyController()
    {
        QString error;
        if (!m_pty.open(&error))
            qWarning() << error;
    }
    QString slavePath() const { return m_pty.slavePath(); }
    void send(const QByteArray &bytes)
    {
        qint64 done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_pty.masterFd(), bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0)
                done += n;
            else if (errno == EAGAIN)
                QCoreApplication::processEvents();   // the terminal's buffer is full until the program reads
            else
                break;
        }
    }
    // Everything the program wrote since the last forget().
    QByteArray received()
    {
        char chunk[4096];
        ssize_t n;
        while (m_pty.isOpen() && (n = ::read(m_pty.masterFd(), chunk, sizeof chunk)) > 0)
            m_received.append(chunk, int(n));
        return m_received;
    }
    QStringList receivedLines() { return QString::fromLatin1(received()).split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    void forget() { received(); m_received.clear(); }
    void hangUp() { m_pty.close(); }   // the cable is pulled: the program's side of the pair fails

private:
    PseudoTerminal m_pty;
    QByteArray m_received;
};

// Logs each answer it is given as "<its line> got <answer>".
class RecordingMessage : public SerialMessage
{
public:
    RecordingMessage(const QString &content, QStringList *log) : m_log(log) { setContent(content); }
    bool handleResponse(QString line) override
    {
        m_log->append(content().trimmed() + QStringLiteral(" got ") + line);
        return true;
    }

private:
    QStringList *m_log;
};
}

// The connection and its reader on a real serial port, with the test playing the controller on the
// other end of a pseudo-terminal. The pseudo-terminal refuses RTS and DTR while the port opens; every
// test shows that this neither ends the connection nor reports anything.
class TestSerialPort : public QObject
{
    Q_OBJECT

private:
    PtyController *m_controller = nullptr;
    QPointer<SerialPort> m_link;
    QStringList m_events;   // answers given to messages, and what the reader and the info dialog emitted

    SerialPortReader *reader() const { return m_link->reader(); }

    // Queues lines numbered from 7 whose answers are logged, and waits until they are written. A status
    // query is the door watcher's, whose answers show in its door signals.
    bool queue(const QStringList &contents, qint32 firstKind = Ordinary, bool firstInCheckRun = false)
    {
        for (int i = 0; i < contents.size(); ++i) {
            SerialMessage *message = i == 0 && firstKind == StatusQuery ? static_cast<SerialMessage *>(new CheckDoorMessage)
                                                                         : new RecordingMessage(contents.at(i), &m_events);
            message->setLineNumber(quint32(7 + i));
            message->setKind(i == 0 ? firstKind : Ordinary);
            message->setCheckRun(i == 0 && firstInCheckRun);
            m_link->addMessageToWriterReader(message);
        }
        QStringList lines;
        for (const QString &content : contents)
            lines << content.trimmed();
        return waitForWritten(lines);
    }

    // A settings line echoes straight back as a signal: once it is seen, everything sent before it was read.
    bool answerAndSync(const QByteArray &answer)
    {
        QSignalSpy settings(reader(), &SerialPortReader::settingsUpdate);
        m_controller->send(answer + "$999=sync\r\n");
        return QTest::qWaitFor([&] {
            for (const QList<QVariant> &update : qAsConst(settings))
                if (update.at(0).toString() == QLatin1String("$999"))
                    return true;
            return false;
        }, 5000);
    }

    bool waitForWritten(const QStringList &lines)
    {
        if (QTest::qWaitFor([&] { return m_controller->receivedLines() == lines; }, 3000))
            return true;
        qWarning() << "written:" << m_controller->receivedLines() << "expected:" << lines;
        return false;
    }

    // Banner, then the unlock start-up answered; the queue is empty afterwards.
    bool bringUp()
    {
        m_controller->send(banner);
        if (!waitForWritten({QStringLiteral("(PLV:Version)"), QStringLiteral("$X"), QStringLiteral("$$")}))
            return false;
        m_controller->forget();
        m_controller->send("ok\r\nok\r\nok\r\n");
        return QTest::qWaitFor([this] { return m_link->sendQueue()->count() == 0; }, 3000);
    }

    // Fills the controller's buffer: 120 characters written, 60 waiting for room.
    void fillBuffer()
    {
        m_link->addMessageStringToWriterReader(QString(119, QLatin1Char('A')) + QLatin1Char('\n'));
        m_link->addMessageStringToWriterReader(QString(59, QLatin1Char('B')) + QLatin1Char('\n'));
        QTRY_COMPARE(m_controller->receivedLines().size(), 1);
    }

private Q_SLOTS:
    void initTestCase()
    {
        connect(InfoDialog::instance(), &InfoDialog::testError, this, [this](QString text) { m_events << QStringLiteral("test error ") + text; });
        connect(InfoDialog::instance(), &InfoDialog::allPause, this, [this] { m_events << QStringLiteral("pause all"); });
        connect(CheckDoorMessage::instance(), &CheckDoorMessage::doorOpen, this,
                [this](bool open) { m_events << (open ? QStringLiteral("door open") : QStringLiteral("door closed")); });
    }
    // Tests named "beforeBanner..." start with a controller that has not announced itself.
    void init()
    {
        m_controller = new PtyController;
        qputenv("KORVEX_PORT", m_controller->slavePath().toLocal8Bit());
        m_link = new SerialPort;
        m_link->setUnlockOnly(true);
        QVERIFY(m_link->connectToMachine());
        m_events.clear();
        InfoDialog::instance()->on_pushButton_clicked();
        connect(reader(), &SerialPortReader::Alarm, this, [this] { m_events << QStringLiteral("alarm"); });
        connect(reader(), &SerialPortReader::updatePosition, this,
                [this](float x, float y, float z) { m_events << QStringLiteral("position %1 %2 %3").arg(x).arg(y).arg(z); });
        connect(reader(), &SerialPortReader::settingsSuccess, this, [this](QString nr, QString value, bool ok) {
            m_events << QStringLiteral("success %1=%2 %3").arg(nr, value, ok ? QStringLiteral("ok") : QStringLiteral("refused"));
        });
        connect(reader(), &SerialPortReader::settingsUpdate, this, [this](QString nr, QString value) {
            if (nr != QLatin1String("$999"))   // the test's own sync line
                m_events << QStringLiteral("update %1=%2").arg(nr, value);
        });
        if (!QByteArray(QTest::currentTestFunction()).startsWith("beforeBanner"))
            QVERIFY(bringUp());
    }
    void cleanup()
    {
        delete m_link;
        delete m_controller;
        qunsetenv("KORVEX_PORT");
        InfoDialog::instance()->on_pushButton_clicked();
    }

    void beforeBannerTextIsHeld()
    {
        m_controller->send("$100=250.000\r\n");
        QTRY_VERIFY(reader()->rxBuffer().contains(QLatin1String("$100")));
        QVERIFY(m_events.isEmpty());
        QVERIFY(m_controller->received().isEmpty());
        m_controller->send(banner);
        QTRY_COMPARE(m_events, QStringList{"update $100=250.000"});
    }

    void beforeBannerNoneSendsOneSoftReset()
    {
        QTRY_COMPARE_WITH_TIMEOUT(m_controller->received(), QByteArray("\x18\n"), 7000);
        QVERIFY(!reader()->isInitialised());
    }

    void nothingIsQueuedWithoutAConnection()
    {
        qputenv("KORVEX_PORT", "/nonexistent/korvex-port");
        SerialPort offline;
        QVERIFY(!offline.connectToMachine());
        QVERIFY(!offline.isConnected());
        QPointer<SerialMessage> dropped = new SerialMessage;
        dropped->setContent(QStringLiteral("G1X1\n"));
        offline.addMessageToWriterReader(dropped);
        offline.addMessageStringToWriterReader(QStringLiteral("G1X2\n"));
        QCOMPARE(offline.sendQueue()->count(), 0);
        QTRY_VERIFY(!dropped);
    }

    void recognisedAdapters_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<bool>("hasIds");
        QTest::addColumn<int>("vendor");
        QTest::addColumn<int>("product");
        QTest::addColumn<bool>("recognised");
        QTest::newRow("CH340 driver") << "USB-SERIAL CH340" << false << 0 << 0 << true;
        QTest::newRow("Arduino driver") << "Arduino Uno" << false << 0 << 0 << true;
        QTest::newRow("German driver") << QStringLiteral("Serielles USB-Ger\u00e4t") << false << 0 << 0 << true;
        QTest::newRow("other case") << "usb-serial ch340" << false << 0 << 0 << false;
        QTest::newRow("CH340 ids on Linux") << "USB2.0-Serial" << true << 0x1a86 << 0x7523 << true;
        QTest::newRow("Uno ids") << "" << true << 0x2341 << 0x0043 << true;
        QTest::newRow("FTDI") << "FT232R USB UART" << true << 0x0403 << 0x6001 << false;
        QTest::newRow("no ids") << "" << false << 0x1a86 << 0x7523 << false;
    }
    void recognisedAdapters()
    {
        QFETCH(QString, description);
        QFETCH(bool, hasIds);
        QFETCH(int, vendor);
        QFETCH(int, product);
        QFETCH(bool, recognised);
        QCOMPARE(SerialPort::isRecognisedAdapter(description, hasIds, quint16(vendor), quint16(product)), recognised);
    }

    void realTimeTextsOvertake_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("overtakes");
        QTest::newRow("feed hold") << "!\n" << true;
        QTest::newRow("resume") << "~\n" << true;
        QTest::newRow("status") << "?\n" << true;
        QTest::newRow("soft reset") << QStringLiteral("\x18\n") << true;
        QTest::newRow("query inside a line") << "G1?\n" << true;
        QTest::newRow("ordinary") << "G1X1\n" << false;
        QTest::newRow("vendor before any vendor answer") << "(PLV:Read)\n" << false;
        QTest::newRow("bang without line end") << "!G1\n" << false;
    }
    void realTimeTextsOvertake()
    {
        QFETCH(QString, text);
        QFETCH(bool, overtakes);
        fillBuffer();
        m_link->addMessageStringToWriterReader(text);
        if (overtakes)
            QTRY_COMPARE(m_controller->received().right(text.size()), text.toLatin1());
        QVERIFY(answerAndSync(QByteArray()));
        QCOMPARE(m_controller->receivedLines().size(), 1 + int(overtakes));
    }

    void answerSplitAcrossReadsCountsOnce()
    {
        QVERIFY(queue({QStringLiteral("G1X1F100\n"), QStringLiteral("G1X2\n")}));
        m_controller->send("o");
        QTRY_COMPARE(reader()->rxBuffer(), QStringLiteral("o"));
        QVERIFY(m_events.isEmpty());
        m_controller->send("k\r\n");
        QTRY_COMPARE(m_events, QStringList{QStringLiteral("G1X1F100 got ok")});
        QCOMPARE(m_link->sendQueue()->count(), 1);
    }

    // Each row queues its lines (the first numbered 7), the controller answers, and everything that
    // follows is compared: the answers the messages got, the signals, and the info dialog's text.
    // A status report reaches the door watcher only through a door query in flight.
    void answers_data()
    {
        QTest::addColumn<QStringList>("queued");
        QTest::addColumn<int>("firstKind");
        QTest::addColumn<bool>("checkRun");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QString>("info");
        const QStringList none;
        const QString feedError = QStringLiteral("Error: Feed rate has not yet been set or is undefined.\nLine:7\nGcode: G1X10\n");
        const QString hardLimit = QStringLiteral("Hard limit triggered. Machine position is likely lost due to sudden and immediate halt. Re-homing is highly recommended.");
        QTest::newRow("error") << QStringList{"G1X10\n"} << 0 << false << QByteArray("error:22") << QStringList{"G1X10 got error"} << feedError;
        QTest::newRow("error in a check run") << QStringList{"G1X10\n"} << 0 << true << QByteArray("error:22")
                                              << QStringList{"test error " + feedError, "G1X10 got error"} << QString();
        QTest::newRow("alarm for a line") << QStringList{"G1X1\n"} << 0 << false << QByteArray("ALARM:1") << QStringList{"alarm"}
                                          << QStringLiteral("Alarm: %1\nLine:7\nGcode: G1X1\n").arg(hardLimit);
        QTest::newRow("alarm alone") << none << 0 << false << QByteArray("ALARM:1") << QStringList{"alarm"} << hardLimit;
        QTest::newRow("alarm without digits") << none << 0 << false << QByteArray("ALARM:") << QStringList{"alarm"} << "no alarm";
        QTest::newRow("unknown alarm") << none << 0 << false << QByteArray("ALARM:10") << QStringList{"alarm"} << "10";
        QTest::newRow("alarm state report") << QStringList{"G1X1\n"} << 0 << false << QByteArray("<Alarm|MPos:0.000,0.000,0.000|FS:0,0>")
                                            << QStringList{"position 0 0 0", "alarm"} << "Alarm: no alarm\nLine:7\nGcode: G1X1\n";
        QTest::newRow("setting written") << QStringList{"$110=500\n"} << 0 << false << QByteArray("ok")
                                         << QStringList{"success $110=500\n ok", "update $110=500\n", "$110=500 got ok"} << QString();
        QTest::newRow("setting refused") << QStringList{"$110=500\n"} << 0 << false << QByteArray("error:3")
                                         << QStringList{"success $110=500\n refused", "$110=500 got error"}
                                         << "Error: Grbl '$' system command was not recognized or supported.\nLine:7\nGcode: $110=500\n";
        QTest::newRow("settings list") << QStringList{"$$\n"} << 0 << false << QByteArray("ok") << QStringList{"$$ got ok"} << QString();
        QTest::newRow("home") << QStringList{"$H\n"} << 0 << false << QByteArray("ok") << QStringList{"$H got ok"} << QString();
        QTest::newRow("jog") << QStringList{"$J=G91X5F600\n"} << 0 << false << QByteArray("ok") << QStringList{"$J=G91X5F600 got ok"} << QString();
        QTest::newRow("door opened") << none << 0 << false << QByteArray("[MSG:Check Door]") << QStringList{"pause all"} << QString();
        const int query = StatusQuery;
        QTest::newRow("status report") << QStringList{"?\n"} << query << false << QByteArray("<Idle|MPos:1.000,2.000,3.000|FS:0,0>\r\nok")
                                       << QStringList{"position 1 2 3", "door closed", "door closed"} << QString();
        QTest::newRow("position of two values") << QStringList{"?\n"} << query << false << QByteArray("<Idle|MPos:1.000,2.000|FS:0,0>\r\nok")
                                                << QStringList{"door closed", "door closed"} << QString();
        QTest::newRow("position last") << QStringList{"?\n"} << query << false << QByteArray("<Run|MPos:-4.500,6.250,-7.000>\r\nok")
                                       << QStringList{"position -4.5 6.25 -7", "door closed", "door closed"} << QString();
        QTest::newRow("no machine position") << QStringList{"?\n"} << query << false << QByteArray("<Idle|WPos:1.000,2.000,3.000>\r\nok")
                                             << QStringList{"door closed", "door closed"} << QString();
        QTest::newRow("door open") << QStringList{"?\n"} << query << false << QByteArray("<Door:1|MPos:0.000,0.000,0.000|FS:0,0>\r\nok")
                                   << QStringList{"position 0 0 0", "door open", "door closed"} << QString();
        QTest::newRow("report nobody asked for") << none << 0 << false << QByteArray("<Door:1|MPos:0.000,0.000,0.000|FS:0,0>")
                                                 << QStringList{"position 0 0 0"} << QString();
        QTest::newRow("probe result, its ok, then the next line's") << QStringList{"G38.2Z-5F100\n", "G0Z5\n"} << int(Probe) << false
            << QByteArray("[PRB:1.000,2.000,-1.250:1]\r\nok\r\nok")
            << QStringList{"G38.2Z-5F100 got [PRB:1.000,2.000,-1.250:1]", "G38.2Z-5F100 got ok", "G0Z5 got ok"} << QString();
    }
    void answers()
    {
        QFETCH(QStringList, queued);
        QFETCH(int, firstKind);
        QFETCH(bool, checkRun);
        QFETCH(QByteArray, answer);
        QFETCH(QStringList, events);
        QFETCH(QString, info);
        QVERIFY(queue(queued, firstKind, checkRun));
        QVERIFY(answerAndSync(answer + "\r\n"));
        QCOMPARE(m_events, events);
        QCOMPARE(InfoDialog::instance()->text(), info);
        QCOMPARE(m_link->sendQueue()->count(), 0);
        QCOMPARE(m_link->sendQueue()->sendBudget(), SendQueue::InitialBudget);
    }

    void secondBannerEndsTheSession()
    {
        m_controller->send("\r\nGrbl 1.1h ['$' for");
        QTRY_VERIFY(reader()->rxBuffer().contains(QLatin1String("for")));
        m_controller->send(" help]\r\n");
        QTRY_COMPARE(m_events, QStringList{"alarm"});
        QCOMPARE(InfoDialog::instance()->text(), QStringLiteral("Init Failed: Re-Unlock \n"));
        QVERIFY(answerAndSync("[MSG:'$H'|'$X' to unlock]\r\n"));
        QCOMPARE(m_events, QStringList{"alarm"});
    }

    void badInputIsSurvived_data()
    {
        QTest::addColumn<QByteArray>("garbage");
        QByteArray noise(64 * 1024, '\0');
        QRandomGenerator random(7);
        for (char &byte : noise)
            byte = char(random.bounded(256));
        noise.replace("ALARM", "alarm").replace("error", "errxr");   // noise, not an alarm
        QTest::newRow("random bytes") << noise;
        QTest::newRow("no line end") << QByteArray(100 * 1024, 'x');
        QTest::newRow("overlong line") << QByteArray(20 * 1024, 'y') + "\r\n";
        QTest::newRow("answers for nothing") << QByteArray("ok\r\nok\r\nerror:20\r\n[PRB:0,0,0:1]\r\n<Idle|MPos:0,0,0>\r\n");
        QTest::newRow("unknown lines") << QByteArray("[MSG:hello]\r\n[VER:1.1h:]\r\n(PLV:what)\r\n>>><<<\r\n$=\r\n$a=b=c\r\n");
        QTest::newRow("bare separators") << QByteArray("\r\r\n\n\r\n\0\0ok\r\n", 12);
    }
    void badInputIsSurvived()
    {
        QFETCH(QByteArray, garbage);
        m_controller->send(garbage);
        QVERIFY(answerAndSync("\r\n"));
        QVERIFY(reader()->rxBuffer().size() <= SerialPortReader::RxBufferLimit);
        QVERIFY(!m_events.contains(QStringLiteral("alarm")));
        QVERIFY(m_link->isConnected());
        m_events.clear();
        QVERIFY(queue({QStringLiteral("G1X1F100\n")}));
        QVERIFY(answerAndSync("ok\r\n"));
        QCOMPARE(m_events, QStringList{QStringLiteral("G1X1F100 got ok")});
        QCOMPARE(m_link->sendQueue()->sendBudget(), SendQueue::InitialBudget);
    }

    // The lost port during a job is tested against the simulator, through the main window.
    void tearDownResetsAndDropsTheRest()
    {
        fillBuffer();
        QTRY_VERIFY(!m_link->sendQueue()->isInFlight());
        m_link->resetConnection(0);
        QVERIFY(!m_link->isConnected());
        QCOMPARE(m_controller->received().right(2), QByteArray("\x18\n"));
        m_controller->hangUp();   // a port error while closing is not reported
        QTRY_VERIFY(!m_link);
        QVERIFY(!m_controller->received().contains('B'));
        QVERIFY(InfoDialog::instance()->text().isEmpty());
    }
};

QTEST_MAIN(TestSerialPort)
#include "tst_serialport.moc"
