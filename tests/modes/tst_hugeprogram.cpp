#include "app/mainwindow.h"
#include "link/gcodeserialmessage.h"
#include "link/sendqueue.h"
#include "link/serialport.h"
#include "link/serialportreader.h"
#include "modes/interface.h"
#include "modes/mode_gcode.h"
#include "tests/modes/mainpage.h"
#include "toolpath/gcodeprogram.h"

#include <QFile>
#include <QProcess>

namespace {
// Resident memory of this process, in MB.
double residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1.0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1.0;
}

// A carving job's shape: every line a feed move to its own point, about 27 bytes a line.
QByteArray programLine(qint64 i)
{
    return "G1X" + QByteArray::number(i % 1000 / 10.0, 'f', 2) + "Y" + QByteArray::number(i / 1000 % 1000 / 10.0, 'f', 2)
        + "Z-" + QByteArray::number(i % 7 / 10.0, 'f', 1) + "F2000";
}

bool writeProgram(const QString &path, qint64 lines)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk;
    for (qint64 i = 1; i <= lines; ++i) {
        chunk += programLine(i) + '\n';
        if (chunk.size() > (1 << 20)) {
            file.write(chunk);
            chunk.clear();
        }
    }
    return file.write(chunk) == chunk.size();
}

// The simulated controller as a program of its own, so that its records of what arrived take none of
// this process's memory; its log of every received line is the oracle.
class ControllerProcess
{
public:
    bool start()
    {
        m_process.start(QStringLiteral(GRBLSIM_PROGRAM),
                        {QStringLiteral("--link"), link(), QStringLiteral("--log"), log(), QStringLiteral("--boot-ms"),
                         QStringLiteral("50")});
        return m_process.waitForStarted() && spinUntil([this] { return QFile::exists(link()); }, 10000);
    }
    ~ControllerProcess()
    {
        m_process.terminate();
        m_process.waitForFinished();
    }
    QString link() const { return m_dir.filePath(QStringLiteral("tty")); }
    QString log() const { return m_dir.filePath(QStringLiteral("received.log")); }
    QString file(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

bool connectInTestMode(MainPage &main, const ControllerProcess &controller)
{
    qputenv("KORVEX_PORT", controller.link().toUtf8());
    main.click("button_gcode");
    QTest::mouseClick(main.window->findChild<QPushButton *>(QStringLiteral("TestUnlock")), Qt::LeftButton);
    qunsetenv("KORVEX_PORT");
    SerialPort *link = main.window->connection();
    return link && link->isConnected()
        && spinUntil([link] { return link->reader()->isInitialised() && link->sendQueue()->count() == 0; }, 30000);
}
}

// Programs of millions of lines: the G-code mode holds them compactly, makes their messages as the
// queue drains, and gives everything back on Stop.
class TestHugeProgram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Stop part-way through a job of a million lines: the window's memory comes back to within 10 %
    // of where it was before the file was loaded.
    void stopFreesTheMemory()
    {
        ControllerProcess controller;
        QVERIFY(controller.start());
        QVERIFY(writeProgram(controller.file(QStringLiteral("million.nc")), 1000000));
        MainPage main;
        QVERIFY(connectInTestMode(main, controller));
        qint64 answered = 0;
        QObject listener;
        connect(GcodeSerialMessage::instance(), &GcodeSerialMessage::setProgress, &listener, [&](qint64 line) { answered = line; });
        // A small job first, so that what the first job of a session sets up once is in the baseline.
        QVERIFY(writeProgram(controller.file(QStringLiteral("small.nc")), 1000));
        main.gcode()->loadFile(controller.file(QStringLiteral("small.nc")));
        main.click("button_play_pause");
        QVERIFY(spinUntil([&] { return !main.boxes.texts.isEmpty(); }, 60000));
        spinUntil([] { return false; }, 200);
        const double before = residentMegabytes();
        main.gcode()->loadFile(controller.file(QStringLiteral("million.nc")));
        QCOMPARE(main.gcode()->program()->lineCount(), 1000000);
        main.click("button_play_pause");
        QVERIFY(spinUntil([&] { return answered > 20000; }, 60000));
        const double during = residentMegabytes();
        main.click("button_stop");
        QVERIFY(spinUntil([&] { return main.closingConnectionGone() && !main.gcode()->program(); }, 10000));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        spinUntil([] { return false; }, 200);
        const double after = residentMegabytes();
        qInfo("resident memory: %.1f MB before loading, %.1f MB while running, %.1f MB after Stop", before, during, after);
        QVERIFY2(after <= before * 1.1, qPrintable(QStringLiteral("%1 MB after, %2 MB before").arg(after).arg(before)));
    }

    // Ten million lines through the simulated controller with instant answers: its log shows every
    // line arriving once, in order.
    void tenMillionLinesStreamOnce()
    {
        const qint64 lines = 10000000;
        ControllerProcess controller;
        QVERIFY(controller.start());
        QVERIFY(writeProgram(controller.file(QStringLiteral("ten-million.nc")), lines));
        MainPage main;
        QVERIFY(connectInTestMode(main, controller));
        main.gcode()->loadFile(controller.file(QStringLiteral("ten-million.nc")));
        QElapsedTimer clock;
        clock.start();
        main.click("button_play_pause");
        QVERIFY(spinUntil([&] { return !main.boxes.texts.isEmpty(); }, 3600 * 1000));
        qInfo("%lld lines streamed in %.1f s", lines, clock.elapsed() / 1000.0);
        QCOMPARE(main.boxes.texts, QStringList{QStringLiteral("Mill/Milling process completed")});
        QFile log(controller.log());
        QVERIFY(log.open(QIODevice::ReadOnly));
        qint64 next = 1;
        while (!log.atEnd()) {
            const QByteArray line = log.readLine().trimmed();
            if (!line.startsWith("G1X"))
                continue;
            if (line != programLine(next))
                QFAIL(qPrintable(QStringLiteral("line %1 arrived as %2").arg(next).arg(QString::fromLatin1(line))));
            ++next;
        }
        QCOMPARE(next - 1, lines);
    }
};

QTEST_MAIN(TestHugeProgram)
#include "tst_hugeprogram.moc"
