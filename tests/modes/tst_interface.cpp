#include "link/checkdoormessage.h"
#include "modes/mode_gcode.h"
#include "modes/mode_pcb.h"
#include "modes/mode_stl.h"
#include "tests/modes/mainpage.h"

#include <QStackedWidget>

namespace {
// In the order of the mode indices: STL, PCB, G-code.
QList<Mode_Base *> modes(const MainPage &main)
{
    return {main.page()->findChild<Mode_STL *>(), main.page()->findChild<Mode_PCB *>(), main.gcode()};
}

Mode_Base *currentMode(const MainPage &main)
{
    return modes(main).at(main.page()->currentModeIndex());
}
} // namespace

class TstInterface : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { CheckDoorMessage::setDoorOpen(false); }
    void navigation_data();
    void navigation();
    void playPauseOnlyOnWorkPage();
    void doorOpenPausesCurrentMode_data();
    void doorOpenPausesCurrentMode();
    void stopWhileQueueingLeavesEveryModeIdle();
};

void TstInterface::navigation_data()
{
    QTest::addColumn<QString>("clicked");
    QTest::addColumn<int>("modesPage");
    QTest::addColumn<int>("modePage");
    QTest::addColumn<int>("currentMode");

    // Before each click the home page is shown and the G-code mode is current (mode page 2).
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
    MainPage main;
    const auto page = [&main](const char *stack) {
        return main.page()->findChild<QStackedWidget *>(QLatin1String(stack))->currentIndex();
    };
    QCOMPARE(page("Modes"), int(Interface::HomePage));
    QCOMPARE(page("Mode"), 2);
    QCOMPARE(main.page()->currentModeIndex(), qint32(Interface::GcodeMode));
    QVERIFY(main.page()->findChild<QStackedWidget *>(QStringLiteral("Area_3D"))->count() > 0);

    main.click(qPrintable(clicked));
    QCOMPARE(page("Modes"), modesPage);
    QCOMPARE(page("Mode"), modePage);
    QCOMPARE(main.page()->currentModeIndex(), currentMode);
    for (const char *name : {"button_zentra", "button_gcode", "button_pcb", "button_stl", "button_Contact",
                             "button_settings"}) {
        QCOMPARE(main.button(name)->styleSheet(), clicked == QLatin1String(name)
                                                      ? QStringLiteral("border-bottom: 5px solid grey;")
                                                      : QStringLiteral("border-bottom: none;"));
    }
}

void TstInterface::playPauseOnlyOnWorkPage()
{
    MainPage main;
    main.click("button_gcode");
    main.click("button_settings");
    main.click("button_play_pause");
    QTest::qWait(50);
    QVERIFY(main.boxes.texts.isEmpty());
    QCOMPARE(main.button("button_play_pause")->text(), QStringLiteral("Start"));

    // Back on the work page the click reaches the mode, which has nothing to mill.
    for (const char *mode : {"button_gcode", "button_pcb", "button_stl"}) {
        main.click(mode);
        main.click("button_play_pause");
        QVERIFY(currentMode(main)->isPaused());
        QVERIFY(!currentMode(main)->isStarted());
        QCOMPARE(main.button("button_play_pause")->text(), QStringLiteral("play"));
    }
    const QString refused = QStringLiteral("info/First select a file");
    QCOMPARE(main.boxes.texts, (QStringList{refused, refused, refused}));
}

void TstInterface::doorOpenPausesCurrentMode_data()
{
    QTest::addColumn<QString>("modeButton");
    QTest::newRow("gcode") << "button_gcode";
    QTest::newRow("pcb") << "button_pcb";
    QTest::newRow("stl") << "button_stl";
}

// The door watcher's report arrives queued, like the controller's; the mode is held, not stopped.
void TstInterface::doorOpenPausesCurrentMode()
{
    QFETCH(QString, modeButton);
    MainPage main;
    main.click(qPrintable(modeButton));
    Mode_Base *mode = currentMode(main);
    auto *gcode = main.gcode();
    if (mode == gcode) {
        // Without a connection the run's messages stay with the mode; the run itself is real.
        gcode->loadFile(main.writeFile("G0 X1\nG0 X2\n"));
        main.click("button_play_pause");
        QTRY_VERIFY(gcode->isStarted());
        // A closed door means nothing to the G-code mode.
        main.page()->doorOpen(false);
        QVERIFY(main.boxes.texts.isEmpty());
    } else {
        mode->setPaused(false);
    }
    const bool started = mode->isStarted();
    QVERIFY(!mode->isPaused());
    QCOMPARE(main.button("button_play_pause")->text(), QStringLiteral("pause"));

    Q_EMIT CheckDoorMessage::instance()->doorOpen(true);
    QTRY_COMPARE(main.boxes.texts, QStringList{QStringLiteral("info/First close the door")});
    QVERIFY(CheckDoorMessage::isDoorOpen());
    QVERIFY(mode->isPaused());
    QCOMPARE(mode->isStarted(), started);
    QCOMPARE(main.button("button_play_pause")->text(), QStringLiteral("play"));
}

// Stop while a large program streams: every mode ends idle without a port, and the lines already in
// the controller's buffer are the last it receives.
void TstInterface::stopWhileQueueingLeavesEveryModeIdle()
{
    MainPage main;
    QVERIFY(main.connectToSimulator());
    for (Mode_Base *mode : modes(main))
        QCOMPARE(mode->serialPort(), main.window->connection());
    QByteArray program;
    for (int i = 0; i < 300000; ++i)
        program += "G1X" + QByteArray::number(i % 100) + "F3000\n";
    auto *gcode = main.gcode();
    gcode->loadFile(main.writeFile(program));

    main.click("button_play_pause");
    QVERIFY(gcode->isStarted());
    QVERIFY(spinUntil([&] { return main.received().size() > 1000; }, 30000));
    main.click("button_stop");
    QCOMPARE(main.window->pageStack()->currentIndex(), 0);
    QTRY_VERIFY(!gcode->isStarted());
    for (Mode_Base *mode : modes(main)) {
        QVERIFY(mode->isPaused());
        QVERIFY(!mode->isStarted());
        QCOMPARE(mode->serialPort(), static_cast<SerialPort *>(nullptr));
    }
    QCOMPARE(main.button("button_play_pause")->text(), QStringLiteral("play"));
    QVERIFY(!main.button("button_play_pause")->icon().isNull());

    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QTest::qWait(300);
    const int received = main.received().size();
    QVERIFY(received < 300000);
    QTest::qWait(300);
    QCOMPARE(main.received().size(), received);
}

QTEST_MAIN(TstInterface)
#include "tst_interface.moc"
