#include "app/infodialog.h"
#include "link/machinestatus.h"
#include "link/serialport.h"
#include "link/serialportreader.h"
#include "modes/dialoggcodetest.h"
#include "modes/mode_gcode.h"
#include "tests/modes/mainpage.h"

#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

// The running job seen and steered, against the simulated controller at real speed: live state,
// overrides, a check run in GRBL's check mode, pausing on an error, and starting part-way.
class TestRunningJob : public QObject
{
    Q_OBJECT

private:
    static QString label(const MainPage &main, const char *name)
    {
        return main.gcode()->findChild<QLabel *>(QLatin1String(name))->text();
    }
    // What the controller received since the test began, feed holds and cycle starts aside.
    static QStringList receivedLines(const MainPage &main)
    {
        QStringList lines = main.received();
        lines.removeAll(QStringLiteral("!"));
        lines.removeAll(QStringLiteral("~"));
        return lines;
    }
    static QStringList numbered(const QString &pattern, int first, int last)
    {
        QStringList lines;
        for (int i = first; i <= last; ++i)
            lines << pattern.arg(i);
        return lines;
    }

private Q_SLOTS:
    void init() { InfoDialog::instance()->on_pushButton_clicked(); }
    void cleanup() { InfoDialog::instance()->on_pushButton_clicked(); }

    // The position follows a 30 s job at least once a second, the last one is the end point; the state
    // shows the hold and the run again.
    void liveStateFollowsTheJob()
    {
        GrblSimulator::Options options;
        options.motionTimeScale = 1.0;
        MainPage main;
        QVERIFY(main.connectToSimulator(options));
        // 25 moves of about 4 mm at 480 mm/min with GRBL's default acceleration (10 mm/s²): about 30 s.
        QByteArray program = "G21G90\n";
        for (int i = 1; i <= 25; ++i)
            program += "G1X" + QByteArray::number(i % 2 * 4) + "Y" + QByteArray::number(i % 3) + "F480\n";
        program += "G1X10Y10\n";
        main.gcode()->loadFile(main.writeFile(program));
        QVector<qint64> updates;
        QElapsedTimer clock;
        QObject listener;
        connect(main.window->connection()->reader(), &SerialPortReader::statusUpdate, &listener,
                [&](const MachineStatus &) { updates << clock.elapsed(); });
        clock.start();
        main.click("button_play_pause");
        QVERIFY(spinUntil([&] { return label(main, "label_state") == QLatin1String("Run"); }, 5000));
        spinUntil([] { return false; }, 3000);
        main.click("button_play_pause");
        QVERIFY(spinUntil([&] { return label(main, "label_state").startsWith(QLatin1String("Hold")); }, 5000));
        spinUntil([] { return false; }, 1000);
        main.click("button_play_pause");
        QVERIFY(spinUntil([&] { return label(main, "label_state") == QLatin1String("Run"); }, 5000));
        QVERIFY(spinUntil([&] { return !main.boxes.texts.isEmpty(); }, 120000));
        // The last line is answered when it is planned; the machine runs on through GRBL's planner.
        QVERIFY(spinUntil([&] { return label(main, "label_state") == QLatin1String("Idle"); }, 60000));
        QCOMPARE(label(main, "label_wx"), QStringLiteral("10.000"));
        QCOMPARE(label(main, "label_wy"), QStringLiteral("10.000"));
        QVERIFY2(clock.elapsed() > 25000, qPrintable(QString::number(clock.elapsed())));
        qint64 longestGap = 0;
        for (int i = 1; i < updates.size(); ++i)
            longestGap = qMax(longestGap, updates[i] - updates[i - 1]);
        qInfo("%d status reports in %lld ms, longest gap %lld ms", updates.size(), clock.elapsed(), longestGap);
        QVERIFY(longestGap <= 1000);
    }

    // GRBL confirms each override in its reports; the page shows what it confirmed.
    void overridesAreConfirmedByTheController()
    {
        GrblSimulator::Options options;
        options.motionTimeScale = 1.0;
        MainPage main;
        QVERIFY(main.connectToSimulator(options));
        main.gcode()->loadFile(main.writeFile("G1X20F300\nG1X0\n"));
        main.click("button_play_pause");
        for (int i = 0; i < 3; ++i)
            main.click("button_feed_up");
        main.click("button_rapid_50");
        main.click("button_spindle_down");
        QVERIFY(spinUntil([&] { return label(main, "label_feed_override") == QLatin1String("130 %"); }, 5000));
        QCOMPARE(label(main, "label_rapid_override"), QStringLiteral("50 %"));
        QCOMPARE(label(main, "label_spindle_override"), QStringLiteral("90 %"));
        QCOMPARE(main.received().count(QStringLiteral("<0x91>")), 3);
        main.click("button_stop");
    }

    // Three bad lines in a check run are listed with their texts; leaving check mode resets GRBL, which
    // the link expects; the connection goes on, and the real job follows the user's choice.
    void checkRunListsTheErrors()
    {
        MainPage main;
        QVERIFY(main.connectToSimulator());
        main.gcode()->loadFile(main.writeFile("G21G90\nG1X5\nG0X1\nG99\nG1X2F100\nG2X3\nG0X0\n"));
        main.click("button_check");
        auto *dialog = main.gcode()->findChild<DialogGcodeTest *>();
        QVERIFY(spinUntil([&] { return !dialog->findChild<QPushButton *>(QStringLiteral("continue_2"))->isHidden(); }, 10000));
        QCOMPARE(dialog->findChild<QLabel *>(QStringLiteral("error_text"))->text(),
                 QStringLiteral("Error: Feed rate has not yet been set or is undefined.\nLine:2\nGcode: G1X5\n"
                                "Error: Unsupported or invalid g-code command found in block.\nLine:4\nGcode: G99\n"
                                "Error: A G2 or G3 arc; traced with the offset definition; is missing the IJK offset word "
                                "in the selected plane to trace the arc.\nLine:6\nGcode: G2X3\n"));
        QCOMPARE(InfoDialog::instance()->text(), QString());
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("abort")), Qt::LeftButton);
        QVERIFY(spinUntil([&] { return !main.gcode()->isStarted(); }, 5000));
        // The controller left check mode and is still ours: a typed command runs.
        main.gcode()->findChild<QLineEdit *>(QStringLiteral("input_user"))->setText(QStringLiteral("G0X3"));
        QTest::keyClick(main.gcode()->findChild<QLineEdit *>(QStringLiteral("input_user")), Qt::Key_Return);
        QVERIFY(spinUntil([&] { return main.received().contains(QStringLiteral("G0X3")); }, 5000));
        QVERIFY(main.window->connection() && main.window->connection()->isConnected());
        const QStringList lines = receivedLines(main);
        QCOMPARE(lines.mid(0, 8), QStringList({"$C", "G21G90", "G1X5", "G0X1", "G99", "G1X2F100", "G2X3", "G0X0"}));
        QCOMPARE(lines.at(8), QStringLiteral("$C"));
        QVERIFY(InfoDialog::instance()->text().isEmpty());
    }

    // An error answer holds the job at once: nothing more of it is sent until the operator resumes;
    // then the job goes on with the next line, every line arriving once.
    void pauseOnError()
    {
        GrblSimulator::Options options;
        options.motionTimeScale = 1.0;
        MainPage main;
        QVERIFY(main.connectToSimulator(options));
        QStringList program = numbered(QStringLiteral("G1X%1F3000"), 1, 40);
        program[19] = QStringLiteral("G99");
        main.gcode()->loadFile(main.writeFile(program.join(QLatin1Char('\n')).toLatin1() + '\n'));
        main.click("button_play_pause");
        QVERIFY(spinUntil([&] { return main.gcode()->isPaused(); }, 20000));
        QVERIFY(InfoDialog::instance()->text().contains(QStringLiteral("Line:20\nGcode: G99\n")));
        const int sentWhenHeld = receivedLines(main).size();
        spinUntil([] { return false; }, 1000);
        QCOMPARE(receivedLines(main).size(), sentWhenHeld);
        QVERIFY2(sentWhenHeld - 20 <= 6, qPrintable(QString::number(sentWhenHeld)));   // what GRBL's buffer held
        QVERIFY(main.received().contains(QStringLiteral("!")));
        main.click("button_play_pause");
        QVERIFY(spinUntil([&] { return !main.boxes.texts.isEmpty(); }, 60000));
        QCOMPARE(receivedLines(main), program);
    }

    // Starting at line 1,000 of 2,000: the controller gets the program's modal state and the way to the
    // start point, then exactly lines 1,000 to 2,000; it cuts them exactly as a run of the whole
    // program does (same moves, feeds and spindle), judged by its own record of the motion.
    void startAtALine()
    {
        QStringList program{"G21 G90 G17 G54", "M3 S9000", "M8", "G0 Z5", "G0 X0 Y0", "G1 Z-1 F400"};
        for (int i = program.size() + 1; i <= 2000; ++i)
            program << QStringLiteral("G1 X%1 Y%2 Z-%3").arg(i % 37).arg(i % 23 + i / 100).arg(1 + i % 3);
        const QByteArray file = program.join(QLatin1Char('\n')).toLatin1() + '\n';
        // Every line from 1,000 on moves: the last 1,001 motions are theirs, in both runs.
        const auto cutsFrom = [&](const GrblSimulator &simulator) {
            QStringList cuts;
            const QVector<SimulatedMotion> motions = simulator.motions();
            for (const SimulatedMotion &motion : motions.mid(motions.size() - 1001))
                cuts << QStringLiteral("%1 from %2,%3,%4 to %5,%6,%7 F%8 M%9 S%10").arg(motion.line).arg(motion.start[0])
                            .arg(motion.start[1]).arg(motion.start[2]).arg(motion.end[0]).arg(motion.end[1]).arg(motion.end[2])
                            .arg(motion.feed).arg(motion.spindle).arg(motion.spindleSpeed);
            return cuts;
        };
        QStringList wholeRun;
        {
            MainPage main;
            QVERIFY(main.connectToSimulator());
            main.gcode()->loadFile(main.writeFile(file));
            main.click("button_play_pause");
            QVERIFY(spinUntil([&] { return !main.boxes.texts.isEmpty(); }, 60000));
            QVERIFY(spinUntil([&] { return main.simulator->motions().size() >= 2000 - 4; }, 10000));
            wholeRun = cutsFrom(*main.simulator);
        }
        MainPage main;
        QVERIFY(main.connectToSimulator());
        main.gcode()->loadFile(main.writeFile(file));
        main.gcode()->findChild<QSpinBox *>(QStringLiteral("spinBox_start_line"))->setValue(1000);
        main.click("button_start_line");
        QVERIFY(spinUntil([&] { return !main.boxes.texts.isEmpty(); }, 60000));
        const QStringList received = receivedLines(main);
        // Line 999 ends at X0 Y19 Z-1 (999 % 37, 999 % 23 + 9, 1 + 999 % 3); the highest Z before is 5.
        QCOMPARE(received.mid(0, 10), QStringList({"G21", "G17", "G54", "G90", "G0Z5.000", "M3S9000", "M8", "G4P2",
                                                   "G0X0.000Y19.000", "G1Z-1.000F400"}));
        QCOMPARE(received.mid(10), program.mid(999));
        QVERIFY(spinUntil([&] { return main.simulator->motions().size() >= 1001 + 3; }, 10000));
        QCOMPARE(cutsFrom(*main.simulator), wholeRun);
        QVERIFY(wholeRun.first().startsWith(program.at(999)));
    }
};

QTEST_MAIN(TestRunningJob)
#include "tst_runningjob.moc"
