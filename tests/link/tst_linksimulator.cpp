#include "app/infodialog.h"
#include "app/mainwindow.h"
#include "link/gcodeserialmessage.h"
#include "link/sendqueue.h"
#include "link/serialport.h"
#include "link/serialportreader.h"
#include "tools/grblsim/grblsimulator.h"

#include <QPointer>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QtConcurrent>
#include <QtTest>

#include <memory>

// The connection end to end against the simulated controller on a pseudo-terminal. Answers to single
// lines (errors, alarms, the door message, a restarted controller) are tested byte for byte in tst_serialport.
class TestLinkSimulator : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<GrblSimulator> m_simulator;
    QPointer<SerialPort> m_link;
    QTemporaryDir m_dataHome;
    QThread m_controllerThread;

    // On its own thread the controller works on beside the program, as a real board does: what the
    // program writes just before it closes the port is still read.
    void startSimulator(const GrblSimulator::Options &options = {}, bool ownThread = false)
    {
        m_simulator = std::make_unique<GrblSimulator>(options);
        if (ownThread) {
            m_simulator->moveToThread(&m_controllerThread);
            m_controllerThread.start();
        }
        bool started = false;
        QMetaObject::invokeMethod(m_simulator.get(), [&] { started = m_simulator->start(); },
                                  ownThread ? Qt::BlockingQueuedConnection : Qt::DirectConnection);
        QVERIFY(started);
        qputenv("KORVEX_PORT", m_simulator->devicePath().toLocal8Bit());
    }

    void connectTo(bool unlockOnly, const GrblSimulator::Options &options = {})
    {
        startSimulator(options);
        m_link = new SerialPort;
        m_link->setUnlockOnly(unlockOnly);
        QVERIFY(m_link->connectToMachine());
    }

    void awaitStartup()
    {
        // A board restarts when its port is opened and announces itself; a banner printed before the
        // open went with the port's buffers, and a reset makes the controller announce itself again.
        if (!QTest::qWaitFor([this] { return m_link->reader()->isInitialised(); }, 3000))
            m_simulator->softReset();
        QTRY_VERIFY(m_link->reader()->isInitialised());
        QTRY_COMPARE_WITH_TIMEOUT(m_link->sendQueue()->count(), 0, 10000);
    }

    // Lines the simulator received after the start-up sequence, the connection's status polls aside.
    QStringList jobLines() const
    {
        QStringList lines = m_simulator->receivedLines();
        lines = lines.mid(lines.indexOf(QStringLiteral("$$")) + 1);
        lines.removeAll(QStringLiteral("?"));
        return lines;
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
        QFutureWatcher<void> watcher;
        QEventLoop loop;
        connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
        watcher.setFuture(QtConcurrent::run([link, lines] {
            for (int i = 0; i < lines.size(); ++i) {
                auto *message = new GcodeSerialMessage;
                message->setContent(lines.at(i) + QLatin1Char('\n'));
                message->setLineNumber(quint32(i + 1));
                message->setLast(i + 1 == lines.size());
                link->addMessageToWriterReader(message);
            }
        }));
        if (!watcher.isFinished())
            loop.exec();
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

    // The start-up sequence, the settings list it asks for, then a job queued from a worker. GRBL does
    // not serve its port while it writes its EEPROM: nothing may be sent meanwhile.
    void startupThenJob_data()
    {
        QTest::addColumn<bool>("unlockOnly");
        QTest::addColumn<QStringList>("startup");
        QTest::addColumn<QStringList>("job");
        QTest::addColumn<bool>("chunkedAnswers");
        QTest::addColumn<int>("eepromWriteMs");
        QTest::addColumn<double>("maxRateX");   // $110, 500 unless the job writes it
        QTest::newRow("calibrate, then a long job answered in chunks")
            << false << QStringList{"(PLV:Version)", "$H", "G92.1", "G0X0Y0Z0", "G92X0Y0Z0", "G0X175", "G0X72.5Y145", "M8", "$$"}
            << makeJob(5000) << true << -1 << 500.0;
        QTest::newRow("test mode, then settings writes in the job") << true << QStringList{"(PLV:Version)", "$X", "$$"}
            << makeJob(20) + QStringList{"$110=650"} + makeJob(20) + QStringList{"G10 L20 P1 X0"} + makeJob(20) << false << 40 << 650.0;
    }
    void startupThenJob()
    {
        QFETCH(bool, unlockOnly);
        QFETCH(QStringList, startup);
        QFETCH(QStringList, job);
        QFETCH(bool, chunkedAnswers);
        QFETCH(int, eepromWriteMs);
        QFETCH(double, maxRateX);
        GrblSimulator::Options options;
        options.chunkedAnswers = chunkedAnswers;
        options.seed = 11;
        options.eepromWriteMs = eepromWriteMs;
        options.settings = {{22, 1}};   // homing enabled, as on the Korvex board
        connectTo(unlockOnly, options);
        QSignalSpy settings(m_link->reader(), &SerialPortReader::settingsUpdate);
        QSignalSpy vendor(m_link->reader(), &SerialPortReader::usbMessage);
        awaitStartup();
        QStringList received = m_simulator->receivedLines();
        received.removeAll(QStringLiteral("<0x18>"));   // the test's own reset, if the banner needed one
        received.removeAll(QStringLiteral("?"));        // the connection's status polls
        QCOMPARE(received, startup);
        QVERIFY(m_link->sendQueue()->isVendorConfirmed());
        QTRY_COMPARE(settings.count(), 34);
        QCOMPARE(settings.at(0).at(0).toString(), QStringLiteral("$0"));
        QCOMPARE(settings.at(33).at(0).toString(), QStringLiteral("$132"));
        QCOMPARE(vendor.count(), 1);
        QVERIFY(vendor.at(0).at(0).toString().startsWith(QLatin1String("(PLV:")));

        QSignalSpy progress(GcodeSerialMessage::instance(), &GcodeSerialMessage::setProgress);
        QSignalSpy done(GcodeSerialMessage::instance(), &GcodeSerialMessage::allMSGsSent);
        streamFromWorker(job);
        QVERIFY(done.wait(60000));
        QCOMPARE(jobLines(), job);
        QCOMPARE(progress.count(), job.size());
        QCOMPARE(progress.last().at(0).toLongLong(), qint64(job.size()));
        QCOMPARE(m_simulator->overflowCount(), 0);
        QCOMPARE(m_simulator->droppedDuringEepromWrite(), 0);
        QCOMPARE(m_simulator->setting(110).toDouble(), maxRateX);
        QCOMPARE(m_link->sendQueue()->count(), 0);
        QCOMPARE(m_link->sendQueue()->sendBudget(), SendQueue::InitialBudget);
        QCOMPARE(InfoDialog::instance()->text(), QString());
    }

    // A feed hold in the middle of a job with a full receive buffer, then a burst of status polls and
    // the resume: real-time commands take no room in GRBL's buffer, so nothing overflows, every line
    // arrives once and the job completes.
    void holdAndPollsKeepTheBuffer()
    {
        GrblSimulator::Options options;
        options.motionTimeScale = 1.0;
        connectTo(true, options);
        awaitStartup();
        QStringList job;
        for (int i = 1; i <= 60; ++i)
            job << QStringLiteral("G1X%1Y%2F3000").arg(i % 2 * 0.5).arg(i % 3 * 0.1);
        QSignalSpy done(GcodeSerialMessage::instance(), &GcodeSerialMessage::allMSGsSent);
        streamFromWorker(job);
        QTRY_VERIFY(jobLines().size() > 10);
        m_link->addMessageStringToWriterReader(QStringLiteral("!\n"));
        for (int i = 0; i < 20; ++i)
            m_link->addMessageStringToWriterReader(QStringLiteral("?\n"));
        QTest::qWait(300);
        m_link->addMessageStringToWriterReader(QStringLiteral("~\n"));
        QVERIFY(done.wait(60000));
        QCOMPARE(jobLines().filter(QRegularExpression(QStringLiteral("^G1"))), job);
        QCOMPARE(m_simulator->overflowCount(), 0);
        QVERIFY(m_simulator->receivedLines().count(QStringLiteral("?")) >= 1);
        QCOMPARE(m_link->sendQueue()->sendBudget(), SendQueue::InitialBudget);
    }

    // A main window in test mode streams a long job; it ends by the start page or by a lost controller.
    // A lost port fails inside the send queue's locked write: the tear-down must not wait for that lock.
    void jobEnds_data()
    {
        QTest::addColumn<bool>("cablePulled");
        QTest::newRow("start page") << false;
        QTest::newRow("controller lost") << true;
    }
    void jobEnds()
    {
        QFETCH(bool, cablePulled);
        MainWindow window;
        startSimulator({}, !cablePulled);
        window.on_TestUnlock_clicked();
        m_link = window.connection();
        QVERIFY(m_link && m_link->isConnected());
        awaitStartup();
        QSignalSpy progress(GcodeSerialMessage::instance(), &GcodeSerialMessage::setProgress);
        streamFromWorker(makeJob(5000));
        QTRY_VERIFY(progress.count() > 100);
        QCOMPARE(window.pageStack()->currentIndex(), 1);
        if (cablePulled)
            m_simulator->stop();
        else
            window.showStartPage();
        QTRY_VERIFY(!m_link);
        QCOMPARE(window.pageStack()->currentIndex(), 0);
        QCOMPARE(window.connection(), nullptr);
        QVERIFY(jobLines().size() < 5000);
        const QString info = InfoDialog::instance()->text();
        if (cablePulled) {
            QVERIFY2(info.startsWith(QLatin1String("USB connection closed ")) && info.size() > 23 && info.endsWith(QLatin1Char('\n')),
                     qPrintable(info));
            return;
        }
        // Nothing of the job follows the soft reset, and the banner answering it is no restart.
        QTRY_VERIFY2(m_simulator->receivedLines().contains(QStringLiteral("<0x18>")),
                     qPrintable(m_simulator->receivedLines().mid(m_simulator->receivedLines().size() - 8).join(QLatin1Char('|'))));
        const QStringList lines = m_simulator->receivedLines();
        QVERIFY(lines.mid(lines.lastIndexOf(QStringLiteral("<0x18>"))).filter(QRegularExpression(QStringLiteral("^G1"))).isEmpty());
        QCOMPARE(info, QString());
    }
};

QTEST_MAIN(TestLinkSimulator)
#include "tst_linksimulator.moc"
