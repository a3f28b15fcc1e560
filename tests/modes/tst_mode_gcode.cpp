#include "app/mainwindow.h"
#include "link/gcodeserialmessage.h"
#include "link/serialport.h"
#include "link/serialportreader.h"
#include "modes/interface.h"
#include "modes/mode_gcode.h"
#include "tests/modes/messageboxcatcher.h"
#include "tools/grblsim/grblsimulator.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QtTest>

#include <memory>

class TstModeGcode : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void progressAndCompletion_data();
    void progressAndCompletion();
    void pauseSendsFeedHoldAndResumeCycleStart();
    void lineLength_data();
    void lineLength();
    void reopeningUnchangedFileDoesNothing();
    void manualCommandPollsUntilPositionStandsStill();
    void largeProgramArrivesOnceAndInOrder();
    void stopWhileQueueingLargeProgram();
    void badInput_data();
    void badInput();

private:
    bool connectToSimulator(const GrblSimulator::Options &options = GrblSimulator::Options());
    QString writeFile(const QByteArray &content, const QString &name = QStringLiteral("job.nc"));
    QStringList programLinesReceived() const;
    void click(const char *name);
    QString topBarText() const;

    QTemporaryDir m_dataHome;
    QTemporaryDir m_files;
    std::unique_ptr<GrblSimulator> m_simulator;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<MessageBoxCatcher> m_boxes;
    Mode_Gcode *m_mode = nullptr;
    int m_linesBeforeProgram = 0;
};

void TstModeGcode::initTestCase()
{
    QVERIFY(m_dataHome.isValid());
    qputenv("XDG_DATA_HOME", m_dataHome.path().toUtf8());
}

void TstModeGcode::cleanup()
{
    m_boxes.reset();
    m_window.reset();
    m_simulator.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Test mode on the simulated controller, G-code mode shown; generous waits for sanitizer builds.
bool TstModeGcode::connectToSimulator(const GrblSimulator::Options &options)
{
    m_simulator = std::make_unique<GrblSimulator>(options);
    if (!m_simulator->start())
        return false;
    m_window = std::make_unique<MainWindow>();
    m_boxes = std::make_unique<MessageBoxCatcher>();
    qputenv("KORVEX_PORT", m_simulator->devicePath().toUtf8());
    QTest::mouseClick(m_window->findChild<QPushButton *>(QStringLiteral("TestUnlock")), Qt::LeftButton);
    qunsetenv("KORVEX_PORT");
    if (!m_window->connection()->isConnected())
        return false;
    // The board announces itself when its port is opened; should that banner be lost, a reset repeats it.
    const auto startedUp = [this] { return m_simulator->receivedLines().contains(QStringLiteral("$$")); };
    if (!QTest::qWaitFor(startedUp, 2000))
        m_simulator->softReset();
    if (!QTest::qWaitFor(startedUp, 30000))
        return false;
    m_mode = m_window->mainPage()->findChild<Mode_Gcode *>();
    click("button_gcode");
    if (!QTest::qWaitFor([this] { return m_simulator->receivedLines().contains(QStringLiteral("?")); }, 30000))
        return false;
    QTest::qWait(50);
    m_linesBeforeProgram = m_simulator->receivedLines().size();
    return true;
}

QString TstModeGcode::writeFile(const QByteArray &content, const QString &name)
{
    QFile file(m_files.filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(content);
    return file.fileName();
}

QStringList TstModeGcode::programLinesReceived() const
{
    return m_simulator->receivedLines().mid(m_linesBeforeProgram);
}

void TstModeGcode::click(const char *name)
{
    QTest::mouseClick(m_window->mainPage()->findChild<QPushButton *>(QLatin1String(name)), Qt::LeftButton);
}

QString TstModeGcode::topBarText() const
{
    return m_window->mainPage()->findChild<QPushButton *>(QStringLiteral("button_time"))->text();
}

void TstModeGcode::progressAndCompletion_data()
{
    QTest::addColumn<QByteArray>("program");
    QTest::addColumn<QString>("afterFirstAnswer");
    QTest::newRow("one line") << QByteArray("G1X10F100\n") << QStringLiteral("100%");
    QTest::newRow("three lines") << QByteArray("G1X10F100\nG1X5\nG1X0\n") << QStringLiteral("33%");
}

void TstModeGcode::progressAndCompletion()
{
    QFETCH(QByteArray, program);
    QFETCH(QString, afterFirstAnswer);
    QVERIFY(connectToSimulator());
    m_mode->loadFile(writeFile(program));

    QString shownAfterFirst;
    connect(GcodeSerialMessage::instance(), &GcodeSerialMessage::setProgress, m_mode, [&](qint64 line) {
        if (line == 1)
            shownAfterFirst = topBarText();
    });
    click("button_play_pause");
    QTRY_COMPARE_WITH_TIMEOUT(m_boxes->texts(), QStringList{QStringLiteral("Mill/Milling process completed")}, 30000);
    disconnect(GcodeSerialMessage::instance(), nullptr, m_mode, nullptr);
    GcodeSerialMessage::registerGcodeMode(m_mode);

    QCOMPARE(shownAfterFirst, afterFirstAnswer);
    QCOMPARE(topBarText(), QStringLiteral("100%"));
    QCOMPARE(programLinesReceived(), QString::fromLatin1(program).split(QLatin1Char('\n'), Qt::SkipEmptyParts));
    QVERIFY(m_mode->isPaused());
    QVERIFY(!m_mode->isStarted());
    QVERIFY(m_mode->findChild<QLineEdit *>(QStringLiteral("input_user"))->isEnabled());
    QVERIFY(m_mode->findChild<QPushButton *>(QStringLiteral("button_file"))->isEnabled());
}

void TstModeGcode::pauseSendsFeedHoldAndResumeCycleStart()
{
    GrblSimulator::Options options;
    options.motionTimeScale = 1.0;
    QVERIFY(connectToSimulator(options));
    // More slow moves than the planner holds, so the job is still running when it is paused.
    QByteArray program;
    for (int i = 0; i < 20; ++i)
        program += "G1X1F60\nG1X0\n";
    m_mode->loadFile(writeFile(program));

    click("button_play_pause");
    QTRY_VERIFY(programLinesReceived().contains(QStringLiteral("G1X1F60")));
    QTest::qWait(100);
    QVERIFY(m_mode->isStarted());
    QCOMPARE(m_window->mainPage()->findChild<QPushButton *>(QStringLiteral("button_play_pause"))->text(),
             QStringLiteral("pause"));

    click("button_play_pause");
    QTRY_VERIFY(programLinesReceived().contains(QStringLiteral("!")));
    QVERIFY(m_mode->isPaused());
    QVERIFY(!programLinesReceived().contains(QStringLiteral("~")));
    click("button_play_pause");
    QTRY_VERIFY(programLinesReceived().contains(QStringLiteral("~")));
    QVERIFY(!m_mode->isPaused());
    QVERIFY(programLinesReceived().indexOf(QStringLiteral("!")) < programLinesReceived().indexOf(QStringLiteral("~")));
    QCOMPARE(programLinesReceived().count(QStringLiteral("!")), 1);
    QCOMPARE(programLinesReceived().count(QStringLiteral("~")), 1);
    QVERIFY(m_boxes->shown.isEmpty());
}

void TstModeGcode::lineLength_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("error");
    const QString seventy = QStringLiteral("G1X1F100 (") + QString(59, QLatin1Char('a')) + QLatin1Char(')');
    const QString seventyOne = QStringLiteral("G1X1F100 (") + QString(60, QLatin1Char('a')) + QLatin1Char(')');
    QTest::newRow("70 characters") << 70 << QString();
    QTest::newRow("71 characters")
        << 71 << QStringLiteral("File Error/This line:") + seventyOne + QStringLiteral(" is too long max 70 chars per line");
}

void TstModeGcode::lineLength()
{
    QFETCH(int, length);
    QFETCH(QString, error);
    QVERIFY(connectToSimulator());
    m_mode->loadFile(writeFile("G0X1\n"));
    QCOMPARE(m_mode->program().size(), 1);

    const QByteArray line = "G1X1F100 (" + QByteArray(length - 11, 'a') + ")";
    QCOMPARE(line.size(), length);
    m_mode->loadFile(writeFile("G0X2\n" + line + "\nG0X3\n", QStringLiteral("long.nc")));
    if (error.isEmpty()) {
        QVERIFY(m_boxes->shown.isEmpty());
        QCOMPARE(m_mode->program(), (QStringList{"G0X2", QString::fromLatin1(line), "G0X3"}));
        return;
    }
    QCOMPARE(m_boxes->texts(), QStringList{error});
    QVERIFY(m_mode->program().isEmpty());
    click("button_play_pause");
    QCOMPARE(m_boxes->texts().last(), QStringLiteral("info/First select a file"));
    QVERIFY(m_mode->isPaused());
    QTest::qWait(100);
    QVERIFY(programLinesReceived().isEmpty());
}

void TstModeGcode::reopeningUnchangedFileDoesNothing()
{
    QVERIFY(connectToSimulator());
    const QString path = writeFile("G0X1\n");
    m_mode->loadFile(path);
    const QDateTime modified = QFileInfo(path).lastModified();

    // Same size, same time stamp: taken as the same file.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    file.write("G0X7\n");
    QVERIFY(file.flush());
    QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
    file.close();
    m_mode->loadFile(path);
    QCOMPARE(m_mode->program(), QStringList{QStringLiteral("G0X1")});

    m_mode->reset();
    m_mode->loadFile(path);
    QCOMPARE(m_mode->program(), QStringList{QStringLiteral("G0X7")});
}

void TstModeGcode::manualCommandPollsUntilPositionStandsStill()
{
    GrblSimulator::Options options;
    options.motionTimeScale = 1.0;
    QVERIFY(connectToSimulator(options));
    auto *input = m_mode->findChild<QLineEdit *>(QStringLiteral("input_user"));
    auto *history = m_mode->findChild<QTextBrowser *>(QStringLiteral("textBrowser_2"));
    auto *labelX = m_mode->findChild<QLabel *>(QStringLiteral("label_x"));
    // Normally made by the hub; unique, so a hub that made it already is not doubled.
    connect(m_window->connection()->reader(), &SerialPortReader::updatePosition, m_mode, &Mode_Gcode::updatePosition,
            Qt::UniqueConnection);

    input->setText(QStringLiteral("G0 X10"));
    QTest::keyClick(input, Qt::Key_Return);
    QVERIFY(input->text().isEmpty());
    QCOMPARE(history->toPlainText(), QStringLiteral("G0 X10\n"));
    QTRY_VERIFY(programLinesReceived().contains(QStringLiteral("G0 X10")));
    const QStringList sent = programLinesReceived();
    QCOMPARE(sent.mid(0, 3), (QStringList{"~", "", "G0 X10"}));

    QTRY_COMPARE_WITH_TIMEOUT(labelX->text(), QStringLiteral("10.000"), 15000);
    const auto polls = [this] { return programLinesReceived().count(QStringLiteral("?")); };
    // One more report with the same coordinates ends the polling.
    const int pollsWhenArrived = polls();
    QTRY_COMPARE_WITH_TIMEOUT(polls(), pollsWhenArrived + 1, 5000);
    QTest::qWait(1200);
    QCOMPARE(polls(), pollsWhenArrived + 1);
    QVERIFY(polls() >= 3);

    input->setText(QStringLiteral("G0 X0"));
    QTest::keyClick(input, Qt::Key_Return);
    QCOMPARE(history->toPlainText(), QStringLiteral("G0 X0\nG0 X10\n"));
}

void TstModeGcode::largeProgramArrivesOnceAndInOrder()
{
    QVERIFY(connectToSimulator());
    QByteArray program;
    QStringList expected;
    for (int i = 1; i <= 20000; ++i) {
        const QByteArray line = "G1X" + QByteArray::number(i % 200) + "Y" + QByteArray::number(i / 200) + "F3000 (" + QByteArray::number(i) + ")";
        program += line + '\n';
        expected << QString::fromLatin1(line);
    }
    m_mode->loadFile(writeFile(program));
    QCOMPARE(m_mode->program().size(), 20000);

    click("button_play_pause");
    QTRY_COMPARE_WITH_TIMEOUT(m_boxes->texts(), QStringList{QStringLiteral("Mill/Milling process completed")}, 100000);
    QCOMPARE(programLinesReceived(), expected);
    QCOMPARE(topBarText(), QStringLiteral("100%"));
    QCOMPARE(m_simulator->overflowCount(), 0);
}

void TstModeGcode::stopWhileQueueingLargeProgram()
{
    QVERIFY(connectToSimulator());
    QByteArray program;
    for (int i = 0; i < 300000; ++i)
        program += "G1X" + QByteArray::number(i % 100) + "F3000\n";
    m_mode->loadFile(writeFile(program));

    bool stopClickedWhileQueueing = false;
    QTimer::singleShot(30, this, [&] {
        stopClickedWhileQueueing = m_mode->isStarted();
        click("button_stop");
    });
    click("button_play_pause");
    QVERIFY(stopClickedWhileQueueing);
    QTRY_VERIFY(!m_mode->isStarted());
    QCOMPARE(m_window->pageStack()->currentIndex(), 0);
    QVERIFY(m_mode->isPaused());
    QCOMPARE(m_mode->serialPort(), static_cast<SerialPort *>(nullptr));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // Lines already in the controller's buffer are still taken in; nothing follows them.
    QTest::qWait(300);
    const int received = programLinesReceived().size();
    QVERIFY(received < 300000);
    QTest::qWait(300);
    QCOMPARE(programLinesReceived().size(), received);
}

void TstModeGcode::badInput_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("errorPrefix");
    QTest::addColumn<int>("lines");
    QTest::newRow("binary") << "binary" << "File Error/This line:" << 0;
    QTest::newRow("2 GB sparse") << "sparse" << "File Error/This line:" << 0;
    QTest::newRow("empty") << "empty" << QString() << 0;
    QTest::newRow("deleted before reading") << "deleted" << "File Error/No such file or directory" << 1;
    QTest::newRow("not UTF-8") << "latin1" << QString() << 2;
    QTest::newRow("windows line ends") << "crlf" << QString() << 3;
}

void TstModeGcode::badInput()
{
    QFETCH(QString, kind);
    QFETCH(QString, errorPrefix);
    QFETCH(int, lines);
    QVERIFY(connectToSimulator());
    m_mode->loadFile(writeFile("G0X1\n", QStringLiteral("previous.nc")));

    QString path = m_files.filePath(kind);
    if (kind == QLatin1String("binary")) {
        QByteArray bytes;
        for (int i = 0; i < 4096; ++i)
            bytes += char((i * 7) % 256);
        path = writeFile(bytes, kind);
    } else if (kind == QLatin1String("sparse")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(qint64(2) << 30));
    } else if (kind == QLatin1String("empty")) {
        path = writeFile(QByteArray(), kind);
    } else if (kind == QLatin1String("latin1")) {
        path = writeFile("G0X1 (\xe4\xf6\xfc)\n(\xff\xfe)\n", kind);
    } else if (kind == QLatin1String("crlf")) {
        path = writeFile("G0X1\r\nG0X2\r\n\r\n", kind);
    }

    bool windowRanDuringRead = false;
    bool reading = true;
    QTimer::singleShot(0, this, [&] { windowRanDuringRead = reading; });
    m_mode->loadFile(path);
    reading = false;

    QVERIFY(windowRanDuringRead);
    if (errorPrefix.isEmpty())
        QVERIFY(m_boxes->shown.isEmpty());
    else
        QVERIFY(m_boxes->texts().value(0).startsWith(errorPrefix));
    QCOMPARE(m_mode->program().size(), lines);
    for (const QString &line : m_mode->program())
        QVERIFY(!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')));
    QTest::qWait(100);
    QVERIFY(programLinesReceived().isEmpty());
}

QTEST_MAIN(TstModeGcode)
#include "tst_mode_gcode.moc"
