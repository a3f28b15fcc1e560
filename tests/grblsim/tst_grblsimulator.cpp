#include "tools/grblsim/grblsimulator.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>

Q_DECLARE_METATYPE(GrblSimulator::Surface)

// Lists of answers are shown in full when they differ.
namespace QTest {
template<>
char *toString(const QList<QString> &list)
{
    return qstrdup(qPrintable(QLatin1Char('"') + QStringList(list).join(QStringLiteral("\" \"")) + QLatin1Char('"')));
}
template<>
char *toString(const QStringList &list)
{
    return toString<QList<QString>>(list);
}
}

namespace {
const QString Banner = QStringLiteral("Grbl 1.1h ['$' for help]");
const QString UnlockHint = QStringLiteral("[MSG:'$H'|'$X' to unlock]");

// "22=1 20=1" as the settings a board was configured with.
QMap<int, double> settingsFrom(const QString &text)
{
    QMap<int, double> settings;
    for (const QString &pair : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        settings.insert(pair.section(QLatin1Char('='), 0, 0).toInt(), pair.section(QLatin1Char('='), 1).toDouble());
    return settings;
}

Axes reportedPosition(const QString &report)
{
    static const QRegularExpression mpos(QStringLiteral("MPos:(-?[\\d.]+),(-?[\\d.]+),(-?[\\d.]+)"));
    const auto match = mpos.match(report);
    return {match.captured(1).toDouble(), match.captured(2).toDouble(), match.captured(3).toDouble()};
}

double reportedFeed(const QString &report)
{
    static const QRegularExpression fs(QStringLiteral("\\|FS:(\\d+),"));
    return fs.match(report).captured(1).toDouble();
}
}

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
    bool waitForLine(const QString &line, int from = 0)
    {
        return waitUntil([&] { return m_lines.mid(from).contains(line); });
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
        write("?");
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
    QStringList reports(int from = 0) const { return m_lines.mid(from).filter(QRegularExpression(QStringLiteral("^<"))); }
    QSerialPort &port() { return m_port; }

private:
    QSerialPort m_port;
    QByteArray m_pending;
    QStringList m_lines;
};

// The simulator on its own thread is exercised by tst_linksimulator and the streaming benchmark.
class TestGrblSimulator : public QObject
{
    Q_OBJECT

private:
    static GrblSimulator::Options fast(const QString &settings = QString())
    {
        GrblSimulator::Options options;
        options.bootMs = 20;
        options.settings = settingsFrom(settings);
        return options;
    }

    void startWith(const GrblSimulator::Options &options)
    {
        m_simulator = std::make_unique<GrblSimulator>(options);
        QVERIFY2(m_simulator->start(), qPrintable(m_simulator->errorString()));
        m_host = std::make_unique<Host>();
        QVERIFY(m_host->open(m_simulator->devicePath()));
        QVERIFY(m_host->waitForLine(Banner));
    }

    // Polls the status until the condition holds for a report; returns that report.
    QString statusWhen(const std::function<bool(const QString &)> &condition, int timeoutMs = 5000)
    {
        QString report;
        Host::waitUntil([&] { return condition(report = m_host->status()); }, timeoutMs);
        return report;
    }

    // The overrides as the next report that carries them shows them (GRBL leaves them out of
    // most reports, and out of one that carries the work offset).
    QString overridesShown()
    {
        static const QRegularExpression field(QStringLiteral("Ov:[\\d,]+"));
        QString report;
        for (int i = 0; i < 12 && !report.contains(QStringLiteral("|Ov:")); ++i)
            report = m_host->status();
        return field.match(report).captured();
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
        GrblSimulator::Options options = fast();
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

    // Each row: the board's stored settings, the lines sent one by one, every line that came back.
    void answersLikeGrbl_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("feed missing") << "" << QStringList{"G1X10"} << QStringList{"error:22"};
        QTest::newRow("feed then move") << "" << QStringList{"G1X10F100", "G1X20"} << QStringList{"ok", "ok"};
        QTest::newRow("$ and a letter") << "" << QStringList{"$Q", "$100=abc", "$XX"} << QStringList{"error:2", "error:2", "error:3"};
        QTest::newRow("percent") << "" << QStringList{"%"} << QStringList{"error:1"};
        QTest::newRow("unsupported") << "" << QStringList{"G5X1", "M7"} << QStringList{"error:20", "error:20"};
        QTest::newRow("80 characters") << "" << QStringList{"G0X1." + QString(75, QLatin1Char('0'))} << QStringList{"error:11"};
        QTest::newRow("79 characters") << "" << QStringList{"G0X1." + QString(74, QLatin1Char('0'))} << QStringList{"ok"};
        QTest::newRow("blanks and comments are not counted")
            << "" << QStringList{"G0 X1." + QString(74, QLatin1Char('0')) + " (a long comment) ; and more"} << QStringList{"ok"};
        QTest::newRow("impossible radius") << "" << QStringList{"G2X10R1F100"} << QStringList{"error:34"};
        QTest::newRow("two motions") << "" << QStringList{"G0G1X1"} << QStringList{"error:24"};
        QTest::newRow("line number") << "" << QStringList{"N99999999", "N9999999G0X1"} << QStringList{"error:27", "ok"};
        QTest::newRow("tool length axis") << "" << QStringList{"G43.1X1", "G43.1Z1"} << QStringList{"error:37", "ok"};
        QTest::newRow("tool number") << "" << QStringList{"T300", "T255"} << QStringList{"error:38", "ok"};
        QTest::newRow("negative dwell") << "" << QStringList{"G4P-1", "G4P0.01"} << QStringList{"error:4", "ok"};
        QTest::newRow("unused word") << "" << QStringList{"G0X1P1"} << QStringList{"error:36"};
        QTest::newRow("homing off") << "" << QStringList{"$H"} << QStringList{"error:5"};
        QTest::newRow("unlock when not locked") << "" << QStringList{"$X"} << QStringList{"ok"};
        QTest::newRow("program end") << "" << QStringList{"G91G1X1F100", "M2", "$G"}
                                     << QStringList{"ok", "[MSG:Pgm End]", "ok", "[GC:G1 G54 G17 G21 G90 G94 M5 M9 T0 F100 S0]", "ok"};
        QTest::newRow("soft limits need homing") << "" << QStringList{"$20=1", "$22=1", "$20=1"} << QStringList{"error:10", "ok", "ok"};
        QTest::newRow("homing") << "22=1" << QStringList{"$X", "G0X-5Y-5", "$H", "?"}
                                << QStringList{"[MSG:Caution: Unlocked]", "ok", "ok", "ok",
                                               "<Idle|MPos:-1.000,-1.000,-1.000|FS:0,0|WCO:0.000,0.000,0.000>", "ok"};
        QTest::newRow("startup blocks") << "" << QStringList{"$N0=G20", "$N1=G5", "$N"} << QStringList{"ok", "error:20", "$N0=G20", "$N1=", "ok"};
        QTest::newRow("probe miss") << "" << QStringList{"G38.2Z-5F100", "G0X1", "$X", "G0X1"}
                                    << QStringList{"ALARM:5", "[PRB:0.000,0.000,0.000:0]", "ok", "error:9",
                                                   "[MSG:Caution: Unlocked]", "ok", "ok"};
        QTest::newRow("probe already touching") << "" << QStringList{"G0Z-25", "G38.2Z-30F100"} << QStringList{"ok", "ALARM:4", "ok"};
        QTest::newRow("jog beyond the travel") << "22=1 20=1" << QStringList{"$X", "$J=X5F100", "$J=X-5F100"}
                                               << QStringList{"[MSG:Caution: Unlocked]", "ok", "error:15", "ok"};
        QTest::newRow("settings") << "" << QStringList{"$110=600", "$$"} << QStringList{"ok"};
        QTest::newRow("build info") << "" << QStringList{"$I"} << QStringList{"[VER:1.1h.20190830:]", "[OPT:V,15,128]", "ok"};
        QTest::newRow("parser state") << "" << QStringList{"G91G1F250", "$G"}
                                      << QStringList{"ok", "[GC:G1 G54 G17 G21 G91 G94 M5 M9 T0 F250 S0]", "ok"};
        QTest::newRow("vendor") << "" << QStringList{"(PLV:Version)", "(PLV:Driver3S|0000000000001110)", "(PLV:Driver3G)",
                                                     "(PLV:Driver3T|0100000000101000)"}
                                << QStringList{"(PLV:Version|1.0.4)", "(PLV:Driver3G|00000000000011100100100000011000)",
                                               "(PLV:Driver3G|00000000000011100100100000011000)",
                                               "(PLV:Driver3|01000000001010000000000000000000)"};
    }

    void answersLikeGrbl()
    {
        QFETCH(QString, settings);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, expected);
        startWith(fast(settings));
        QStringList answers;
        for (const QString &line : lines)
            answers << m_host->exchange(line.toLatin1());
        if (lines.contains(QStringLiteral("$$"))) {   // "ok", GRBL's factory settings with the written one, "ok"
            QCOMPARE(answers.size(), 1 + 34 + 1);
            QCOMPARE(answers.mid(1, 14), (QStringList{"$0=10", "$1=25", "$2=0", "$3=0", "$4=0", "$5=0", "$6=0", "$10=1",
                                                      "$11=0.010", "$12=0.002", "$13=0", "$20=0", "$21=0", "$22=0"}));
            QVERIFY(answers.contains(QStringLiteral("$100=250.000")));
            QVERIFY(answers.contains(QStringLiteral("$110=600.000")));
            QVERIFY(answers.contains(QStringLiteral("$120=10.000")));
            QCOMPARE(answers.at(34), QStringLiteral("$132=200.000"));
            QCOMPARE(m_simulator->setting(110), QStringLiteral("600.000"));
            return;
        }
        QCOMPARE(answers, expected);
    }

    // A board that resets on open announces itself about a second later; with homing enabled it
    // is locked until "$H" or "$X", and only an actual unlock is confirmed.
    void bootsLockedWhenHomingIsEnabled()
    {
        GrblSimulator::Options options;
        options.settings = settingsFrom(QStringLiteral("22=1"));
        m_simulator = std::make_unique<GrblSimulator>(options);
        QVERIFY(m_simulator->start());
        QElapsedTimer clock;
        clock.start();
        m_host = std::make_unique<Host>();
        QVERIFY(m_host->open(m_simulator->devicePath()));
        QVERIFY(m_host->waitForLine(UnlockHint));
        QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(m_host->lines(), (QStringList{"", Banner, UnlockHint}));
        QVERIFY(m_host->status().startsWith(QStringLiteral("<Alarm|")));
        QCOMPARE(m_host->exchange("G0X1"), QStringList{"error:9"});
        QCOMPARE(m_host->exchange("$X"), (QStringList{"[MSG:Caution: Unlocked]", "ok"}));
        QCOMPARE(m_host->exchange("$X"), QStringList{"ok"});
    }

    // Stored blocks run after each reset and after "$H", each echoed as ">block:ok".
    void runsStartupBlocks()
    {
        startWith(fast(QStringLiteral("22=1")));
        QCOMPARE(m_host->exchange("$X").last(), QStringLiteral("ok"));
        QCOMPARE(m_host->exchange("$N0=G20"), QStringList{"ok"});
        QCOMPARE(m_host->exchange("$N1=G91"), QStringList{"ok"});
        QCOMPARE(m_host->exchange("$H"), (QStringList{">G20:ok", ">G91:ok", "ok"}));
        const int from = m_host->lines().size();
        m_host->write("\x18");
        QVERIFY(Host::waitUntil([&] { return m_host->lines().size() >= from + 4; }));
        QCOMPARE(m_host->lines().mid(from), (QStringList{"", Banner, ">G20:ok", ">G91:ok"}));
        QCOMPARE(m_host->exchange("$G").first(), QStringLiteral("[GC:G0 G54 G17 G20 G91 G94 M5 M9 T0 F0 S0]"));
    }

    void leavingCheckModeResets()
    {
        startWith(fast());
        QCOMPARE(m_host->exchange("$C"), (QStringList{"[MSG:Enabled]", "ok"}));
        QCOMPARE(m_host->exchange("G0X5"), QStringList{"ok"});
        QCOMPARE(m_host->exchange("G2X10R1F100"), QStringList{"error:34"});
        QVERIFY(m_host->status().startsWith(QStringLiteral("<Check|MPos:0.000,0.000,0.000|")));
        const int from = m_host->lines().size();
        m_host->write("$C\n");
        QVERIFY(m_host->waitForLine(Banner, from));
        QCOMPARE(m_host->lines().mid(from), (QStringList{"[MSG:Disabled]", "ok", "", Banner}));
        QVERIFY(m_host->status().startsWith(QStringLiteral("<Idle|")));
        QVERIFY(m_simulator->motions().isEmpty());
    }

    // After an ALARM line the firmware pauses 500 ms. A reset during that pause is forgotten after a
    // hard or soft limit (the board waits for another one), and acted on after the pause otherwise.
    void alarmPauseAndResets_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QByteArray>("trigger");          // empty: the limit switch
        QTest::addColumn<bool>("critical");
        QTest::addColumn<QStringList>("expected");         // everything after the trigger
        QTest::newRow("soft limit") << "22=1 20=1" << QByteArray("G0X5\n") << true
                                    << QStringList{"ALARM:2", "[MSG:Reset to continue]", "ok", "", Banner, UnlockHint};
        QTest::newRow("hard limit") << "" << QByteArray() << true
                                    << QStringList{"ALARM:1", "[MSG:Reset to continue]", "", Banner, UnlockHint};
        QTest::newRow("probe miss") << "" << QByteArray("G38.2Z-5F100\n") << false
                                    << QStringList{"ALARM:5", "[PRB:0.000,0.000,0.000:0]", "ok", "", Banner, UnlockHint};
    }

    void alarmPauseAndResets()
    {
        QFETCH(QString, settings);
        QFETCH(QByteArray, trigger);
        QFETCH(bool, critical);
        QFETCH(QStringList, expected);
        startWith(fast(settings));
        if (m_simulator->setting(22) == QLatin1String("1"))
            QCOMPARE(m_host->exchange("$X").last(), QStringLiteral("ok"));
        const int from = m_host->lines().size();
        if (trigger.isEmpty())
            m_simulator->triggerHardLimit();
        else
            m_host->write(trigger);
        QVERIFY(m_host->waitForLine(expected.first(), from));
        QElapsedTimer sinceAlarm;
        sinceAlarm.start();
        QTest::qWait(100);
        m_host->write("\x18");
        if (critical) {
            QVERIFY(m_host->waitForLine(QStringLiteral("[MSG:Reset to continue]")));
            QVERIFY(sinceAlarm.elapsed() >= 480);
            QTest::qWait(300);
            m_host->write("?");                         // nothing but a reset is served now
            QTest::qWait(100);
            QCOMPARE(m_host->lines().mid(from), expected.mid(0, 2));
            m_host->write("\x18");
        }
        QVERIFY(m_host->waitForLine(UnlockHint, from));
        QVERIFY(sinceAlarm.elapsed() >= 480);
        QCOMPARE(m_host->lines().mid(from), expected);
        QVERIFY(m_host->status().startsWith(QStringLiteral("<Alarm|")));
    }

    // The reset stops the motion at once; what follows it in the same write is gone with the buffer.
    void resetDuringMotionLocks()
    {
        GrblSimulator::Options options = fast();
        options.motionTimeScale = 1.0;
        startWith(options);
        QCOMPARE(m_host->exchange("$J=G91X10F600"), QStringList{"ok"});
        QVERIFY(m_host->status().startsWith(QStringLiteral("<Jog|")));
        m_host->write("\x85\n");
        QVERIFY(statusWhen([](const QString &report) { return report.startsWith(QStringLiteral("<Idle|")); }).startsWith(QStringLiteral("<Idle|")));
        QCOMPARE(m_host->exchange("G1X20F600"), QStringList{"ok"});
        const int before = m_host->lines().size();
        m_host->write("\x18\n");
        QVERIFY(m_host->waitForLine(UnlockHint, before));
        QTest::qWait(100);
        QCOMPARE(m_host->lines().mid(before), (QStringList{"ALARM:3", "", Banner, UnlockHint}));
        QVERIFY(m_host->status().startsWith(QStringLiteral("<Alarm|")));
    }

    // Trapezoids at $120-$122: G1 X10 F600 needs 2 s (1 s without acceleration); a hold decelerates
    // (Hold:1) over v^2/2a = 5 mm before it is complete (Hold:0); a resume finishes the move.
    void acceleratesAndDecelerates()
    {
        GrblSimulator::Options options = fast(QStringLiteral("110=1000"));
        options.motionTimeScale = 0.25;
        startWith(options);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(m_host->exchange("G1X10F600"), QStringList{"ok"});
        const auto atX10 = [](const QString &report) { return report.startsWith(QStringLiteral("<Idle|MPos:10.000,")); };
        QVERIFY(atX10(statusWhen(atX10)));
        QVERIFY2(clock.elapsed() >= 450, qPrintable(QString::number(clock.elapsed())));

        m_host.reset();
        m_simulator.reset();
        options.motionTimeScale = 0.5;
        startWith(options);
        QCOMPARE(m_host->exchange("G1X25F600"), QStringList{"ok"});
        const QString cruising = statusWhen([](const QString &report) { return reportedPosition(report)[0] >= 6.0; });
        m_host->write("!");
        const double heldAt = reportedPosition(cruising)[0];
        QCOMPARE(reportedFeed(cruising), 600.0);
        QVERIFY(m_host->status().startsWith(QStringLiteral("<Hold:1|")));
        const QString held = statusWhen([](const QString &report) { return report.startsWith(QStringLiteral("<Hold:0|")); });
        QVERIFY2(held.startsWith(QStringLiteral("<Hold:0|")), qPrintable(held));
        const double stoppingDistance = reportedPosition(held)[0] - heldAt;
        QVERIFY2(stoppingDistance > 4.9 && stoppingDistance < 5.8, qPrintable(QString::number(stoppingDistance)));
        m_host->write("~");
        const auto done = [](const QString &report) { return report.startsWith(QStringLiteral("<Idle|MPos:25.000,")); };
        QVERIFY(done(statusWhen(done)));
    }

    // Overrides scale the speed the machine really moves at; the report shows them at once.
    void overridesScaleTheSpeed_data()
    {
        QTest::addColumn<QByteArray>("bytes");             // each sent on its own
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<double>("feed");                  // the highest FS seen
        QTest::addColumn<QString>("spindle");
        QTest::addColumn<QString>("overrides");
        QTest::newRow("feed 200 %") << QByteArray(10, '\x91') << QByteArray("G1X20F300") << 600.0 << "0" << "Ov:200,100,100";
        QTest::newRow("feed clamped at 10 %") << QByteArray(12, '\x92') << QByteArray("G1X0.5F300") << 30.0 << "0" << "Ov:10,100,100";
        QTest::newRow("feed fine steps, reset") << QByteArray("\x93\x93\x94\x90\x93") << QByteArray("G1X10F300") << 303.0 << "0" << "Ov:101,100,100";
        QTest::newRow("rapid 25 %") << QByteArray("\x97") << QByteArray("G0X5") << 250.0 << "0" << "Ov:100,25,100";
        QTest::newRow("spindle +10 %") << QByteArray("\x9a") << QByteArray("M3S500") << 0.0 << "550" << "Ov:100,100,110";
    }

    void overridesScaleTheSpeed()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, line);
        QFETCH(double, feed);
        QFETCH(QString, spindle);
        QFETCH(QString, overrides);
        GrblSimulator::Options options = fast(QStringLiteral("110=1000"));
        options.motionTimeScale = 0.2;
        startWith(options);
        for (const char byte : bytes) {
            m_host->write(QByteArray(1, byte));
            m_host->status();                           // a check point of its own for each step
        }
        QCOMPARE(overridesShown(), overrides);
        QString report;
        QCOMPARE(m_host->exchange(line), QStringList{"ok"});
        double fastest = 0.0;
        do {
            report = m_host->status();
            fastest = std::max(fastest, reportedFeed(report));
        } while (report.startsWith(QStringLiteral("<Run|")));
        QCOMPARE(fastest, feed);
        QVERIFY2(report.contains(QStringLiteral(",%1|").arg(spindle)) || report.contains(QStringLiteral(",%1>").arg(spindle)),
                 qPrintable(report));
    }

    // Requests that come together get one report; "?" draws no answer, its newline an "ok". The work
    // offset comes in the first report after a reset, the overrides in the second.
    void reportsStatus()
    {
        startWith(fast());
        m_host->write("??");
        QVERIFY(m_host->waitForLine(QStringLiteral("<Idle|MPos:0.000,0.000,0.000|FS:0,0|WCO:0.000,0.000,0.000>")));
        QTest::qWait(50);
        QCOMPARE(m_host->reports().size(), 1);
        m_host->write("?\n");
        QVERIFY(m_host->waitForAnswers(1));
        QCOMPARE(m_host->lines().mid(3), (QStringList{"<Idle|MPos:0.000,0.000,0.000|FS:0,0|Ov:100,100,100>", "ok"}));
        QCOMPARE(m_host->exchange("G10L2P1X1Y2Z3"), QStringList{"ok"});
        QCOMPARE(m_host->status(), QStringLiteral("<Idle|MPos:0.000,0.000,0.000|FS:0,0|WCO:1.000,2.000,3.000>"));
        QCOMPARE(m_host->exchange("$10=0"), QStringList{"ok"});
        QCOMPARE(m_host->status(), QStringLiteral("<Idle|WPos:-1.000,-2.000,-3.000|FS:0,0>"));
    }

    // Every byte from 0x80 up is a real-time command, also inside a comment.
    void realtimeBytesAct()
    {
        startWith(fast());
        m_host->write("G0X1 (\xc3\x97)\n");                 // "×": rapids at 25 %
        QVERIFY(m_host->waitForAnswers(1));
        QCOMPARE(overridesShown(), QStringLiteral("Ov:100,25,100"));
        m_host->write("G0X2 (\xc3\x84 \xff)\n");            // "Ä": the safety door
        QVERIFY(m_host->waitForLine(QStringLiteral("[MSG:Check Door]")));
        QVERIFY(m_host->status().startsWith(QStringLiteral("<Door:0|")));
        QCOMPARE(m_host->answerCount(), 1);
        m_host->write("~");
        QVERIFY(m_host->waitForAnswers(2));
        QCOMPARE(m_host->exchange("\xa0"), QStringList{"ok"});  // flood coolant toggled, as the parser shows
        QCOMPARE(m_host->exchange("$G").first(), QStringLiteral("[GC:G0 G54 G17 G21 G90 G94 M5 M8 T0 F0 S0]"));
        QCOMPARE(m_simulator->receivedLines().mid(0, 3), (QStringList{"<0xc3>", "<0x97>", "G0X1 ()"}));
    }

    void overfilledBufferLosesCharacters()
    {
        GrblSimulator::Options options = fast();
        options.logPath = m_dir.filePath(QStringLiteral("overflow.log"));
        startWith(options);
        m_host->write("!\n");               // held: the line end is read, then nothing more
        QTRY_COMPARE(m_simulator->receivedLines(), QStringList{"!"});
        QByteArray lines;
        for (int i = 0; i < 20; ++i)
            lines += "G0X" + QByteArray::number(i % 10) + "\n";   // 5 characters each, 100 in all
        m_host->write(lines + lines);
        QTRY_COMPARE(m_simulator->overflowCount(), 72);
        QCOMPARE(m_host->answerCount(), 0);
        m_host->write("~\n");               // acted on although the buffer is full
        QVERIFY(m_host->waitForAnswers(1 + 25 + 1));
        QCOMPARE(m_host->answers().mid(24), (QStringList{"ok", "ok", "error:2"}));   // "G0X" cut short
        QFile log(options.logPath);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("72 characters lost"));
    }

    void eepromWriteDropsWhatArrives()
    {
        GrblSimulator::Options options = fast();
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
        QTest::newRow("bowed") << GrblSimulator::Surface::Bowed << -10.0 + 0.2 * (1 - 0.25);   // halfway out in Y
    }

    // The probe stops where it touches and reports that point; decelerating from 100 mm/min at
    // 10 mm/s^2 carries the tool 0.139 mm further. A later miss reports the last contact with ":0".
    void probeFindsTheSurface()
    {
        QFETCH(GrblSimulator::Surface, surface);
        QFETCH(double, expectedZ);
        GrblSimulator::Options options = fast();
        options.surface = surface;
        options.surfaceZ = -10.0;
        startWith(options);
        QVERIFY(qAbs(m_simulator->surface().heightAt(50, 20) - expectedZ) < 1e-9);
        QCOMPARE(m_host->exchange("G0X50Y20"), QStringList{"ok"});
        const QStringList answers = m_host->exchange("G38.2Z-30F100");
        QCOMPARE(answers.size(), 2);
        static const QRegularExpression report(QStringLiteral("^\\[PRB:50\\.000,20\\.000,(-?\\d+\\.\\d{3}):1\\]$"));
        const auto match = report.match(answers.first());
        QVERIFY2(match.hasMatch(), qPrintable(answers.first()));
        const double contact = match.captured(1).toDouble();
        QVERIFY(qAbs(contact - expectedZ) < 0.0021);
        QCOMPARE(answers.last(), QStringLiteral("ok"));
        const QString status = m_host->status();
        QVERIFY2(qAbs(reportedPosition(status)[2] - (contact - 100.0 * 100.0 / 3600.0 / 20.0)) < 0.005, qPrintable(status));
        QVERIFY(status.contains(QStringLiteral("|Pn:P")));

        m_simulator->setProbeMisses(true);
        QCOMPARE(m_host->exchange("G38.2Z-30F100"),
                 (QStringList{"ALARM:5", QStringLiteral("[PRB:50.000,20.000,%1:0]").arg(match.captured(1)), "ok"}));
    }

    // What the machine did, against positions worked out by hand: offsets (G10, G92, G54/G55/G59,
    // G53), units, distance modes, G28/G30, several G words on a line and arcs in all three planes.
    void recordsWhereTheMachineWent()
    {
        GrblSimulator::Options options = fast();
        options.motionLogPath = m_dir.filePath(QStringLiteral("motions.log"));
        startWith(options);
        const QList<QPair<QByteArray, Axes>> program = {
            {"G10L2P2X10Y20Z-5", {0, 0, 0}},
            {"G55G0X1Y1", {11, 21, 0}},
            {"G92X0Y0", {11, 21, 0}},
            {"G1X5F600", {16, 21, 0}},
            {"G91G1X-1Y2Z-3", {15, 23, -3}},
            {"G90G20G0X1", {36.4, 23, -3}},           // one inch in G55 with the G92 offset of 1 mm
            {"G21G53G0X2Y3Z-1", {2, 3, -1}},
            {"G28.1", {2, 3, -1}},
            {"G0X0Y0Z0", {11, 21, -5}},
            {"G28", {2, 3, -1}},
            {"G92.1", {2, 3, -1}},
            {"G54G0X0Y0Z0", {0, 0, 0}},
            {"G17G2X10Y0I5J0F300", {10, 0, 0}},       // half circle over Y+
            {"G18G2X0Z0I-5K0", {0, 0, 0}},            // half circle in the ZX plane
            {"G19G3Y10Z0R5", {0, 10, 0}},             // half circle in the YZ plane, radius form
            {"G17G2X0Y10I5J0", {0, 10, 0}},           // full circle
            {"G10L2P6X-3Y-4Z1", {0, 10, 0}},
            {"G59G0X0Y0Z0", {-3, -4, 1}},
            {"G30.1", {-3, -4, 1}},
            {"G54G0X5Y5Z0", {5, 5, 0}},
            {"G30Z2", {5, 5, 1}},                      // through Z2, then only Z to the stored position
            {"G30", {-3, -4, 1}},
        };
        for (const auto &step : program)
            QCOMPARE(m_host->exchange(step.first), QStringList{"ok"});
        const QVector<AnsweredLine> answered = m_simulator->answeredLines();
        QCOMPARE(answered.size(), program.size());
        for (int i = 0; i < program.size(); ++i) {
            QCOMPARE(answered[i].line, QString::fromLatin1(program[i].first));
            for (int axis = 0; axis < 3; ++axis)
                QVERIFY2(qAbs(answered[i].position[axis] - program[i].second[axis]) < 1e-6, program[i].first.constData());
        }
        QCOMPARE(answered[3].workOffset, (Axes{11, 21, -5}));

        const QVector<SimulatedMotion> motions = m_simulator->motions();
        for (int i = 1; i < motions.size(); ++i)
            QCOMPARE(motions[i].start, motions[i - 1].end);
        const auto arc = [&](const char *line) {
            QVector<SimulatedMotion> chords;
            for (const SimulatedMotion &motion : motions) {
                if (motion.line == QLatin1String(line))
                    chords << motion;
            }
            return chords;
        };
        // centre, radius, the axis that stays put, sweep, plane
        const struct { const char *line; Axes centre; int fixedAxis; double sweep; int plane; } arcs[] = {
            {"G17G2X10Y0I5J0F300", {5, 0, 0}, 2, -M_PI, 17},
            {"G18G2X0Z0I-5K0", {5, 0, 0}, 1, -M_PI, 18},
            {"G19G3Y10Z0R5", {0, 5, 0}, 0, M_PI, 19},
            {"G17G2X0Y10I5J0", {5, 10, 0}, 2, -2 * M_PI, 17},
        };
        for (const auto &expected : arcs) {
            const QVector<SimulatedMotion> chords = arc(expected.line);
            QVERIFY2(chords.size() > 20, expected.line);
            for (const SimulatedMotion &chord : chords) {
                QVERIFY(chord.arc && chord.arcPlane == expected.plane);
                QVERIFY(qAbs(chord.arcSweep - expected.sweep) < 1e-5);
                const Axes &p = chord.end;
                QCOMPARE(p[expected.fixedAxis], expected.centre[expected.fixedAxis]);
                const double r = std::hypot(p[0] - expected.centre[0], p[1] - expected.centre[1], p[2] - expected.centre[2]);
                QVERIFY2(qAbs(r - 5.0) < 0.004, expected.line);
                // A chord strays from the circle by its sagitta, which $12 = 0.002 mm bounds.
                const double chord2 = std::pow(std::hypot(p[0] - chord.start[0], p[1] - chord.start[1], p[2] - chord.start[2]), 2);
                QVERIFY(5.0 - std::sqrt(25.0 - chord2 / 4) < 0.002 + 0.004);
            }
        }
        const Axes top = arc("G17G2X10Y0I5J0F300").value(arc("G17G2X10Y0I5J0F300").size() / 2).end;
        QVERIFY2(top[1] > 4.9, "a clockwise half circle from X0 to X10 around X5 passes Y5");

        QFile log(options.motionLogPath);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> logged = log.readAll().split('\n');
        QCOMPARE(int(std::count_if(logged.cbegin(), logged.cend(), [](const QByteArray &l) { return l.startsWith("move\t"); })),
                 motions.size());
    }

    // A feed move below the surface while the spindle stands is flagged; rapids and cuts with the
    // spindle on are not.
    void flagsCutsWithTheSpindleStopped()
    {
        GrblSimulator::Options options = fast();
        options.surfaceZ = -1.0;
        options.logPath = m_dir.filePath(QStringLiteral("dry.log"));
        startWith(options);
        for (const char *line : {"G0Z-0.5", "G1Z-1.2F100", "M3S1000", "G1X5", "M5", "G0X0", "G1X0.05"})
            QCOMPARE(m_host->exchange(line), QStringList{"ok"});
        QCOMPARE(m_simulator->cutsWithSpindleStopped(), 2);
        QStringList flagged;
        for (const SimulatedMotion &motion : m_simulator->motions()) {
            if (motion.cutWithSpindleStopped)
                flagged << motion.line;
        }
        QCOMPARE(flagged, (QStringList{"G1Z-1.2F100", "G1X0.05"}));
        QFile log(options.logPath);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("<cut below the surface with the spindle stopped: G1X0.05>"));
    }

    void plannerFullDelaysTheAnswer()
    {
        GrblSimulator::Options options = fast();
        options.motionTimeScale = 0.5;
        startWith(options);
        QCOMPARE(m_host->exchange("G1F300"), QStringList{"ok"});
        QByteArray moves;
        for (int i = 0; i < 17; ++i)
            moves += i % 2 ? "G1X0\n" : "G1X1\n";          // reversals: 0.63 s each
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
        QTest::addColumn<QByteArray>("line");       // streamed behind a 340 ms move, followed by "$$"
        QTest::addColumn<bool>("waits");
        QTest::newRow("coolant on") << QByteArray() << QByteArray("M8") << true;
        QTest::newRow("coolant already on") << QByteArray("M8") << QByteArray("M8") << false;
        QTest::newRow("coolant off") << QByteArray("M8") << QByteArray("M9") << true;
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
        GrblSimulator::Options options = fast();
        options.motionTimeScale = 0.05;     // G0X50 at 500 mm/min with acceleration: 6.8 s, here 340 ms
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
            QVERIFY(Host::waitUntil([&] { return !m_host->lines().filter(QStringLiteral("<Run|")).isEmpty(); }));
            QCOMPARE(m_host->answerCount(), answered + 1);
        }
        QVERIFY(m_host->waitForAnswers(answered + 2));
        const qint64 answeredAfter = clock.elapsed();
        QVERIFY(m_host->waitForAnswers(answered + 3));
        QVERIFY2(waits ? answeredAfter >= 320 : answeredAfter < 250, qPrintable(QString::number(answeredAfter)));
        // "$$" is refused while the machine moves ("error:8") and lists the 34 settings when it is idle.
        QCOMPARE(m_host->answers().mid(answered), (QStringList{"ok", "ok", waits ? "ok" : "error:8"}));
        QCOMPARE(m_host->lines().filter(QRegularExpression(QStringLiteral("^\\$\\d+="))).size(), waits ? 34 : 0);
    }

    // Like an Arduino board, the controller restarts on every open: one banner each time, even for a
    // host that clears its buffers right after opening, and the position is gone.
    void openingTheDeviceRestartsTheBoard()
    {
        startWith(fast());
        QCOMPARE(m_host->exchange("G0X5"), QStringList{"ok"});
        m_host.reset();
        m_host = std::make_unique<Host>();
        QVERIFY(m_host->open(m_simulator->devicePath()));
        m_host->port().clear();
        QVERIFY(m_host->waitForLine(Banner));
        QCOMPARE(m_host->status(), QStringLiteral("<Idle|MPos:0.000,0.000,0.000|FS:0,0|WCO:0.000,0.000,0.000>"));
        QCOMPARE(m_host->lines().filter(Banner).size(), 1);
    }

    void doorPausesUntilClosedAndResumed()
    {
        startWith(fast());
        m_simulator->setDoorOpen(true);
        QVERIFY(m_host->waitForLine(QStringLiteral("[MSG:Check Door]")));
        QVERIFY(m_host->status().startsWith(QStringLiteral("<Door:1|")));
        m_host->write("~\n");                // ignored while the door is open
        QTRY_VERIFY(m_simulator->receivedLines().contains(QStringLiteral("~")));
        m_simulator->setDoorOpen(false);
        QVERIFY(m_host->status().startsWith(QStringLiteral("<Door:0|")));
        m_host->write("~\n");
        QVERIFY(m_host->waitForAnswers(2));
        QVERIFY(m_host->status().startsWith(QStringLiteral("<Idle|")));
    }

    // The program's own options: settings stored before power-up and the boot delay.
    void programTakesItsOptions()
    {
        QProcess program;
        program.start(QStringLiteral(GRBLSIM_PROGRAM),
                      {QStringLiteral("--setting"), QStringLiteral("22=1"), QStringLiteral("--setting"), QStringLiteral("110=600"),
                       QStringLiteral("--boot-ms"), QStringLiteral("10")});
        QVERIFY(program.waitForReadyRead(5000));
        Host host;
        QVERIFY(host.open(QString::fromLocal8Bit(program.readLine()).trimmed()));
        QVERIFY(host.waitForLine(UnlockHint));
        const QStringList settings = host.exchange("$$");
        QVERIFY(settings.contains(QStringLiteral("$22=1")) && settings.contains(QStringLiteral("$110=600.000")));
        program.terminate();
        QVERIFY(program.waitForFinished(5000));
    }
};

QTEST_GUILESS_MAIN(TestGrblSimulator)
#include "tst_grblsimulator.moc"
