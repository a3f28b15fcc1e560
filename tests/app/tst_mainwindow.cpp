#include <QtTest>

#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>

#include "app/infodialog.h"
#include "app/mainwindow.h"
#include "link/checkdoormessage.h"
#include "link/sendqueue.h"
#include "link/serialport.h"
#include "modes/interface.h"
#include "modes/pcbchangemessagebox.h"
#include "tools/grblsim/grblsimulator.h"

namespace {
const QString notFound = QStringLiteral("Haven´t found Korvex\n\nplugin the usb device");

QLabel *labelOf(QWidget *parent, const char *name)
{
    return parent->findChild<QLabel *>(QLatin1String(name));
}

QPushButton *buttonOf(QWidget *parent, const char *name)
{
    return parent->findChild<QPushButton *>(QLatin1String(name));
}

// The main page's forms reuse some object names, so start page widgets are looked up on that page.
QPushButton *startButton(MainWindow *window, const char *name)
{
    return buttonOf(window->pageStack()->widget(0), name);
}
}

class TestMainWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void startsOnTheStartPage();
    void infoDialogAccumulatesUntilOk();
    void calibrateWithoutController_data();
    void calibrateWithoutController();
    void testModeWithoutController();
    void toolChangePrompt_data();
    void toolChangePrompt();
    void doorEventPausesTheModes();
    void calibrateAgainstController();
    void alarmReturnsToStartPage();
    void closingWhileConnectedResetsController();

private:
    void startSimulator();
    void connectThroughSimulator(MainWindow *window, const char *button);

    QTemporaryDir m_dataHome;
    std::unique_ptr<GrblSimulator> m_simulator;
};

void TestMainWindow::initTestCase()
{
    QVERIFY(m_dataHome.isValid());
    qputenv("XDG_DATA_HOME", m_dataHome.path().toUtf8());
}

void TestMainWindow::init()
{
    qunsetenv("KORVEX_PORT");
    CheckDoorMessage::setDoorOpen(false);
}

void TestMainWindow::cleanup()
{
    InfoDialog::instance()->on_pushButton_clicked();
    m_simulator.reset();
}

void TestMainWindow::startSimulator()
{
    m_simulator = std::make_unique<GrblSimulator>();
    QVERIFY(m_simulator->start());
    qputenv("KORVEX_PORT", m_simulator->devicePath().toUtf8());
}

// A board restarts when its port is opened and announces itself; a banner printed before the open
// went with the port's buffers, so a reset makes the simulator announce itself again.
void TestMainWindow::connectThroughSimulator(MainWindow *window, const char *button)
{
    QTest::mouseClick(startButton(window, button), Qt::LeftButton);
    QCOMPARE(window->pageStack()->currentIndex(), 1);
    QVERIFY(window->connection()->isConnected());
    const auto startedUp = [this] { return m_simulator->receivedLines().contains(QStringLiteral("$$")); };
    if (!QTest::qWaitFor(startedUp, 1000))
        m_simulator->softReset();
    QTRY_VERIFY2(startedUp(), qPrintable(m_simulator->receivedLines().join(QLatin1Char('|')) + QLatin1Char('\n')
                                         + InfoDialog::instance()->text()));
}

void TestMainWindow::startsOnTheStartPage()
{
    MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Korvex"));
    QCOMPARE(window.size(), QSize(935, 588));
    QCOMPARE(window.minimumSize(), QSize(665, 450));
    QCOMPARE(window.pageStack()->objectName(), QStringLiteral("stackedWidget"));
    QCOMPARE(window.pageStack()->currentWidget()->objectName(), QStringLiteral("page_unlock"));
    QCOMPARE(window.pageStack()->widget(1)->findChild<QWidget *>(QStringLiteral("Interface_")),
             static_cast<QWidget *>(window.mainPage()));
    QWidget *startPage = window.pageStack()->widget(0);
    QVERIFY(!labelOf(startPage, "label_logo")->pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(labelOf(startPage, "label_14")->text(), QStringLiteral("Welcome to the KORVEX Software."));
    QCOMPARE(buttonOf(startPage, "button_unlock")->text(),
             QStringLiteral("Click here to calibrate your milling machine and start milling"));
    QCOMPARE(buttonOf(startPage, "TestUnlock")->text(),
             QStringLiteral("Test the Software or change Settings on your milling machine"));
    QVERIFY(window.connection());
    QVERIFY(!window.connection()->isConnected());
}

void TestMainWindow::infoDialogAccumulatesUntilOk()
{
    InfoDialog *dialog = InfoDialog::instance();
    QCOMPARE(dialog->size(), QSize(592, 278));
    QCOMPARE(dialog->minimumSize(), QSize(339, 122));
    QCOMPARE(dialog->maximumHeight(), 450);
    QVERIFY(dialog->isModal());

    const QString first = QStringLiteral("Error: Feed rate has not yet been set or is undefined.\nLine:7\nGcode: G1X10\n");
    const QString second = QStringLiteral("Error: A G-code word was repeated in the block.\nLine:8\nGcode: G1X1X2\n");
    dialog->appendInfo(first);
    dialog->appendInfo(second);
    QVERIFY(dialog->isVisible());
    QCOMPARE(labelOf(dialog, "infotext")->text(), first + second);

    QTest::mouseClick(buttonOf(dialog, "pushButton"), Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    QVERIFY(labelOf(dialog, "infotext")->text().isEmpty());

    // A status report shown in the dialog must stay text, not turn into markup.
    dialog->appendInfo(QStringLiteral("<Alarm|MPos:0.000,0.000,0.000>"));
    QCOMPARE(labelOf(dialog, "infotext")->textFormat(), Qt::PlainText);
    QCOMPARE(dialog->text(), QStringLiteral("<Alarm|MPos:0.000,0.000,0.000>"));
}

void TestMainWindow::calibrateWithoutController_data()
{
    QTest::addColumn<QByteArray>("port");
    QTest::newRow("no adapter found") << QByteArray();
    QTest::newRow("port cannot be opened") << QByteArray("/dev/korvex-missing-device");
}

void TestMainWindow::calibrateWithoutController()
{
    QFETCH(QByteArray, port);
    if (!port.isEmpty())
        qputenv("KORVEX_PORT", port);

    MainWindow window;
    QTest::mouseClick(startButton(&window, "button_unlock"), Qt::LeftButton);

    QCOMPARE(window.pageStack()->currentIndex(), 0);
    QVERIFY(InfoDialog::instance()->isVisible());
    QVERIFY2(InfoDialog::instance()->text().endsWith(notFound), qPrintable(InfoDialog::instance()->text()));
    QVERIFY(!window.connection() || !window.connection()->isConnected());

    // A second attempt reports again, below the first report.
    QTest::mouseClick(startButton(&window, "button_unlock"), Qt::LeftButton);
    QCOMPARE(window.pageStack()->currentIndex(), 0);
    QVERIFY(InfoDialog::instance()->text().endsWith(notFound));
    QCOMPARE(InfoDialog::instance()->text().count(notFound), 2);
}

void TestMainWindow::testModeWithoutController()
{
    MainWindow window;
    QTest::mouseClick(startButton(&window, "TestUnlock"), Qt::LeftButton);

    QCOMPARE(window.pageStack()->currentIndex(), 1);
    QVERIFY(!InfoDialog::instance()->isVisible());
    SerialPort *connection = window.connection();
    QVERIFY(connection);
    QVERIFY(!connection->isConnected());

    connection->addMessageStringToWriterReader(QStringLiteral("G0X1\n"));
    QCOMPARE(connection->sendQueue()->count(), 0);

    // Leaving the main page again gives the connection up.
    QPointer<SerialPort> watched(connection);
    window.showStartPage();
    QCOMPARE(window.pageStack()->currentIndex(), 0);
    QCOMPARE(window.connection(), nullptr);
    QTRY_VERIFY(watched.isNull());
}

void TestMainWindow::toolChangePrompt_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("picture");

    QTest::newRow("engraving") << 0 << "Change to engraving bit" << ":/Images/Resources/engraving.png";
    QTest::newRow("outline") << 1 << "Change to 2mm outline milling cutter" << ":/Images/Resources/outline.png";
    QTest::newRow("drill") << 2 << "Change tool bit to 0.8mm" << ":/Images/Resources/drill.png";
    QTest::newRow("unknown type shows no picture") << 5 << "Change to something else" << QString();
}

// Every row follows a first prompt, so the same dialog is reused and must show only the latest one.
void TestMainWindow::toolChangePrompt()
{
    QFETCH(int, type);
    QFETCH(QString, text);
    QFETCH(QString, picture);

    MainWindow window;
    PCBChangeMessageBox *prompt = window.toolChangePrompt();
    QVERIFY(!prompt->isVisible());
    QCOMPARE(prompt->size(), QSize(767, 272));

    Q_EMIT InfoDialog::instance()->openQTMessageBox(QStringLiteral("Change to 2mm outline milling cutter"), 1);
    QTRY_VERIFY(prompt->isVisible());
    Q_EMIT InfoDialog::instance()->openQTMessageBox(text, type);
    QTRY_COMPARE(labelOf(prompt, "ChangeToolInfo")->text(), text);

    QCOMPARE(window.toolChangePrompt(), prompt);
    QVERIFY(prompt->isVisible());
    QCOMPARE(prompt->windowTitle(), QStringLiteral("Change milling cutter"));
    QLabel *pixmap = labelOf(prompt, "pixmap");
    const QPixmap shown = pixmap->pixmap(Qt::ReturnByValue);
    if (picture.isEmpty()) {
        QVERIFY(shown.isNull());
    } else {
        QCOMPARE(shown.height(), pixmap->height());
        QCOMPARE(shown.toImage(),
                 QPixmap(picture).scaledToHeight(pixmap->height(), Qt::SmoothTransformation).toImage());
    }

    QTest::mouseClick(buttonOf(prompt, "pushButton"), Qt::LeftButton);
    QVERIFY(!prompt->isVisible());
}

void TestMainWindow::doorEventPausesTheModes()
{
    MainWindow window;
    QTest::mouseClick(startButton(&window, "TestUnlock"), Qt::LeftButton);
    Q_EMIT InfoDialog::instance()->allPause();
    QVERIFY(!CheckDoorMessage::isDoorOpen());
    QTRY_VERIFY(CheckDoorMessage::isDoorOpen());
}

void TestMainWindow::calibrateAgainstController()
{
    startSimulator();
    MainWindow window;
    connectThroughSimulator(&window, "button_unlock");

    const QStringList lines = m_simulator->receivedLines();
    QVERIFY(lines.contains(QStringLiteral("$H")));
    QVERIFY(lines.contains(QStringLiteral("G0X72.5Y145")));
    QVERIFY(!lines.contains(QStringLiteral("$X")));
}

void TestMainWindow::alarmReturnsToStartPage()
{
    startSimulator();
    MainWindow window;
    connectThroughSimulator(&window, "TestUnlock");
    QPointer<SerialPort> connection(window.connection());
    const int resets = m_simulator->receivedLines().count(QStringLiteral("<0x18>"));

    m_simulator->triggerHardLimit();

    QTRY_COMPARE(window.pageStack()->currentIndex(), 0);
    QCOMPARE(window.connection(), nullptr);
    QTRY_VERIFY(connection.isNull());
    QVERIFY(InfoDialog::instance()->text().contains(QStringLiteral("Hard limit triggered.")));
    QTRY_COMPARE(m_simulator->receivedLines().count(QStringLiteral("<0x18>")), resets + 1);

    // The next attempt builds a fresh connection.
    QTest::mouseClick(startButton(&window, "TestUnlock"), Qt::LeftButton);
    QVERIFY(window.connection());
    QVERIFY(window.connection()->isConnected());
}

void TestMainWindow::closingWhileConnectedResetsController()
{
    startSimulator();
    MainWindow window;
    window.show();
    connectThroughSimulator(&window, "TestUnlock");
    const int resets = m_simulator->receivedLines().count(QStringLiteral("<0x18>"));

    QVERIFY(window.close());
    QCOMPARE(window.connection(), nullptr);
    QTRY_COMPARE(m_simulator->receivedLines().count(QStringLiteral("<0x18>")), resets + 1);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
