#include "app/infodialog.h"
#include "app/mainwindow.h"
#include "link/gcodeserialmessage.h"
#include "link/sendqueue.h"
#include "link/serialport.h"
#include "link/serialportreader.h"
#include "tools/grblsim/grblsimulator.h"

#include <QPointer>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QSignalSpy>
#include <QtConcurrent>
#include <QtTest>

#include <memory>

// The connection end to end against the simulated controller on a pseudo-terminal.
class TestLinkSimulator : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<GrblSimulator> m_simulator;
    QPointer<SerialPort> m_link;
    QTemporaryDir m_dataHome;
    QThread m_controllerThread;

    void startSimulator(const GrblSimulator::Options &options = {})
    {
        m_simulator = std::make_unique<GrblSimulator>(options);
        QVERIFY(m_simulator->start());
        qputenv("KORVEX_PORT", m_simulator->devicePath().toLocal8Bit());
    }

    void connectTo(bool unlockOnly, const GrblSimulator::Options &options = {})
    {
        startSimulator(options);
        m_link = new SerialPort;
        m_link->setUnlockOnly(unlockOnly);
        QVERIFY(m_link->connectToMachine());
        awaitStartup();
    }

    void awaitStartup()
    {
        // A board restarts when its port is opened and announces itself; a banner printed before the
        // open went with the port's buffers, and a reset makes the controller announce itself again.
        if (!QTest::qWaitFor([this] { return m_link->reader()->isInitialised(); }, 1000))
            m_simulator->softReset();
        QTRY_VERIFY(m_link->reader()->isInitialised());
        QTRY_COMPARE_WITH_TIMEOUT(m_link->sendQueue()->count(), 0, 10000);
    }

    // Lines the simulator received after the start-up sequence.
    QStringList jobLines() const
    {
        QStringList lines = m_simulator->receivedLines();
        return lines.mid(lines.indexOf(QStringLiteral("$$")) + 1);
    }

    static QStringList makeJob(int count)
    {
        QStringList lines;
        for (int i = 1; i <= count; ++i)
            lines << QStringLiteral("G1X%1Y%2Z-0.%3F%4").arg(i % 150).arg((i * 7) % 140).arg(i % 10).arg(300 + i % 200);
        return lines;
    }

    // As the G-code mode does it: the lines are queued from a worker while the GUI thread keeps running.
    void streamFromWorker(const QStringList &lines)
    {
        SerialPort *link = m_link;
        QFuture<void> filling = QtConcurrent::run([link, lines] {
            for (int i = 0; i < lines.size(); ++i) {
                auto *message = new GcodeSerialMessage;
                message->setContent(lines.at(i) + QLatin1Char('\n'));
                message->setLineNumber(quint32(i + 1));
                message->setLast(i + 1 == lines.size());
                link->addMessageToWriterReader(message);
            }
        });
        QFutureWatcher<void> watcher;
        QEventLoop loop;
        connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
        watcher.setFuture(filling);
        if (!filling.isFinished())
            loop.exec();
    }

    // A main window in test mode on the simulator, streaming a long job.
    // The controller works on beside the program, as a real board does: what the program writes just
    // before it closes the port is still read.
    void startSimulatorOnItsOwnThread()
    {
        m_simulator = std::make_unique<GrblSimulator>();
        m_simulator->moveToThread(&m_controllerThread);
        m_controllerThread.start();
        bool started = false;
        QMetaObject::invokeMethod(m_simulator.get(), [&] { started = m_simulator->start(); }, Qt::BlockingQueuedConnection);
        QVERIFY(started);
        qputenv("KORVEX_PORT", m_simulator->devicePath().toLocal8Bit());
    }

    void streamThroughMainWindow(MainWindow &window, bool controllerOnItsOwnThread)
    {
        if (controllerOnItsOwnThread)
            startSimulatorOnItsOwnThread();
        else
            startSimulator();
        window.on_TestUnlock_clicked();
        m_link = window.connection();
        QVERIFY(m_link && m_link->isConnected());
        awaitStartup();
        QSignalSpy progress(GcodeSerialMessage::instance(), &GcodeSerialMessage::setProgress);
        streamFromWorker(makeJob(5000));
        QTRY_VERIFY(progress.count() > 100);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dataHome.isValid());
        qputenv("XDG_DATA_HOME", m_dataHome.path().toLocal8Bit());
    }
    void init() { InfoDialog::instance()->on_pushButton_clicked(); }
    void cleanup()
    {
        delete m_link;
        if (m_controllerThread.isRunning()) {
            GrblSimulator *simulator = m_simulator.release();
            QMetaObject::invokeMethod(simulator, [simulator] { delete simulator; }, Qt::BlockingQueuedConnection);
            m_controllerThread.quit();
            m_controllerThread.wait();
        }
        m_simulator.reset();
        qunsetenv("KORVEX_PORT");
        InfoDialog::instance()->on_pushButton_clicked();
    }

    void startupSequence_data()
    {
        QTest::addColumn<bool>("unlockOnly");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("calibrate") << false
                                   << QStringList{"(PLV:Version)", "$H", "G92.1", "G0X0Y0Z0", "G92X0Y0Z0",
                                                  "G0X175", "G0X72.5Y145", "M8", "$$"};
        QTest::newRow("test") << true << QStringList{"(PLV:Version)", "$X", "$$"};
    }
    void startupSequence()
    {
        QFETCH(bool, unlockOnly);
        QFETCH(QStringList, lines);
        connectTo(unlockOnly);
        QStringList received = m_simulator->receivedLines();
        received.removeAll(QStringLiteral("<0x18>"));   // the test's own reset, if the banner needed one
        QCOMPARE(received, lines);
        QVERIFY(m_link->sendQueue()->isVendorConfirmed());
        QCOMPARE(m_link->sendQueue()->sendBudget(), SendQueue::InitialBudget);
    }

    void settingsListReachesTheSettingsPage()
    {
        startSimulator();
        m_link = new SerialPort;
        m_link->setUnlockOnly(true);
        QVERIFY(m_link->connectToMachine());
        QSignalSpy settings(m_link->reader(), &SerialPortReader::settingsUpdate);
        QSignalSpy vendor(m_link->reader(), &SerialPortReader::usbMessage);
        awaitStartup();
        QTRY_COMPARE(settings.count(), 34);
        QCOMPARE(settings.at(0).at(0).toString(), QStringLiteral("$0"));
        QCOMPARE(settings.at(33).at(0).toString(), QStringLiteral("$132"));
        QCOMPARE(vendor.count(), 1);
        QVERIFY(vendor.at(0).at(0).toString().startsWith(QLatin1String("(PLV:")));
    }

    void jobArrivesOnceAndInOrder()
    {
        GrblSimulator::Options options;
        options.chunkedAnswers = true;
        options.seed = 11;
        connectTo(true, options);
        QSignalSpy progress(GcodeSerialMessage::instance(), &GcodeSerialMessage::setProgress);
        QSignalSpy done(GcodeSerialMessage::instance(), &GcodeSerialMessage::allMSGsSent);
        const QStringList job = makeJob(5000);
        streamFromWorker(job);
        QVERIFY(done.wait(60000));
        QCOMPARE(jobLines(), job);
        QCOMPARE(progress.count(), job.size());
        QCOMPARE(progress.last().at(0).toLongLong(), qint64(job.size()));
        QCOMPARE(m_simulator->overflowCount(), 0);
        QCOMPARE(m_link->sendQueue()->count(), 0);
        QCOMPARE(m_link->sendQueue()->sendBudget(), SendQueue::InitialBudget);
        QCOMPARE(InfoDialog::instance()->text(), QString());
    }

    void errorNamesItsLine()
    {
        connectTo(true);
        streamFromWorker({"G21", "G90", "G0X1", "G0Y1", "G0Z1", "G0X2", "G1X10", "G1X11F100"});
        QTRY_COMPARE(m_link->sendQueue()->count(), 0);
        QCOMPARE(InfoDialog::instance()->text(),
                 QStringLiteral("Error: Feed rate has not yet been set or is undefined.\nLine:7\nGcode: G1X10\n"));
    }

    void alarmIsRaised()
    {
        connectTo(true);
        QSignalSpy alarm(m_link->reader(), &SerialPortReader::Alarm);
        m_simulator->triggerHardLimit();
        QVERIFY(alarm.wait());
        QVERIFY(InfoDialog::instance()->text().startsWith(QLatin1String("Hard limit triggered.")));
    }

    void restartedControllerIsReported()
    {
        connectTo(true);
        QSignalSpy alarm(m_link->reader(), &SerialPortReader::Alarm);
        m_simulator->softReset();
        QVERIFY(alarm.wait());
        QCOMPARE(InfoDialog::instance()->text(), QStringLiteral("Init Failed: Re-Unlock \n"));
    }

    void openedDoorPausesTheJob()
    {
        connectTo(true);
        QSignalSpy pause(InfoDialog::instance(), &InfoDialog::allPause);
        m_simulator->setDoorOpen(true);
        QVERIFY(pause.wait());
    }

    void lostControllerIsReported()
    {
        connectTo(true);
        QSignalSpy progress(GcodeSerialMessage::instance(), &GcodeSerialMessage::setProgress);
        streamFromWorker(makeJob(5000));
        QTRY_VERIFY(progress.count() > 100);
        m_simulator->stop();
        QTRY_VERIFY(!m_link->isConnected());
        QVERIFY(InfoDialog::instance()->text().startsWith(QLatin1String("USB connection closed ")));
        QVERIFY(m_link->sendQueue()->count() > 0);
        delete m_link;
    }

    void startPageMidJobResetsAndDropsTheRest()
    {
        MainWindow window;
        streamThroughMainWindow(window, true);
        window.showStartPage();
        QTRY_VERIFY(!m_link);
        QCOMPARE(window.connection(), nullptr);
        QTRY_VERIFY(m_simulator->receivedLines().contains(QStringLiteral("<0x18>")));
        const QStringList lines = m_simulator->receivedLines();
        const QStringList afterReset = lines.mid(lines.lastIndexOf(QStringLiteral("<0x18>")));
        QVERIFY(afterReset.filter(QRegularExpression(QStringLiteral("^G1"))).isEmpty());
        QVERIFY(jobLines().size() < 5000);
        QCOMPARE(InfoDialog::instance()->text(), QString());
    }

    void lostControllerReturnsToStartPage()
    {
        MainWindow window;
        streamThroughMainWindow(window, false);
        QCOMPARE(window.pageStack()->currentIndex(), 1);
        m_simulator->stop();
        QTRY_VERIFY(!m_link);
        QCOMPARE(window.pageStack()->currentIndex(), 0);
        QCOMPARE(window.connection(), nullptr);
        QVERIFY(InfoDialog::instance()->text().startsWith(QLatin1String("USB connection closed ")));
    }

    void settingsWriteIsNotTalkedOver()
    {
        GrblSimulator::Options options;
        options.eepromWriteMs = 40;
        connectTo(true, options);
        QStringList job = makeJob(20);
        job << QStringLiteral("$110=500") << makeJob(20) << QStringLiteral("G10 L20 P1 X0") << makeJob(20);
        QSignalSpy done(GcodeSerialMessage::instance(), &GcodeSerialMessage::allMSGsSent);
        streamFromWorker(job);
        QVERIFY(done.wait(20000));
        QCOMPARE(m_simulator->droppedDuringEepromWrite(), 0);
        QCOMPARE(jobLines(), job);
        QCOMPARE(m_simulator->setting(110).toDouble(), 500.0);
        QVERIFY(InfoDialog::instance()->text().isEmpty());
    }
};

QTEST_MAIN(TestLinkSimulator)
#include "tst_linksimulator.moc"
