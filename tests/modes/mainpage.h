#pragma once

#include "app/mainwindow.h"
#include "link/sendqueue.h"
#include "link/serialport.h"
#include "modes/interface.h"
#include "modes/mode_gcode.h"
#include "tools/grblsim/grblsimulator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

// Answers every message box a test provokes with OK and remembers its title and text.
class MessageBoxCatcher : public QObject
{
public:
    MessageBoxCatcher()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                texts << box->windowTitle() + QLatin1Char('/') + box->text();
                box->done(QMessageBox::Ok);
            }
        });
        m_timer.start(5);
    }

    QStringList texts;

private:
    QTimer m_timer;
};

// Waits for a condition while the event loop runs without pause. QTest's waits sleep 10 ms between
// rounds of events, which stalls a controller simulated on the same thread to one line per round.
inline bool spinUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.hasExpired(timeoutMs))
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// A main window on a settings database of the test's own, with every message box answered; on
// request connected in test mode to the simulated controller with the G-code mode shown.
class MainPage
{
public:
    MainPage()
    {
        static QTemporaryDir dataHome;
        qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
        window = std::make_unique<MainWindow>();
    }

    ~MainPage()
    {
        window.reset();
        simulator.reset();
        // The preview hands its 3D window to the event loop for deletion.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    Interface *page() const { return window->mainPage(); }
    Mode_Gcode *gcode() const { return page()->findChild<Mode_Gcode *>(); }
    QPushButton *button(const char *name) const { return page()->findChild<QPushButton *>(QLatin1String(name)); }
    void click(const char *name) const { QTest::mouseClick(button(name), Qt::LeftButton); }

    QString writeFile(const QByteArray &content, const QString &name = QStringLiteral("job.nc"))
    {
        QFile file(files.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(content);
        return file.fileName();
    }

    // Generous waits, for sanitizer builds.
    bool connectToSimulator(const GrblSimulator::Options &options = GrblSimulator::Options())
    {
        simulator = std::make_unique<GrblSimulator>(options);
        return simulator->start() && bringUp();
    }

    // The controller on a thread of its own, as a real board works beside the program; the thread ends
    // with stopSimulatorThread().
    bool connectToSimulatorOnThread(QThread *thread, const GrblSimulator::Options &options = GrblSimulator::Options())
    {
        simulator = std::make_unique<GrblSimulator>(options);
        simulator->moveToThread(thread);
        thread->start();
        bool started = false;
        QMetaObject::invokeMethod(simulator.get(), [&] { started = simulator->start(); }, Qt::BlockingQueuedConnection);
        return started && bringUp();
    }

    void stopSimulatorThread(QThread *thread)
    {
        GrblSimulator *controller = simulator.release();
        QMetaObject::invokeMethod(controller, [controller] { delete controller; }, Qt::BlockingQueuedConnection);
        thread->quit();
        thread->wait();
    }

    // Test mode on the simulator, the G-code mode shown.
    bool bringUp()
    {
        qputenv("KORVEX_PORT", simulator->devicePath().toUtf8());
        QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("TestUnlock")), Qt::LeftButton);
        qunsetenv("KORVEX_PORT");
        if (!window->connection()->isConnected())
            return false;
        // The board announces itself when its port is opened; should that banner be lost, a reset repeats it.
        const auto startedUp = [this] { return simulator->receivedLines().contains(QStringLiteral("$$")); };
        if (!QTest::qWaitFor(startedUp, 2000))
            simulator->softReset();
        if (!QTest::qWaitFor(startedUp, 30000))
            return false;
        // Entering the G-code mode asks for the position once.
        click("button_gcode");
        if (!QTest::qWaitFor([this] { return simulator->receivedLines().contains(QStringLiteral("?")); }, 30000))
            return false;
        QTest::qWait(50);
        linesBeforeTest = simulator->receivedLines().size();
        return true;
    }

    // Test mode again on the same simulator, after the start page was shown.
    bool reconnect()
    {
        const int before = simulator->receivedLines().size();
        qputenv("KORVEX_PORT", simulator->devicePath().toUtf8());
        QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("TestUnlock")), Qt::LeftButton);
        qunsetenv("KORVEX_PORT");
        if (!window->connection() || !window->connection()->isConnected())
            return false;
        const auto startedUp = [this, before] {
            return simulator->receivedLines().mid(before).contains(QStringLiteral("$$"))
                && window->connection()->sendQueue()->count() == 0;
        };
        if (!spinUntil(startedUp, 2000))
            simulator->softReset();
        return spinUntil(startedUp, 30000);
    }

    // A connection that was torn down has let its port go.
    bool closingConnectionGone() const { return window->findChildren<SerialPort *>().isEmpty(); }

    // What the controller received since connectToSimulator() returned, without the status requests
    // that the connection sends on its own while the machine is busy.
    QStringList received() const
    {
        QStringList lines = simulator->receivedLines().mid(linesBeforeTest);
        lines.removeAll(QStringLiteral("?"));
        return lines;
    }
    int statusRequests() const { return simulator->receivedLines().mid(linesBeforeTest).count(QStringLiteral("?")); }

    QTemporaryDir files;
    std::unique_ptr<GrblSimulator> simulator;
    std::unique_ptr<MainWindow> window;
    MessageBoxCatcher boxes;
    int linesBeforeTest = 0;
};
