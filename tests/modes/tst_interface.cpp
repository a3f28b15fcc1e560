#include "app/mainwindow.h"
#include "link/checkdoormessage.h"
#include "link/serialport.h"
#include "modes/interface.h"
#include "modes/mode_gcode.h"
#include "modes/mode_pcb.h"
#include "modes/mode_stl.h"
#include "tests/modes/messageboxcatcher.h"
#include "tools/grblsim/grblsimulator.h"

#include <QPushButton>
#include <QStackedWidget>
#include <QtTest>

#include <memory>

class TstInterface : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void pagesAndMenu();
    void navigation_data();
    void navigation();
    void playPauseOnlyOnWorkPage();
    void doorOpenPausesCurrentMode_data();
    void doorOpenPausesCurrentMode();
    void doorClosedChangesNothingForGcode();
    void stopLeavesEveryModeIdleWithoutPort();

private:
    QPushButton *button(const char *name) const;
    QStackedWidget *stack(const char *name) const;
    QList<Mode_Base *> modes() const;
    void loadProgram(const QByteArray &text);
    void click(const char *name) { QTest::mouseClick(button(name), Qt::LeftButton); }

    QTemporaryDir m_dataHome;
    QTemporaryDir m_files;
    std::unique_ptr<MainWindow> m_window;
    Interface *m_interface = nullptr;
    MessageBoxCatcher *m_boxes = nullptr;
};

void TstInterface::initTestCase()
{
    QVERIFY(m_dataHome.isValid());
    qputenv("XDG_DATA_HOME", m_dataHome.path().toUtf8());
}

void TstInterface::init()
{
    CheckDoorMessage::setDoorOpen(false);
    m_window = std::make_unique<MainWindow>();
    m_interface = m_window->mainPage();
    m_boxes = new MessageBoxCatcher(this);
}

void TstInterface::cleanup()
{
    delete m_boxes;
    m_window.reset();
    // The preview hands its 3D window to the event loop for deletion.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QPushButton *TstInterface::button(const char *name) const
{
    return m_interface->findChild<QPushButton *>(QLatin1String(name));
}

QStackedWidget *TstInterface::stack(const char *name) const
{
    return m_interface->findChild<QStackedWidget *>(QLatin1String(name));
}

QList<Mode_Base *> TstInterface::modes() const
{
    return {m_interface->findChild<Mode_STL *>(), m_interface->findChild<Mode_PCB *>(),
            m_interface->findChild<Mode_Gcode *>()};
}

void TstInterface::loadProgram(const QByteArray &text)
{
    QFile file(m_files.filePath(QStringLiteral("job.nc")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
    file.close();
    m_interface->findChild<Mode_Gcode *>()->loadFile(file.fileName());
}

void TstInterface::pagesAndMenu()
{
    const QStringList modesPages{"Workpage", "Homepage", "Connected", "Contact", "Settings_"};
    for (int i = 0; i < modesPages.size(); ++i)
        QCOMPARE(stack("Modes")->widget(i)->objectName(), modesPages.at(i));
    const QStringList modePages{"STL", "PCB", "GCODE"};
    for (int i = 0; i < modePages.size(); ++i)
        QCOMPARE(stack("Mode")->widget(i)->objectName(), modePages.at(i));
    QCOMPARE(stack("User")->widget(0)->objectName(), QStringLiteral("Menue"));
    QCOMPARE(stack("Modes")->currentIndex(), int(Interface::HomePage));
    QCOMPARE(stack("Mode")->currentIndex(), 2);
    QCOMPARE(m_interface->currentModeIndex(), qint32(Interface::GcodeMode));
    QCOMPARE(button("button_play_pause")->text(), QStringLiteral("Start"));
    QCOMPARE(button("button_stop")->text(), QStringLiteral("Stop"));
    QCOMPARE(button("button_stl")->text(), QStringLiteral("3D"));
    QCOMPARE(button("button_Contact")->text(), QStringLiteral("ABOUT"));
    QVERIFY(stack("Area_3D")->count() > 0);
    QVERIFY(stack("Modes")->widget(Interface::HomePage)->findChildren<QPushButton *>().size() == 3);
}

void TstInterface::navigation_data()
{
    QTest::addColumn<QString>("clicked");
    QTest::addColumn<int>("modesPage");
    QTest::addColumn<int>("modePage");
    QTest::addColumn<int>("currentMode");

    // Before each click the G-code mode is current (mode page 2).
    QTest::newRow("gcode") << "button_gcode" << 0 << 2 << 2;
    QTest::newRow("pcb") << "button_pcb" << 0 << 1 << 1;
    QTest::newRow("stl") << "button_stl" << 0 << 0 << 0;
    QTest::newRow("settings") << "button_settings" << 4 << 2 << 2;
    QTest::newRow("home") << "button_zentra" << 1 << 2 << 2;
    QTest::newRow("about") << "button_Contact" << 3 << 2 << 2;
}

void TstInterface::navigation()
{
    QFETCH(QString, clicked);
    QFETCH(int, modesPage);
    QFETCH(int, modePage);
    QFETCH(int, currentMode);

    click(qPrintable(clicked));
    QCOMPARE(stack("Modes")->currentIndex(), modesPage);
    QCOMPARE(stack("Mode")->currentIndex(), modePage);
    QCOMPARE(m_interface->currentModeIndex(), currentMode);
    for (const char *name : {"button_zentra", "button_gcode", "button_pcb", "button_stl", "button_Contact",
                             "button_settings"}) {
        const QString expected = clicked == QLatin1String(name) ? QStringLiteral("border-bottom: 5px solid grey;")
                                                                : QStringLiteral("border-bottom: none;");
        QCOMPARE(button(name)->styleSheet(), expected);
    }
}

void TstInterface::playPauseOnlyOnWorkPage()
{
    click("button_gcode");
    click("button_settings");
    QCOMPARE(m_interface->currentModeIndex(), qint32(Interface::GcodeMode));
    click("button_play_pause");
    QTest::qWait(50);
    QVERIFY(m_boxes->shown.isEmpty());
    QCOMPARE(button("button_play_pause")->text(), QStringLiteral("Start"));

    // Back on the work page the click reaches the mode, which has nothing to mill.
    for (const char *mode : {"button_gcode", "button_pcb", "button_stl"}) {
        click(mode);
        click("button_play_pause");
        Mode_Base *current = modes().at(m_interface->currentModeIndex());
        QVERIFY(current->isPaused());
        QVERIFY(!current->isStarted());
        QCOMPARE(button("button_play_pause")->text(), QStringLiteral("play"));
    }
    const QString refused = QStringLiteral("info/First select a file");
    QCOMPARE(m_boxes->texts(), (QStringList{refused, refused, refused}));
}

void TstInterface::doorOpenPausesCurrentMode_data()
{
    QTest::addColumn<QString>("modeButton");
    QTest::newRow("gcode") << "button_gcode";
    QTest::newRow("pcb") << "button_pcb";
    QTest::newRow("stl") << "button_stl";
}

void TstInterface::doorOpenPausesCurrentMode()
{
    QFETCH(QString, modeButton);
    click(qPrintable(modeButton));
    Mode_Base *current = modes().at(m_interface->currentModeIndex());
    current->setPaused(false);
    QCOMPARE(button("button_play_pause")->text(), QStringLiteral("pause"));

    m_interface->doorOpen(true);
    QCOMPARE(m_boxes->texts(), QStringList{QStringLiteral("info/First close the door")});
    QVERIFY(CheckDoorMessage::isDoorOpen());
    QVERIFY(current->isPaused());
    QCOMPARE(button("button_play_pause")->text(), QStringLiteral("play"));
}

void TstInterface::doorClosedChangesNothingForGcode()
{
    click("button_gcode");
    loadProgram("G0 X1\nG0 X2\n");
    // Without a connection the run's messages stay with the mode; the run itself is real.
    click("button_play_pause");
    auto *gcode = m_interface->findChild<Mode_Gcode *>();
    QTRY_VERIFY(gcode->isStarted());
    QVERIFY(!gcode->isPaused());

    m_interface->doorOpen(false);
    QVERIFY(gcode->isStarted());
    QVERIFY(!gcode->isPaused());
    QVERIFY(m_boxes->shown.isEmpty());

    // Delivered through the door watcher, queued, like the controller's report would.
    Q_EMIT CheckDoorMessage::instance()->doorOpen(true);
    QTRY_COMPARE(m_boxes->shown.size(), 1);
    QVERIFY(gcode->isStarted());
    QVERIFY(gcode->isPaused());
}

void TstInterface::stopLeavesEveryModeIdleWithoutPort()
{
    GrblSimulator simulator;
    QVERIFY(simulator.start());
    qputenv("KORVEX_PORT", simulator.devicePath().toUtf8());
    QTest::mouseClick(m_window->findChild<QPushButton *>(QStringLiteral("TestUnlock")), Qt::LeftButton);
    qunsetenv("KORVEX_PORT");
    QVERIFY(m_window->connection()->isConnected());
    for (Mode_Base *mode : modes())
        QCOMPARE(mode->serialPort(), m_window->connection());

    click("button_gcode");
    loadProgram("G0 X1\n");
    click("button_play_pause");
    QTRY_VERIFY(modes().last()->isStarted());

    click("button_stop");
    QCOMPARE(m_window->pageStack()->currentIndex(), 0);
    QTRY_VERIFY(!modes().last()->isStarted());
    for (Mode_Base *mode : modes()) {
        QVERIFY(mode->isPaused());
        QVERIFY(!mode->isStarted());
        QCOMPARE(mode->serialPort(), static_cast<SerialPort *>(nullptr));
    }
    QCOMPARE(button("button_play_pause")->text(), QStringLiteral("play"));
    QVERIFY(!button("button_play_pause")->icon().isNull());
}

QTEST_MAIN(TstInterface)
#include "tst_interface.moc"
