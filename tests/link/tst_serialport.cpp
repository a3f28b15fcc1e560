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
// program wrote and writes whatever answers the test wants, byte for byte. Like GRBL it takes the
// status requests ("?") out of the stream; it counts them and answers none unless the test does.
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
    // Everything the program wrote since the last forget(), status requests aside.
    QByteArray received()
    {
        char chunk[4096];
        ssize_t n;
        while (m_pty.isOpen() && (n = ::read(m_pty.masterFd(), chunk, sizeof chunk)) > 0) {
            for (const char byte : QByteArray(chunk, int(n))) {
                if (byte == '?')
                    ++m_queries;
                else
                    m_received.append(byte);
            }
        }
        return m_received;
    }
    int queries()
    {
        received();
        return m_queries;
    }
    QStringList receivedLines() { return QString::fromLatin1(received()).split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    void forget() { received(); m_received.clear(); }
    void hangUp() { m_pty.close(); }   // the cable is pulled: the program's side of the pair fails

private:
    PseudoTerminal m_pty;
    QByteArray m_received;
    int m_queries = 0;
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
    QStringList m_events;   // answers given to messages, and what the connection and its reader emitted
    QString m_info;         // what the connection gave the info dialog

    SerialPortReader *reader() const { return m_link->reader(); }

    // Queues lines numbered from 7 whose answers are logged, and waits until they are written. A door
    // query ("?") goes last when asked for; its answers show in its door signals.
    bool queue(const QStringList &contents, qint32 firstKind = Ordinary, bool firstInCheckRun = false, bool poll = false)
    {
        for (int i = 0; i < contents.size(); ++i) {
            SerialMessage *message = new RecordingMessage(contents.at(i), &m_events);
            message->setLineNumber(quint32(7 + i));
            message->setKind(i == 0 ? firstKind : Ordinary);
            message->setCheckRun(i == 0 && firstInCheckRun);
            m_link->addMessageToWriterReader(message);
        }
        QByteArray written;
        for (const QString &content : contents)
            written += content.toLatin1();
        if (!waitForWritten(written))
            return false;
        if (!poll)
            return true;
        QPointer<CheckDoorMessage> door = new CheckDoorMessage;
        m_link->addMessageToWriterReader(door);
        return QTest::qWaitFor([&] { return door && door->isSent(); }, 3000);
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

    bool waitForWritten(const QByteArray &bytes)
    {
        if (QTest::qWaitFor([&] { return m_controller->received() == bytes; }, 3000))
            return true;
        qWarning() << "written:" << m_controller->received() << "expected:" << bytes;
        return false;
    }

    // Banner, then the unlock start-up answered; the queue is empty afterwards.
    bool bringUp()
    {
        m_controller->send(banner);
        if (!waitForWritten("(PLV:Version)\n$X\n$$\n"))
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
        // Holding a job on an error has its own test; here errors are only reported.
        m_link->setPauseOnError(false);
        QVERIFY(m_link->connectToMachine());
        m_events.clear();
        m_info.clear();
        connect(m_link, &SerialPort::info, this, [this](QString text) { m_info += text; });
        connect(m_link, &SerialPort::testError, this, [this](QString text) { m_events << QStringLiteral("test error ") + text; });
        connect(m_link, &SerialPort::doorMessage, this, [this] { m_events << QStringLiteral("pause all"); });
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

    // The soft reset is a real-time byte alone: GRBL empties its input with it, so a line end sent along
    // would get no answer, and every later answer would be credited to the line before its own.
    void beforeBannerNoneSendsOneSoftReset()
    {
        QTRY_COMPARE_WITH_TIMEOUT(m_controller->received(), QByteArray("\x18"), 7000);
        QVERIFY(!reader()->isInitialised());
        m_controller->forget();
        QVERIFY(bringUp());
        QVERIFY(queue({QStringLiteral("G1X1F100\n"), QStringLiteral("G1X2\n")}));
        QVERIFY(answerAndSync("ok\r\nerror:22\r\n"));
        QCOMPARE(m_events, (QStringList{"G1X1F100 got ok", "G1X2 got error"}));
        QCOMPARE(m_info, QStringLiteral("Error: Feed rate has not yet been set or is undefined.\nLine:8\nGcode: G1X2\n"));
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

    // Real-time texts go out at once as their single byte, even with the buffer full, and draw no answer.
    void realTimeTextsOvertake_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("feed hold") << "!\n" << QByteArray("!");
        QTest::newRow("resume") << "~\n" << QByteArray("~");
        QTest::newRow("status") << "?\n" << QByteArray();
        QTest::newRow("soft reset") << QStringLiteral("\x18\n") << QByteArray("\x18");
    }
    void realTimeTextsOvertake()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, written);
        fillBuffer();
        m_controller->forget();
        const int queries = m_controller->queries();
        m_link->addMessageStringToWriterReader(text);
        if (written.isEmpty())
            QTRY_VERIFY(m_controller->queries() > queries);
        QTRY_COMPARE(m_controller->received(), written);
        QCOMPARE(m_link->sendQueue()->sendBudget(), SendQueue::InitialBudget - 120);
        QVERIFY(answerAndSync("ok\r\n"));
        QTRY_COMPARE(m_controller->received(), written + QByteArray(59, 'B') + '\n');
    }

    // Every line reaches GRBL whole, with one line end; a line that never could is refused with a report
    // (and a settings write is marked refused), and the line behind it goes out as usual.
    void linesAreSentWhole_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QStringList>("events");
        const QString none;
        QTest::newRow("CR LF") << "G1X1F100\r\n" << QByteArray("G1X1F100\n") << none << QStringList{"G1X1F100 got ok"};
        QTest::newRow("CR CR LF") << "G1X1F100\r\r\n" << QByteArray("G1X1F100\n") << none << QStringList{"G1X1F100 got ok"};
        QTest::newRow("no line end") << "G1X1F100" << QByteArray("G1X1F100\n") << none << QStringList{"G1X1F100 got ok"};
        QTest::newRow("two lines in one") << "G1X1\rG1X2\n" << QByteArray() << "it holds more than one line" << QStringList{"G1X1\rG1X2 got error"};
        QTest::newRow("umlaut in a comment") << QStringLiteral("G1X1 (Fr\u00e4ser)\n") << QByteArray()
                                             << QStringLiteral("it holds \"\u00e4\" (U+E4), which the controller takes as a command")
                                             << QStringList{QStringLiteral("G1X1 (Fr\u00e4ser) got error")};
        QTest::newRow("feed hold inside") << "G1X1 (stop!)\n" << QByteArray() << "it holds \"!\", which the controller takes as a command"
                                          << QStringList{"G1X1 (stop!) got error"};
        QTest::newRow("reset inside") << QStringLiteral("G1\x18X1\n") << QByteArray() << "it holds 0x18, which the controller takes as a command"
                                      << QStringList{QStringLiteral("G1\x18X1 got error")};
        const QString cjk = QString(70, QChar(0x5200));
        QTest::newRow("70 CJK characters") << cjk + QLatin1Char('\n') << QByteArray()
                                           << QStringLiteral("it holds \"\u5200\" (U+5200), which the controller takes as a command")
                                           << QStringList{cjk + QStringLiteral(" got error")};
        const QString longLine = QStringLiteral("G1X1") + QString(122, QLatin1Char(' ')) + QLatin1Char('\n');
        QTest::newRow("126 characters") << longLine << QByteArray()
                                        << "it is longer than the 125 characters the controller's buffer holds"
                                        << QStringList{QStringLiteral("G1X1 got error")};
        const QString longSetting = QStringLiteral("$N0=G1X1") + QString(118, QLatin1Char('0')) + QLatin1Char('\n');
        QTest::newRow("setting over 125") << longSetting << QByteArray()
                                          << "it is longer than the 125 characters the controller's buffer holds"
                                          << QStringList{"success $N0=" + longSetting.mid(4) + " refused", longSetting.trimmed() + " got error"};
    }
    void linesAreSentWhole()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, written);
        QFETCH(QString, refusal);
        QFETCH(QStringList, events);
        m_controller->forget();
        auto *message = new RecordingMessage(text, &m_events);
        message->setLineNumber(7);
        m_link->addMessageToWriterReader(message);
        m_link->addMessageStringToWriterReader(QStringLiteral("G1X9\n"));
        QVERIFY(waitForWritten(written + "G1X9\n"));
        QVERIFY(answerAndSync(written.isEmpty() ? "ok\r\n" : "ok\r\nok\r\n"));
        QCOMPARE(m_events, events);
        if (refusal.isEmpty())
            QCOMPARE(m_info, QString());
        else
            QVERIFY2(m_info.startsWith(QStringLiteral("Not sent: ") + refusal + QStringLiteral("\nLine:7\nGcode: ")), qPrintable(m_info));
        QCOMPARE(m_link->sendQueue()->count(), 0);
        QCOMPARE(m_link->sendQueue()->sendBudget(), SendQueue::InitialBudget);
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
        QTest::addColumn<bool>("poll");   // a door query ("?") waits for its report meanwhile
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QString>("info");
        const QStringList none;
        const QString feedError = QStringLiteral("Error: Feed rate has not yet been set or is undefined.\nLine:7\nGcode: G1X10\n");
        const QString hardLimit = QStringLiteral("Hard limit triggered. Machine position is likely lost due to sudden and immediate halt. Re-homing is highly recommended.");
        const QString probeFail = QStringLiteral("Probe fail. Probe did not contact the workpiece within the programmed travel for G38.2 and G38.4.");
        const QByteArray idleReport("\r\n<Idle|MPos:0.000,0.000,0.000|FS:0,0>");
        QTest::newRow("error") << QStringList{"G1X10\n"} << 0 << false << false << QByteArray("error:22") << QStringList{"G1X10 got error"} << feedError;
        QTest::newRow("error in a check run") << QStringList{"G1X10\n"} << 0 << true << false << QByteArray("error:22")
                                              << QStringList{"test error " + feedError, "G1X10 got error"} << QString();
        QTest::newRow("error while a poll waits") << QStringList{"G1X10\n"} << 0 << false << true << QByteArray("error:22") + idleReport
                                                  << QStringList{"G1X10 got error", "position 0 0 0", "door closed"} << feedError;
        QTest::newRow("alarm for a line, no answer to it") << QStringList{"G1X1\n"} << 0 << false << false << QByteArray("ALARM:1\r\nok")
                                          << QStringList{"alarm", "G1X1 got ok"} << QStringLiteral("Alarm: %1\nLine:7\nGcode: G1X1\n").arg(hardLimit);
        QTest::newRow("alarm alone") << none << 0 << false << false << QByteArray("ALARM:1") << QStringList{"alarm"} << hardLimit;
        QTest::newRow("alarm without digits") << none << 0 << false << false << QByteArray("ALARM:") << QStringList{"alarm"} << "no alarm";
        QTest::newRow("unknown alarm") << none << 0 << false << false << QByteArray("ALARM:10") << QStringList{"alarm"} << "10";
        QTest::newRow("failed probe while a poll waits") << QStringList{"G38.2Z-5F100\n", "G0Z5\n"} << int(Probe) << false << true
            << QByteArray("ALARM:5\r\n[PRB:0.000,0.000,0.000:0]\r\nok\r\nerror:9") + idleReport
            << QStringList{"alarm", "G38.2Z-5F100 got [PRB:0.000,0.000,0.000:0]", "G38.2Z-5F100 got ok", "G0Z5 got error",
                           "position 0 0 0", "door closed"}
            << QStringLiteral("Alarm: %1\nLine:7\nGcode: G38.2Z-5F100\nError: G-code locked out during alarm or jog state\nLine:8\nGcode: G0Z5\n").arg(probeFail);
        QTest::newRow("alarm state report is no alarm") << QStringList{"G1X1\n"} << 0 << false << false
                                                        << QByteArray("<Alarm|MPos:0.000,0.000,0.000|FS:0,0>\r\nok")
                                                        << QStringList{"position 0 0 0", "G1X1 got ok"} << QString();
        QTest::newRow("startup block echo and text with ok inside") << QStringList{"G1X10\n", "G1X2\n"} << 0 << false << false
            << QByteArray(">G21:ok\r\n[VER:1.1h.20190830:Book]\r\n$N0=G0 (look)\r\nerror:22\r\nok")
            << QStringList{"update $N0=G0 (look)", "G1X10 got error", "G1X2 got ok"} << feedError;
        QTest::newRow("setting written") << QStringList{"$110=500\n"} << 0 << false << false << QByteArray("ok")
                                         << QStringList{"success $110=500\n ok", "update $110=500\n", "$110=500 got ok"} << QString();
        QTest::newRow("setting refused") << QStringList{"$110=500\n"} << 0 << false << false << QByteArray("error:3")
                                         << QStringList{"success $110=500\n refused", "$110=500 got error"}
                                         << "Error: Grbl '$' system command was not recognized or supported.\nLine:7\nGcode: $110=500\n";
        QTest::newRow("settings list") << QStringList{"$$\n"} << 0 << false << false << QByteArray("ok") << QStringList{"$$ got ok"} << QString();
        QTest::newRow("home") << QStringList{"$H\n"} << 0 << false << false << QByteArray("ok") << QStringList{"$H got ok"} << QString();
        QTest::newRow("jog") << QStringList{"$J=G91X5F600\n"} << 0 << false << false << QByteArray("ok") << QStringList{"$J=G91X5F600 got ok"} << QString();
        QTest::newRow("door opened") << none << 0 << false << false << QByteArray("[MSG:Check Door]") << QStringList{"pause all"} << QString();
        QTest::newRow("status report") << none << 0 << false << true << QByteArray("<Idle|MPos:1.000,2.000,3.000|FS:0,0>")
                                       << QStringList{"position 1 2 3", "door closed"} << QString();
        QTest::newRow("position of two values") << none << 0 << false << true << QByteArray("<Idle|MPos:1.000,2.000|FS:0,0>")
                                                << QStringList{"door closed"} << QString();
        QTest::newRow("position last") << none << 0 << false << true << QByteArray("<Run|MPos:-4.500,6.250,-7.000>")
                                       << QStringList{"position -4.5 6.25 -7", "door closed"} << QString();
        QTest::newRow("no machine position") << none << 0 << false << true << QByteArray("<Idle|WPos:1.000,2.000,3.000>")
                                             << QStringList{"door closed"} << QString();
        QTest::newRow("door open") << none << 0 << false << true << QByteArray("<Door:1|MPos:0.000,0.000,0.000|FS:0,0>")
                                   << QStringList{"position 0 0 0", "door open"} << QString();
        QTest::newRow("report nobody asked for") << none << 0 << false << false << QByteArray("<Door:1|MPos:0.000,0.000,0.000|FS:0,0>")
                                                 << QStringList{"position 0 0 0"} << QString();
        QTest::newRow("probe result, its ok, then the next line's") << QStringList{"G38.2Z-5F100\n", "G0Z5\n"} << int(Probe) << false << false
            << QByteArray("[PRB:1.000,2.000,-1.250:1]\r\nok\r\nok")
            << QStringList{"G38.2Z-5F100 got [PRB:1.000,2.000,-1.250:1]", "G38.2Z-5F100 got ok", "G0Z5 got ok"} << QString();
        QTest::newRow("parameters list a probe position") << QStringList{"$#\n"} << 0 << false << false
            << QByteArray("[G54:0.000,0.000,0.000]\r\n[PRB:0.000,0.000,0.000:0]\r\nok") << QStringList{"$# got ok"} << QString();
    }
    void answers()
    {
        QFETCH(QStringList, queued);
        QFETCH(int, firstKind);
        QFETCH(bool, checkRun);
        QFETCH(bool, poll);
        QFETCH(QByteArray, answer);
        QFETCH(QStringList, events);
        QFETCH(QString, info);
        QVERIFY(queue(queued, firstKind, checkRun, poll));
        QVERIFY(answerAndSync(answer + "\r\n"));
        QCOMPARE(m_events, events);
        QCOMPARE(m_info, info);
        QCOMPARE(m_link->sendQueue()->count(), 0);
        QCOMPARE(m_link->sendQueue()->sendBudget(), SendQueue::InitialBudget);
    }

    void secondBannerEndsTheSession()
    {
        m_controller->send("\r\nGrbl 1.1h ['$' for");
        QTRY_VERIFY(reader()->rxBuffer().contains(QLatin1String("for")));
        m_controller->send(" help]\r\n");
        QTRY_COMPARE(m_events, QStringList{"alarm"});
        QCOMPARE(m_info, QStringLiteral("Init Failed: Re-Unlock \n"));
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

    // An alarm ends the session at once: the rest of the same read is not handled on a connection
    // that is being torn down, and nothing follows the reset.
    void alarmEndsTheReadAndTheConnection()
    {
        connect(reader(), &SerialPortReader::Alarm, m_link, [this] { m_link->resetConnection(0); });
        QVERIFY(queue({QStringLiteral("G1X1F100\n"), QStringLiteral("G1X2\n")}));
        m_controller->forget();
        m_controller->send("ALARM:1\r\nok\r\nok\r\n");
        QTRY_COMPARE(m_events, QStringList{"alarm"});
        QTRY_VERIFY(m_controller->received().startsWith('\x18'));
        m_controller->send(banner);
        QTRY_VERIFY(!m_link);
        QCOMPARE(m_events, QStringList{"alarm"});
        QCOMPARE(m_controller->received(), QByteArray(m_controller->received().size(), '\x18'));
    }

    // A handler that runs an event loop of its own (a message box) does not re-enter the reader: the
    // answers that arrive meanwhile are handled afterwards, once each and in order.
    void handlerWithEventLoopKeepsTheOrder()
    {
        class LoopingMessage : public RecordingMessage
        {
        public:
            LoopingMessage(PtyController *controller, QStringList *log) : RecordingMessage(QStringLiteral("G1X1F100\n"), log), m_controller(controller) {}
            bool handleResponse(QString line) override
            {
                RecordingMessage::handleResponse(line);
                m_controller->send("error:20\r\n");
                QTest::qWait(100);
                return true;
            }

        private:
            PtyController *m_controller;
        };
        m_link->addMessageToWriterReader(new LoopingMessage(m_controller, &m_events));
        m_link->addMessageToWriterReader(new RecordingMessage(QStringLiteral("G1X2\n"), &m_events));
        m_link->addMessageToWriterReader(new RecordingMessage(QStringLiteral("G1X3\n"), &m_events));
        QVERIFY(waitForWritten("G1X1F100\nG1X2\nG1X3\n"));
        m_controller->send("ok\r\nok\r\n");
        QTRY_COMPARE(m_events, (QStringList{"G1X1F100 got ok", "G1X2 got ok", "G1X3 got error"}));
        QTest::qWait(50);
        QCOMPARE(m_events.size(), 3);
    }

    // A job line answered with an error holds the job at once: the feed hold goes out, no further line
    // does, until the resume sends both on.
    void errorHoldsTheJob()
    {
        m_link->setPauseOnError(true);
        QSignalSpy paused(m_link, &SerialPort::pausedOnError);
        QVERIFY(queue({QStringLiteral("G1X1F100\n"), QStringLiteral("G1X2\n")}));
        m_link->addMessageToWriterReader(new RecordingMessage(QStringLiteral("G1X3\n"), &m_events));
        QVERIFY(waitForWritten("G1X1F100\nG1X2\nG1X3\n"));
        for (int i = 4; i <= 9; ++i)
            m_link->addMessageStringToWriterReader(QStringLiteral("G1X%1\n").arg(i));
        m_controller->forget();
        m_controller->send("error:22\r\n");
        QTRY_COMPARE(paused.count(), 1);
        QTRY_COMPARE(m_controller->received(), QByteArray("!"));
        QVERIFY(answerAndSync("ok\r\nok\r\n"));
        QTest::qWait(100);
        QCOMPARE(m_controller->received(), QByteArray("!"));
        m_link->addMessageStringToWriterReader(QStringLiteral("~\n"));
        QTRY_COMPARE(m_controller->received(), QByteArray("!~G1X4\nG1X5\nG1X6\nG1X7\nG1X8\nG1X9\n"));
        QCOMPARE(m_events, (QStringList{"G1X1F100 got error", "G1X2 got ok", "G1X3 got ok"}));
    }

    // The lost port during a job is tested against the simulator, through the main window.
    void tearDownResetsAndDropsTheRest()
    {
        fillBuffer();
        QTRY_VERIFY(!m_link->sendQueue()->isInFlight());
        QSignalSpy closed(m_link, &SerialPort::closed);
        m_link->resetConnection(0);
        QVERIFY(!m_link->isConnected());
        QCOMPARE(closed.count(), 1);
        QTRY_COMPARE(m_controller->received().right(2), QByteArray("\n\x18"));
        m_link->addMessageStringToWriterReader(QStringLiteral("G1X1\n"));
        m_controller->send(banner);
        QTRY_VERIFY(!m_link);
        QVERIFY(!m_controller->received().contains('B'));
        QVERIFY(!m_controller->received().contains("G1X1"));
        QVERIFY(m_info.isEmpty());
    }

    // The controller ignored the reset (as GRBL does in the pause after a limit alarm): it is repeated
    // until the banner shows that it was taken, and the port is held until then.
    void tearDownRepeatsTheResetUntilTheBanner()
    {
        m_controller->forget();
        m_link->resetConnection(0);
        QTRY_COMPARE_WITH_TIMEOUT(m_controller->received(), QByteArray("\x18\x18\x18"), 3000);
        QVERIFY(m_link);
        m_controller->send("[MSG:Reset to continue]\r\n");
        m_controller->send(banner);
        QTRY_VERIFY(!m_link);
        const int resets = m_controller->received().size();
        QTest::qWait(2 * SerialPort::ResetRepeatMs);
        QCOMPARE(m_controller->received().size(), resets);
    }
};

QTEST_MAIN(TestSerialPort)
#include "tst_serialport.moc"
