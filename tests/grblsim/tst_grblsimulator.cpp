#include "tools/grblsim/grblsimulator.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(GrblSimulator::Surface)

// A host on the other end of the line: a real QSerialPort that collects the answer lines.
class Host
{
public:
    bool open(const QString &device)
    {
        m_port.setPortName(device);
        m_port.setBaudRate(QSerialPort::Baud115200);
        QObject::connect(&m_port, &QSerialPort::readyRead, [this] {
            m_pending += m_port.readAll();
            for (int end; (end = m_pending.indexOf("\r\n")) >= 0; m_pending.remove(0, end + 2))
                m_lines << QString::fromLatin1(m_pending.left(end));
        });
        return m_port.open(QIODevice::ReadWrite);
    }

    void write(const QByteArray &bytes)
    {
        m_port.write(bytes);
        m_port.waitForBytesWritten(1000);
    }

    // Polls every millisecond: several tests time the answers.
    template<class Condition>
    static bool waitUntil(Condition condition, int timeoutMs = 3000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!condition() && clock.elapsed() < timeoutMs)
            QTest::qWait(1);
        return condition();
    }
    bool waitForAnswers(int count) { return waitUntil([&] { return answerCount() >= count; }); }
    bool waitForLine(const QString &start)
    {
        return waitUntil([&] { return std::any_of(m_lines.cbegin(), m_lines.cend(), [&](const QString &line) { return line.startsWith(start); }); });
    }

    // Sends one line and waits for its answer; returns every line that came meanwhile.
    QStringList exchange(const QByteArray &line)
    {
        const int from = m_lines.size();
        write(line + '\n');
        if (!waitForAnswers(answerCount() + 1))
            return {QStringLiteral("<no answer to %1>").arg(QString::fromLatin1(line))};
        return m_lines.mid(from);
    }

    QString status()
    {
        const int from = m_lines.size();
        write("?\n");
        waitUntil([&] { return !reports(from).isEmpty(); });
        return reports(from).value(0);
    }

    // "ok", "error:" and the vendor extension's lines, which come instead of an "ok".
    QStringList answers() const
    {
        static const QRegularExpression answer(QStringLiteral("^(ok|error:\\d+|\\(PLV:.*)$"));
        return m_lines.filter(answer);
    }
    int answerCount() const { return answers().size(); }
    QStringList lines() const { return m_lines; }
    QSerialPort &port() { return m_port; }

private:
    QStringList reports(int from) const { return m_lines.mid(from).filter(QRegularExpression(QStringLiteral("^<"))); }

    QSerialPort m_port;
    QByteArray m_pending;
    QStringList m_lines;
};

// The simulator on its own thread is exercised by tst_linksimulator and the streaming benchmark.
class TestGrblSimulator : public QObject
{
    Q_OBJECT

private:
    void startWith(const GrblSimulator::Options &options)
    {
        m_simulator = std::make_unique<GrblSimulator>(options);
        QVERIFY2(m_simulator->start(), qPrintable(m_simulator->errorString()));
        m_host = std::make_unique<Host>();
        QVERIFY(m_host->open(m_simulator->devicePath()));
        QVERIFY(m_host->waitForLine(QStringLiteral("Grbl 1.1h ['$' for help]")));
    }

    std::unique_ptr<GrblSimulator> m_simulator;
    std::unique_ptr<Host> m_host;
    QTemporaryDir m_dir;

private Q_SLOTS:
    void cleanup()
    {
        m_host.reset();
        m_simulator.reset();
    }

    void answersEveryLineInOrder_data()
    {
        QTest::addColumn<bool>("baud");
        QTest::addColumn<bool>("chunked");
        QTest::newRow("plain") << false << false;
        QTest::newRow("115200 baud") << true << false;
        QTest::newRow("chunked answers") << false << true;
        QTest::newRow("baud, chunked") << true << true;
    }

    void answersEveryLineInOrder()
    {
        QFETCH(bool, baud);
        QFETCH(bool, chunked);
        GrblSimulator::Options options;
        options.logPath = m_dir.filePath(QStringLiteral("order-%1.log").arg(QTest::currentDataTag()));
        options.emulateBaud = baud;
        options.chunkedAnswers = chunked;
        startWith(options);
        // Real-time bytes leave the stream at once; their newline is an empty line of its own.
        m_host->write(QByteArray("G21\n?\nG90\n\x85\nG1X1F100\nG1X2\n~\n(comment)\nG0X0\n"));
        QVERIFY(m_host->waitForAnswers(9));
        QTest::qWait(20);
        QCOMPARE(m_host->answers(), QString(QStringLiteral("ok\n")).repeated(9).split(QLatin1Char('\n'), Qt::SkipEmptyParts));
        const QStringList expected = {"G21", "?", "", "G90", "<0x85>", "", "G1X1F100", "G1X2", "~", "", "(comment)", "G0X0"};
        QCOMPARE(m_simulator->receivedLines(), expected);
        QFile log(options.logPath);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLatin1(log.readAll()), expected.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        if (baud) {                         // 346 characters of settings need 30 ms at 115200 baud
            QElapsedTimer clock;
            clock.start();
            QCOMPARE(m_host->exchange("$$").size(), 35);
            QVERIFY(clock.elapsed() >= 28);
        }
    }

    void answersLikeGrbl_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("feed missing") << QStringList{"G1X10"} << QStringList{"error:22"};
        QTest::newRow("feed then move") << QStringList{"G1X10F100", "G1X20"} << QStringList{"ok", "ok"};
        QTest::newRow("unknown $") << QStringList{"$Z", "$100=abc"} << QStringList{"error:3", "error:2"};
        QTest::newRow("percent") << QStringList{"%"} << QStringList{"error:1"};
        QTest::newRow("unsupported") << QStringList{"G5X1"} << QStringList{"error:20"};
        QTest::newRow("80 characters") << QStringList{"G0X1" + QString(76, QLatin1Char('0'))} << QStringList{"error:14"};
        QTest::newRow("79 characters") << QStringList{"G0X1" + QString(75, QLatin1Char('0'))} << QStringList{"ok"};
        QTest::newRow("homing off") << QStringList{"$22=0", "$H"} << QStringList{"ok", "error:5"};
        QTest::newRow("homing") << QStringList{"G0X5Y5", "$H", "?"}
                                << QStringList{"ok", "ok", "<Idle|MPos:0.000,0.000,0.000|FS:0,0|WCO:0.000,0.000,0.000>", "ok"};
        QTest::newRow("probe miss locks") << QStringList{"G38.2Z5F100", "G0X1", "$X", "G0X1"}
                                          << QStringList{"ALARM:5", "[PRB:0.000,0.000,5.000:0]", "ok", "error:9",
                                                         "[MSG:Caution: Unlocked]", "ok", "ok"};
        QTest::newRow("settings") << QStringList{"$110=600", "$$"} << QStringList{"ok"};
        QTest::newRow("build info") << QStringList{"$I"} << QStringList{"[VER:1.1h.20190830:]", "[OPT:V,15,128]", "ok"};
        QTest::newRow("parser state") << QStringList{"G91G1F250", "$G"}
                                      << QStringList{"ok", "[GC:G1 G54 G17 G21 G91 G94 M5 M9 T0 F250 S0]", "ok"};
        QTest::newRow("vendor") << QStringList{"(PLV:Version)", "(PLV:Driver3S|0000000000001110)", "(PLV:Driver3G)",
                                               "(PLV:Driver3T|0100000000101000)"}
                                << QStringList{"(PLV:Version|1.0.4)", "(PLV:Driver3G|00000000000011100100100000011000)",
                                               "(PLV:Driver3G|00000000000011100100100000011000)",
                                               "(PLV:Driver3|01000000001010000000000000000000)"};
    }

    void answersLikeGrbl()
    {
        QFETCH(QStringList, lines);
        QFETCH(QStringList, expected);
        startWith({});
        QStringList answers;
        for (const QString &line : lines)
            answers << m_host->exchange(line.toLatin1());
        if (lines.contains(QStringLiteral("$$"))) {   // "ok", the 34 settings with the written one, "ok"
            QCOMPARE(answers.size(), 1 + 34 + 1);
            QCOMPARE(answers.mid(0, 2), (QStringList{"ok", "$0=10"}));
            QVERIFY(answers.contains(QStringLiteral("$110=600.000")));
            QCOMPARE(answers.at(34), QStringLiteral("$132=200.000"));
            QCOMPARE(m_simulator->setting(110), QStringLiteral("600.000"));
            return;
        }
        QCOMPARE(answers, expected);
    }

    void overfilledBufferLosesCharacters()
    {
        GrblSimulator::Options options;
        options.logPath = m_dir.filePath(QStringLiteral("overflow.log"));
        startWith(options);
        m_host->write("!\n");               // held: the controller takes no more characters
        QTRY_COMPARE(m_simulator->receivedLines(), QStringList{"!"});
        QByteArray lines;
        for (int i = 0; i < 20; ++i)
            lines += "G0X" + QByteArray::number(i % 10) + "\n";   // 5 characters each, 100 in all
        m_host->write(lines + lines);
        // The "\n" of "!\n" and 127 characters fit; the other 73 are lost.
        QTRY_COMPARE(m_simulator->overflowCount(), 73);
        QCOMPARE(m_host->answerCount(), 0);
        m_host->write("~\n");               // acted on although the buffer is full
        QVERIFY(m_host->waitForAnswers(1 + 25));
        QFile log(options.logPath);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("73 characters lost"));
    }

    void eepromWriteDropsWhatArrives()
    {
        GrblSimulator::Options options;
        options.eepromWriteMs = 300;        // long enough for a loaded machine
        startWith(options);
        QSignalSpy received(m_simulator.get(), &GrblSimulator::lineReceived);
        m_host->write("$110=600\n");
        QVERIFY(received.wait());
        m_host->write("G0X5\n");
        QVERIFY(m_host->waitForAnswers(1));
        QCOMPARE(m_host->answers(), QStringList{"ok"});
        QCOMPARE(m_simulator->droppedDuringEepromWrite(), 5);
        QCOMPARE(m_simulator->receivedLines(), QStringList{"$110=600"});
        QCOMPARE(m_host->exchange("G0X5"), QStringList{"ok"});
    }

    void probeFindsTheSurface_data()
    {
        QTest::addColumn<GrblSimulator::Surface>("surface");
        QTest::addColumn<double>("expectedZ");
        // Probed at X50 Y20 with the surface at Z-10 under X0 Y0.
        QTest::newRow("flat") << GrblSimulator::Surface::Flat << -10.0;
        QTest::newRow("tilted") << GrblSimulator::Surface::Tilted << -10.0 + 0.1 + 0.02;
        QTest::newRow("bumpy") << GrblSimulator::Surface::Bumpy
                               << -10.0 + 0.1 + 0.02 + 0.05 * std::sin(2 * M_PI * 50 / 40) * std::sin(2 * M_PI * 20 / 30);
    }

    void probeFindsTheSurface()
    {
        QFETCH(GrblSimulator::Surface, surface);
        QFETCH(double, expectedZ);
        GrblSimulator::Options options;
        options.surface = surface;
        options.surfaceZ = -10.0;
        startWith(options);
        QCOMPARE(m_host->exchange("G0X50Y20"), QStringList{"ok"});
        const QStringList answers = m_host->exchange("G38.2Z-30F100");
        QCOMPARE(answers.size(), 2);
        static const QRegularExpression report(QStringLiteral("^\\[PRB:50\\.000,20\\.000,(-?\\d+\\.\\d{3}):1\\]$"));
        const auto match = report.match(answers.first());
        QVERIFY2(match.hasMatch(), qPrintable(answers.first()));
        QVERIFY(qAbs(match.captured(1).toDouble() - expectedZ) < 0.0011);
        QCOMPARE(answers.last(), QStringLiteral("ok"));
        QVERIFY(m_host->status().contains(QStringLiteral("MPos:50.000,20.000,") + match.captured(1)));

        m_simulator->setProbeMisses(true);
        QCOMPARE(m_host->exchange("G38.2Z-30F100"),
                 (QStringList{"ALARM:5", "[PRB:50.000,20.000,-30.000:0]", "ok"}));
    }

    void holdFreezesMotionUntilResume()
    {
        GrblSimulator::Options options;
        options.motionTimeScale = 1.0;
        startWith(options);
        QCOMPARE(m_host->exchange("G1X5F600"), QStringList{"ok"});   // half a second
        QTRY_VERIFY(m_host->status().startsWith(QStringLiteral("<Run|")));
        const int answered = m_host->answerCount();
        m_host->write("!\nG0X0\n");
        QTest::qWait(50);
        const QString held = m_host->status();
        QVERIFY2(held.startsWith(QStringLiteral("<Hold:0|MPos:")), qPrintable(held));
        QTest::qWait(100);
        QCOMPARE(m_host->status().section(QLatin1Char('|'), 0, 1), held.section(QLatin1Char('|'), 0, 1));
        // While held nothing is answered: not the newlines of "!" and the two "?", nor G0X0.
        QCOMPARE(m_host->answerCount(), answered);
        m_host->write("~\n");
        QVERIFY(m_host->waitForAnswers(answered + 5));
        QTRY_VERIFY_WITH_TIMEOUT(m_host->status().startsWith(QStringLiteral("<Idle|MPos:0.000,")), 3000);
    }

    void plannerFullDelaysTheAnswer()
    {
        GrblSimulator::Options options;
        options.motionTimeScale = 1.0;
        startWith(options);
        QCOMPARE(m_host->exchange("G1F300"), QStringList{"ok"});
        QByteArray moves;
        for (int i = 0; i < 17; ++i)
            moves += i % 2 ? "G1X0\n" : "G1X1\n";          // 0.2 s each
        QElapsedTimer clock;
        clock.start();
        m_host->write(moves);
        QVERIFY(m_host->waitForAnswers(1 + 15));
        QVERIFY(clock.elapsed() < 150);
        QVERIFY(m_host->waitForAnswers(1 + 16));
        QVERIFY(clock.elapsed() >= 150);
    }

    void syncedLinesWaitForTheMotion_data()
    {
        QTest::addColumn<QByteArray>("before");     // sent while idle
        QTest::addColumn<QByteArray>("line");       // streamed behind a 300 ms move, followed by "$$"
        QTest::addColumn<bool>("waits");
        QTest::newRow("coolant on") << QByteArray() << QByteArray("M8") << true;
        QTest::newRow("coolant already on") << QByteArray("M8") << QByteArray("M8") << false;
        QTest::newRow("coolant off") << QByteArray("M7") << QByteArray("M9") << true;
        QTest::newRow("spindle on") << QByteArray() << QByteArray("M3S1000") << true;
        QTest::newRow("spindle already off") << QByteArray() << QByteArray("M5") << false;
        QTest::newRow("spindle speed only") << QByteArray() << QByteArray("S500") << false;
        QTest::newRow("dwell") << QByteArray() << QByteArray("G4P0") << true;
        QTest::newRow("work offset") << QByteArray() << QByteArray("G10L20P1X0") << true;
        QTest::newRow("stored position") << QByteArray() << QByteArray("G28.1") << true;
    }

    // A line that waits for the motion is answered when the head has arrived; "$$" behind it in the
    // receive buffer then finds the machine idle. Lines that do not wait leave "$$" to meet the move.
    void syncedLinesWaitForTheMotion()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, line);
        QFETCH(bool, waits);
        GrblSimulator::Options options;
        options.motionTimeScale = 0.05;     // G0X50 at the default 500 mm/min: 300 ms
        startWith(options);
        if (!before.isEmpty())
            QCOMPARE(m_host->exchange(before), QStringList{"ok"});
        const int answered = m_host->answerCount();
        QElapsedTimer clock;
        clock.start();
        m_host->write("G0X50\n" + line + "\n$$\n");
        QVERIFY(m_host->waitForAnswers(answered + 1));
        if (waits) {                        // real-time bytes are still served meanwhile
            m_host->write("?");
            QVERIFY(m_host->waitForLine(QStringLiteral("<Run|")));
            QCOMPARE(m_host->answerCount(), answered + 1);
        }
        QVERIFY(m_host->waitForAnswers(answered + 2));
        const qint64 answeredAfter = clock.elapsed();
        QVERIFY(m_host->waitForAnswers(answered + 3));
        QVERIFY2(waits ? answeredAfter >= 290 : answeredAfter < 250, qPrintable(QString::number(answeredAfter)));
        // "$$" is refused while the machine moves ("error:8") and lists the 34 settings when it is idle.
        QCOMPARE(m_host->answers().mid(answered), (QStringList{"ok", "ok", waits ? "ok" : "error:8"}));
        QCOMPARE(m_host->lines().filter(QRegularExpression(QStringLiteral("^\\$\\d+="))).size(), waits ? 34 : 0);
    }

    void resetDuringMotionLocks()
    {
        GrblSimulator::Options options;
        options.motionTimeScale = 1.0;
        startWith(options);
        QCOMPARE(m_host->exchange("$J=G91X10F600"), QStringList{"ok"});
        QVERIFY(m_host->status().startsWith(QStringLiteral("<Jog|")));
        m_host->write("\x85\n");
        QTRY_VERIFY(m_host->status().startsWith(QStringLiteral("<Idle|")));
        QCOMPARE(m_host->exchange("G1X20F600"), QStringList{"ok"});
        const int before = m_host->lines().size();
        m_host->write("\x18\n");
        QVERIFY(m_host->waitForLine(QStringLiteral("[MSG:'$H'|'$X' to unlock]")));
        QCOMPARE(m_host->lines().mid(before, 4),
                 (QStringList{"ALARM:3", "", "Grbl 1.1h ['$' for help]", "[MSG:'$H'|'$X' to unlock]"}));
        QVERIFY(m_host->status().startsWith(QStringLiteral("<Alarm|")));
    }

    // Like an Arduino board, the controller restarts on every open: one banner each time, even for a
    // host that clears its buffers right after opening, and the position is gone.
    void openingTheDeviceRestartsTheBoard()
    {
        startWith({});
        QCOMPARE(m_host->exchange("G0X5"), QStringList{"ok"});
        m_host.reset();
        m_host = std::make_unique<Host>();
        QVERIFY(m_host->open(m_simulator->devicePath()));
        m_host->port().clear();
        QVERIFY(m_host->waitForLine(QStringLiteral("Grbl 1.1h")));
        QCOMPARE(m_host->status(), QStringLiteral("<Idle|MPos:0.000,0.000,0.000|FS:0,0|WCO:0.000,0.000,0.000>"));
        QCOMPARE(m_host->lines().filter(QStringLiteral("Grbl 1.1h")).size(), 1);
    }

    void doorPausesUntilClosedAndResumed()
    {
        startWith({});
        m_simulator->setDoorOpen(true);
        QVERIFY(m_host->waitForLine(QStringLiteral("[MSG:Check Door]")));
        QVERIFY(m_host->status().startsWith(QStringLiteral("<Door:1|")));
        m_host->write("~\n");                // ignored while the door is open
        QTRY_VERIFY(m_simulator->receivedLines().contains(QStringLiteral("~")));
        m_simulator->setDoorOpen(false);
        QVERIFY(m_host->status().startsWith(QStringLiteral("<Door:0|")));
        m_host->write("~\n");
        QVERIFY(m_host->waitForAnswers(3));
        QVERIFY(m_host->status().startsWith(QStringLiteral("<Idle|")));
    }
};

QTEST_GUILESS_MAIN(TestGrblSimulator)
#include "tst_grblsimulator.moc"
