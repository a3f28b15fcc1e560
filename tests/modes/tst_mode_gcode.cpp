#include "app/infodialog.h"
#include "link/gcodeserialmessage.h"
#include "modes/dialoggcodetest.h"
#include "modes/filereaderasync.h"
#include "modes/mode_gcode.h"
#include "tests/modes/mainpage.h"
#include "toolpath/gcodeprogram.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QProgressBar>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTextBrowser>

namespace {
QStringList linesOf(const Mode_Gcode *mode)
{
    QStringList lines;
    if (const auto program = mode->program()) {
        for (qint64 i = 0; i < program->lineCount(); ++i)
            lines << program->line(i);
    }
    return lines;
}

QByteArray commentLine(int length)
{
    return "G1X1F100 (" + QByteArray(length - 11, 'a') + ")";
}
} // namespace

// The G-code mode against the simulated controller, its check dialog, and the file reader of the wizards.
class TstModeGcode : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void progressAndCompletion_data();
    void progressAndCompletion();
    void pauseSendsFeedHoldAndResumeCycleStart();
    void loadingFiles_data();
    void loadingFiles();
    void reopeningUnchangedFileDoesNothing();
    void manualCommandPollsUntilPositionStandsStill();
    void checkRun_data();
    void checkRun();
    void fileReaderAsync();
    void playDuringRead_data();
    void playDuringRead();
    void errorFloodKeepsStopWithinReach();
    void stopAtAnyMoment_data();
    void stopAtAnyMoment();
    void soakOfRealWorldLines();
};

void TstModeGcode::progressAndCompletion_data()
{
    QTest::addColumn<QByteArray>("program");
    QTest::addColumn<QString>("afterFirstAnswer");
    QByteArray large;
    for (int i = 1; i <= 20000; ++i)
        large += "G1X" + QByteArray::number(i % 200) + "Y" + QByteArray::number(i / 200) + "F3000 (" + QByteArray::number(i) + ")\n";
    QTest::newRow("one line") << QByteArray("G1X10F100\n") << QStringLiteral("100%");
    QTest::newRow("three lines") << QByteArray("G1X10F100\nG1X5\nG1X0\n") << QStringLiteral("33%");
    // Every line arrives once and in order, and the controller's buffer never overflows.
    QTest::newRow("20000 lines") << large << QStringLiteral("0%");
}

void TstModeGcode::progressAndCompletion()
{
    QFETCH(QByteArray, program);
    QFETCH(QString, afterFirstAnswer);
    MainPage main;
    QVERIFY(main.connectToSimulator());
    Mode_Gcode *mode = main.gcode();
    mode->loadFile(main.writeFile(program));

    QString shownAfterFirst;
    QObject listener;
    // Queued like the mode's own connection, so it runs right after the mode has shown the progress.
    connect(GcodeSerialMessage::instance(), &GcodeSerialMessage::setProgress, &listener, [&](qint64 line) {
        if (line == 1)
            shownAfterFirst = main.button("button_time")->text();
    }, Qt::QueuedConnection);
    main.click("button_play_pause");
    QTRY_COMPARE_WITH_TIMEOUT(main.boxes.texts, QStringList{QStringLiteral("Mill/Milling process completed")}, 100000);

    QCOMPARE(shownAfterFirst, afterFirstAnswer);
    QCOMPARE(main.button("button_time")->text(), QStringLiteral("100%"));
    QCOMPARE(main.received(), QString::fromLatin1(program).remove(QRegularExpression(QStringLiteral(" ?\\(.*\\)"))).split(QLatin1Char('\n'), Qt::SkipEmptyParts));
    QCOMPARE(main.simulator->overflowCount(), 0);
    QVERIFY(mode->isPaused());
    QVERIFY(!mode->isStarted());
    QVERIFY(mode->findChild<QLineEdit *>(QStringLiteral("input_user"))->isEnabled());
    QVERIFY(mode->findChild<QPushButton *>(QStringLiteral("button_file"))->isEnabled());
}

void TstModeGcode::pauseSendsFeedHoldAndResumeCycleStart()
{
    GrblSimulator::Options options;
    options.motionTimeScale = 1.0;
    MainPage main;
    QVERIFY(main.connectToSimulator(options));
    // More slow moves than the planner holds, so the job is still running when it is paused.
    QByteArray program;
    for (int i = 0; i < 20; ++i)
        program += "G1X1F60\nG1X0\n";
    Mode_Gcode *mode = main.gcode();
    mode->loadFile(main.writeFile(program));

    main.click("button_play_pause");
    QTRY_VERIFY(main.received().contains(QStringLiteral("G1X1F60")));
    QTest::qWait(100);
    QVERIFY(mode->isStarted());
    QCOMPARE(main.button("button_play_pause")->text(), QStringLiteral("pause"));

    const auto holdAndResume = [&main] { return main.received().filter(QRegularExpression(QStringLiteral("^[!~]$"))); };
    main.click("button_play_pause");
    QTRY_COMPARE(holdAndResume(), QStringList{QStringLiteral("!")});
    QVERIFY(mode->isPaused());
    main.click("button_play_pause");
    QTRY_COMPARE(holdAndResume(), (QStringList{"!", "~"}));
    QVERIFY(!mode->isPaused());
    QVERIFY(main.boxes.texts.isEmpty());
}

void TstModeGcode::loadingFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("program");

    const QStringList previous{"G0X1"};
    QTest::newRow("70 characters") << "G0X2\n" + commentLine(70) + "\nG0X3\n" << QString()
                                   << QStringList{"G0X2", "G1X1F100", "G0X3"};
    QTest::newRow("71 characters") << "G0X2\n" + commentLine(71) + "\nG0X3\n"
                                   << QString::fromLatin1("File Error/This line:" + commentLine(71) + " is too long max 70 chars per line")
                                   << QStringList{};
    // A binary file without line ends, read only as far as the first 71 characters, not 2 GB.
    QTest::newRow("2 GB sparse") << QByteArray("sparse") << "File Error/This line:" << QStringList{};
    QTest::newRow("empty") << QByteArray() << QString() << QStringList{};
    QTest::newRow("deleted before reading") << QByteArray("deleted") << "File Error/No such file or directory" << previous;
    // What GRBL ignores anyway goes: comments (where bytes from 0x80 up would act as real-time
    // commands), carriage returns (each one would end a line of its own), blanks at either end.
    QTest::newRow("not UTF-8") << QByteArray("G0X1 (\xe4\xf6\xfc)\n(\xff\xfe)\n") << QString() << QStringList{"G0X1", ""};
    QTest::newRow("windows line ends") << QByteArray("G0X1\r\nG0X2\r\n\r\n") << QString() << QStringList{"G0X1", "G0X2", ""};
    QTest::newRow("umlauts, odd line ends") << QByteArray("G1 X1 (Fr\xc3\xa4ser \xc3\x98 3 mm!) \r\r\nG1 X2 ; \xc3\x96l?\n\rG1X3\t\n")
                                            << QString() << QStringList{"G1 X1", "G1 X2", "G1X3"};
    QTest::newRow("feed hold outside a comment") << QByteArray("G1X1\nG1X2!\n")
                                                 << "File Error/Line 2 holds \"!\", which the controller takes as a command: G1X2!"
                                                 << QStringList{};
    QTest::newRow("umlaut outside a comment") << QByteArray("G1X1 \xc3\x84\n")
                                              << QStringLiteral("File Error/Line 1 holds \"\u00c4\" (U+C4), which the controller takes as a command: G1X1 \u00c4")
                                              << QStringList{};
}

// A new program replaces the old one, a failing read keeps it or empties it; nothing is sent meanwhile.
void TstModeGcode::loadingFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    QFETCH(QStringList, program);
    MainPage main;
    QVERIFY(main.connectToSimulator());
    Mode_Gcode *mode = main.gcode();
    mode->loadFile(main.writeFile("G0X1\n", QStringLiteral("previous.nc")));

    QString path = main.files.filePath(QStringLiteral("new.nc"));
    if (content == "sparse") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(qint64(2) << 30));
    } else if (content != "deleted") {
        path = main.writeFile(content, QStringLiteral("new.nc"));
    }
    bool windowRanDuringRead = false;
    bool reading = true;
    QTimer::singleShot(0, this, [&] { windowRanDuringRead = reading; });
    mode->loadFile(path);
    reading = false;

    QVERIFY(windowRanDuringRead);
    QCOMPARE(main.boxes.texts.size(), error.isEmpty() ? 0 : 1);
    QVERIFY(main.boxes.texts.value(0).startsWith(error));
    QCOMPARE(linesOf(mode), program);
    if (program.isEmpty()) {
        main.click("button_play_pause");
        QCOMPARE(main.boxes.texts.last(), QStringLiteral("info/First select a file"));
        QVERIFY(mode->isPaused());
    }
    QTest::qWait(100);
    QVERIFY(main.received().isEmpty());
}

void TstModeGcode::reopeningUnchangedFileDoesNothing()
{
    MainPage main;
    Mode_Gcode *mode = main.gcode();
    const QString path = main.writeFile("G0X1\n");
    mode->loadFile(path);
    const QDateTime modified = QFileInfo(path).lastModified();

    // Same size, same time stamp: taken as the same file.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    file.write("G0X7\n");
    QVERIFY(file.flush());
    QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
    file.close();
    mode->loadFile(path);
    QCOMPARE(linesOf(mode), QStringList{QStringLiteral("G0X1")});

    mode->reset();
    mode->loadFile(path);
    QCOMPARE(linesOf(mode), QStringList{QStringLiteral("G0X7")});
}

void TstModeGcode::manualCommandPollsUntilPositionStandsStill()
{
    GrblSimulator::Options options;
    options.motionTimeScale = 1.0;
    MainPage main;
    QVERIFY(main.connectToSimulator(options));
    Mode_Gcode *mode = main.gcode();
    auto *input = mode->findChild<QLineEdit *>(QStringLiteral("input_user"));
    auto *history = mode->findChild<QTextBrowser *>(QStringLiteral("textBrowser_2"));

    input->setText(QStringLiteral("G0 X10"));
    QTest::keyClick(input, Qt::Key_Return);
    QVERIFY(input->text().isEmpty());
    QCOMPARE(history->toPlainText(), QStringLiteral("G0 X10\n"));
    QTRY_VERIFY(main.received().contains(QStringLiteral("G0 X10")));
    QCOMPARE(main.received().mid(0, 2), (QStringList{"~", "G0 X10"}));

    // Reached through the hub's wiring of the reader's position reports.
    QTRY_COMPARE_WITH_TIMEOUT(mode->findChild<QLabel *>(QStringLiteral("label_x"))->text(), QStringLiteral("10.000"), 15000);
    // Once the machine stands still and idle, the status requests stop.
    spinUntil([] { return false; }, 600);
    const int pollsWhenStill = main.statusRequests();
    spinUntil([] { return false; }, 1200);
    QCOMPARE(main.statusRequests(), pollsWhenStill);
    QVERIFY(pollsWhenStill >= 3);

    input->setText(QStringLiteral("G0 X0"));
    QTest::keyClick(input, Qt::Key_Return);
    QCOMPARE(history->toPlainText(), QStringLiteral("G0 X0\nG0 X10\n"));
}

void TstModeGcode::checkRun_data()
{
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("sends");
    const QString error = QStringLiteral("Error: Undefined feed rate\nLine:2\nGcode: G1X10\n");
    QTest::newRow("no error") << QString() << QString() << true;
    QTest::newRow("error, continue") << error << "continue_2" << true;
    QTest::newRow("error, abort") << error << "abort" << false;
}

// Without errors the check dialog closes by itself and real sending starts; after an error the user chooses.
void TstModeGcode::checkRun()
{
    QFETCH(QString, error);
    QFETCH(QString, button);
    QFETCH(bool, sends);
    DialogGcodeTest dialog;
    GcodeSerialMessage::registerCheckDialog(&dialog);
    dialog.startRun(3);
    QSignalSpy okSend(&dialog, &DialogGcodeTest::okSend);
    QSignalSpy abort(&dialog, &DialogGcodeTest::abort);
    auto *choice = dialog.findChild<QPushButton *>(button.isEmpty() ? QStringLiteral("abort") : button);
    QVERIFY(choice->isHidden());
    // Neither Escape nor the window's close button ends a run.
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.close());
    QVERIFY(dialog.isVisible());

    Q_EMIT GcodeSerialMessage::instance()->setTestProgress(1);
    QTRY_COMPARE(dialog.findChild<QProgressBar *>()->value(), 33);
    if (!error.isEmpty())
        Q_EMIT InfoDialog::instance()->testError(error);
    Q_EMIT GcodeSerialMessage::instance()->allTestMSGsSent();
    QTRY_COMPARE(dialog.findChild<QProgressBar *>()->value(), 100);
    if (!error.isEmpty()) {
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("error_text"))->text(), error);
        QVERIFY(dialog.isVisible());
        QVERIFY(!choice->isHidden());
        QCOMPARE(okSend.count() + abort.count(), 0);
        QTest::mouseClick(choice, Qt::LeftButton);
    }
    QCOMPARE(okSend.count(), sends ? 1 : 0);
    QCOMPARE(abort.count(), sends ? 0 : 1);
    QVERIFY(!dialog.isVisible());
}

// Each line followed by "\n"; a failing read is shown, and the name is the path's last component.
void TstModeGcode::fileReaderAsync()
{
    MessageBoxCatcher boxes;
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("part.stl")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("solid part\r\n  facet normal 0 0 1\nendsolid");
    file.close();
    FileReaderAsync reader;
    QSignalSpy readed(&reader, &FileReaderAsync::fileReaded);
    reader.readFile(file.fileName());
    QCOMPARE(readed.count(), 1);
    QVERIFY(reader.isDone());
    QCOMPARE(reader.fileText(), QStringLiteral("solid part\n  facet normal 0 0 1\nendsolid\n"));
    QCOMPARE(reader.fileName(), QStringLiteral("part.stl"));
    QVERIFY(boxes.texts.isEmpty());

    reader.readFile(dir.filePath(QStringLiteral("gone.dxf")));
    QCOMPARE(boxes.texts, QStringList{QStringLiteral("File Error/No such file or directory")});
    QCOMPARE(reader.fileName(), QStringLiteral("gone.dxf"));
}

void TstModeGcode::playDuringRead_data()
{
    QTest::addColumn<QStringList>("clicks");   // buttons clicked while the file is being read
    QTest::addColumn<bool>("runs");
    QTest::newRow("play") << QStringList{"button_play_pause"} << true;
    QTest::newRow("play, pause") << QStringList{"button_play_pause", "button_play_pause"} << false;
    QTest::newRow("play three times") << QStringList{"button_play_pause", "button_play_pause", "button_play_pause"} << true;
    QTest::newRow("play, stop") << QStringList{"button_play_pause", "button_stop"} << false;
}

// Play waits for no read in an event loop of its own: however often it is pressed during the read,
// the program is queued once or not at all, and Stop leaves the mode idle.
void TstModeGcode::playDuringRead()
{
    QFETCH(QStringList, clicks);
    QFETCH(bool, runs);
    MainPage main;
    QVERIFY(main.connectToSimulator());
    Mode_Gcode *mode = main.gcode();
    QByteArray program;
    for (int i = 1; i <= 100000; ++i)
        program += "G1X" + QByteArray::number(i % 97) + "Y" + QByteArray::number(i % 89) + "F3000\n";
    int clickedWhileReading = 0;
    QTimer::singleShot(0, this, [&] {
        for (const QString &name : qAsConst(clicks)) {
            clickedWhileReading += mode->isReading() ? 1 : 0;
            main.click(qPrintable(name));
        }
    });
    mode->loadFile(main.writeFile(program));
    QCOMPARE(clickedWhileReading, clicks.size());
    if (runs) {
        QTRY_COMPARE_WITH_TIMEOUT(main.boxes.texts, QStringList{QStringLiteral("Mill/Milling process completed")}, 200000);
        QCOMPARE(main.received(), QString::fromLatin1(program).split(QLatin1Char('\n'), Qt::SkipEmptyParts));
    } else {
        QTest::qWait(200);
        QVERIFY(main.received().filter(QRegularExpression(QStringLiteral("^G1"))).isEmpty());
    }
    QVERIFY(!mode->isStarted());
    QVERIFY(mode->isPaused());
}

// A program that fails on every line: the reports collect in the info dialog's list, no modal dialog
// takes the window, and Stop ends the job in the middle of the flood.
void TstModeGcode::errorFloodKeepsStopWithinReach()
{
    MainPage main;
    QVERIFY(main.connectToSimulator());
    QByteArray program;
    for (int i = 1; i <= 5000; ++i)
        program += "G99X" + QByteArray::number(i) + "\n";
    // Left on, the first error would hold the job.
    auto *pauseOnError = main.gcode()->findChild<QCheckBox *>(QStringLiteral("checkBox_pause_on_error"));
    pauseOnError->setChecked(false);
    main.gcode()->loadFile(main.writeFile(program));
    const auto errors = [] { return InfoDialog::instance()->text().count(QStringLiteral("Error: ")); };
    QElapsedTimer clock;
    clock.start();
    main.click("button_play_pause");
    QTRY_VERIFY_WITH_TIMEOUT(errors() >= 1000, 60000);
    qInfo("1000 errors listed after %lld ms", clock.elapsed());
    QVERIFY(InfoDialog::instance()->isVisible());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QVERIFY(InfoDialog::instance()->text().contains(
        QStringLiteral("Error: Unsupported or invalid g-code command found in block.\nLine:1\nGcode: G99X1\n")));
    main.click("button_stop");
    QCOMPARE(main.window->pageStack()->currentIndex(), 0);
    QTRY_VERIFY(!main.gcode()->isStarted());
    const int listed = errors();
    QVERIFY2(listed < 5000, qPrintable(QString::number(listed)));
    QVERIFY(main.boxes.texts.isEmpty());
    InfoDialog::instance()->on_pushButton_clicked();
    pauseOnError->setChecked(true);
}

// Stop at random moments of a job: while the file is read, while it is queued, during a feed hold,
// during an EEPROM write. After the soft reset the controller receives nothing more of the job, and
// the mode is idle again. Every round connects anew.
void TstModeGcode::stopAtAnyMoment_data()
{
    QTest::addColumn<double>("motionTimeScale");
    QTest::addColumn<int>("rounds");
    // A reset while the machine moves costs GRBL's 500 ms alarm pause before its banner, so most rounds
    // run with motion that completes at once.
    QTest::newRow("instant motion") << 0.0 << 1000;
    QTest::newRow("moving") << 0.05 << 20;
}

void TstModeGcode::stopAtAnyMoment()
{
    QFETCH(double, motionTimeScale);
    QFETCH(int, rounds);
    GrblSimulator::Options options;
    options.motionTimeScale = motionTimeScale;
    options.bootMs = 10;   // later than the port's clearing after its open, which would swallow the banner
    MainPage main;
    QVERIFY(main.connectToSimulator(options));
    Mode_Gcode *mode = main.gcode();
    QByteArray program;
    for (int i = 1; i <= 1000; ++i) {
        program += "G1X0." + QByteArray::number(i % 2) + "Y0." + QByteArray::number(i % 3) + "F" + QByteArray::number(1000 + i) + "\n";
        if (i % 50 == 0)
            program += "$110=" + QByteArray::number(500 + i) + "\n";
    }
    const QString path = main.writeFile(program);
    const QRegularExpression jobLine(QStringLiteral("^(G1X|\\$110=)"));
    QRandomGenerator random(20261206);
    enum Moment { Reading, Queueing, Holding, WritingEeprom };
    for (int round = 0; round < rounds; ++round) {
        const auto moment = Moment(random.bounded(4));
        const int delayMs = int(random.bounded(moment == Queueing ? 4 : 30));
        const QString where = QStringLiteral("round %1, moment %2, %3 ms").arg(round).arg(moment).arg(delayMs);
        const int logStart = main.simulator->receivedLines().size();
        if (round > 0)
            QVERIFY2(main.reconnect(), qPrintable(where));
        QObject roundContext;   // timers and connections of this round end with it
        bool stopped = false;
        const auto stop = [&] {
            if (!stopped) {
                stopped = true;
                main.click("button_stop");
            }
        };
        if (moment == WritingEeprom) {
            connect(main.simulator.get(), &GrblSimulator::lineReceived, &roundContext, [&](const QString &line) {
                if (line.startsWith(QLatin1String("$110=")))
                    QTimer::singleShot(0, &roundContext, stop);
            });
        }
        if (moment == Reading) {
            QTimer::singleShot(0, &roundContext, [&] { main.click("button_play_pause"); });
            QTimer::singleShot(delayMs / 10, &roundContext, stop);
        }
        mode->loadFile(path);
        if (moment != Reading)
            main.click("button_play_pause");
        if (moment == Queueing)
            QTimer::singleShot(delayMs, &roundContext, stop);
        if (moment == Holding) {
            spinUntil([] { return false; }, delayMs);
            main.click("button_play_pause");
            spinUntil([] { return false; }, delayMs);
        } else {
            QVERIFY2(spinUntil([&] { return stopped || !mode->isStarted(); }, 30000), qPrintable(where));
        }
        stop();
        QCOMPARE(main.window->pageStack()->currentIndex(), 0);
        QVERIFY(spinUntil([&] { return !mode->isStarted(); }, 5000));
        // The connection holds its port until the controller has shown that it took the reset.
        QVERIFY2(spinUntil([&] { return main.closingConnectionGone(); }, 10000), qPrintable(where));
        const QStringList log = main.simulator->receivedLines().mid(logStart);
        const int reset = log.indexOf(QStringLiteral("<0x18>"));
        const QStringList afterReset = log.mid(std::max(reset, 0));
        QVERIFY2(afterReset.filter(jobLine).isEmpty(), qPrintable(where + QStringLiteral(": ") + afterReset.join(QLatin1Char('|'))));
    }
}

// 100,000 lines as real files have them: comments with umlauts, dashes, quotes and question marks,
// "\r\n" and "\r\r\n" line ends, blank lines, homing with a stored startup block (whose echo ">G21:ok"
// answers none of our lines); answers come in random chunks, and the job is held and resumed every
// 10,000 lines. Every line arrives once, in order, as GRBL reads it; nothing overflows; the job
// completes once, at its end. The expected lines come from a plain reading of the file of their own.
void TstModeGcode::soakOfRealWorldLines()
{
    GrblSimulator::Options options;
    options.chunkedAnswers = true;
    options.seed = 77;
    options.bootMs = 10;
    options.settings = {{22, 1}};
    MainPage main;
    QVERIFY(main.connectToSimulator(options));
    Mode_Gcode *mode = main.gcode();
    auto *input = mode->findChild<QLineEdit *>(QStringLiteral("input_user"));
    input->setText(QStringLiteral("$N0=G21"));
    QTest::keyClick(input, Qt::Key_Return);
    QVERIFY(spinUntil([&] { return main.window->connection()->sendQueue()->count() == 0; }, 10000));

    const QList<QByteArray> comments{" (Fr\xc3\xa4ser \xc3\x98" "3 mm \xe2\x80\x93 Schlitz)", " ; \xe2\x80\x9cPlatte\xe2\x80\x9d 3\xc3\x97" "4?",
                                     " (ok!)", " (T\xc3\xbcr zu? ~)", ""};
    const QList<QByteArray> lineEnds{"\r\n", "\r\r\n", "\n"};
    QByteArray file;
    QStringList expected;
    for (int i = 1; i <= 100000; ++i) {
        QByteArray line;
        if (i % 10000 == 5000)
            line = "$H";
        else if (i % 97 == 0)
            line = "";
        else
            line = "G1 X" + QByteArray::number(i % 200) + "." + QByteArray::number(i % 10) + " Y-" + QByteArray::number(i % 130)
                + " F" + QByteArray::number(1000 + i % 500) + comments.at(i % comments.size());
        file += line + lineEnds.at(i % lineEnds.size());
        expected << QString::fromUtf8(line).remove(QRegularExpression(QStringLiteral("\\(.*\\)|;.*$"))).trimmed();
    }
    mode->loadFile(main.writeFile(file));
    QCOMPARE(mode->program()->lineCount(), 100000);

    QObject holder;
    connect(GcodeSerialMessage::instance(), &GcodeSerialMessage::setProgress, &holder, [&](qint64 line) {
        if (line % 10000 == 0 && line < 100000 && mode->isStarted() && !mode->isPaused()) {
            main.click("button_play_pause");
            QTimer::singleShot(20, &holder, [&] { main.click("button_play_pause"); });
        }
    });
    main.click("button_play_pause");
    QVERIFY(spinUntil([&] { return !main.boxes.texts.isEmpty(); }, 600000));
    spinUntil([] { return false; }, 100);
    QCOMPARE(main.boxes.texts.size(), 1);

    QStringList received = main.received();
    received.removeAll(QStringLiteral("!"));
    received.removeAll(QStringLiteral("~"));
    QCOMPARE(received.value(0), QStringLiteral("$N0=G21"));
    QCOMPARE(received.mid(1), expected);
    QCOMPARE(main.simulator->receivedLines().count(QStringLiteral("!")), 9);
    QCOMPARE(main.simulator->overflowCount(), 0);
    QCOMPARE(InfoDialog::instance()->text(), QString());
}

QTEST_MAIN(TstModeGcode)
#include "tst_mode_gcode.moc"
