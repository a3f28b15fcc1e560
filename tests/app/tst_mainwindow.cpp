#include <QtTest>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>

#include "app/infodialog.h"
#include "app/mainwindow.h"
#include "link/checkdoormessage.h"
#include "link/pcbserialmessage.h"
#include "link/sendqueue.h"
#include "link/serialport.h"
#include "modes/pcbchangemessagebox.h"
#include "tools/grblsim/grblsimulator.h"

namespace {
// Two drawings of one picture at different sizes: alike once both are brought to a small common size.
bool sameContent(const QImage &a, const QImage &b)
{
    const QImage small = a.scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_ARGB32);
    const QImage other = b.scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_ARGB32);
    int difference = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const QRgb p = small.pixel(x, y), q = other.pixel(x, y);
            difference += qAbs(qRed(p) - qRed(q)) + qAbs(qGreen(p) - qGreen(q)) + qAbs(qBlue(p) - qBlue(q));
        }
    }
    return difference / (16 * 16 * 3) < 12;
}
}

class TestMainWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { qputenv("XDG_DATA_HOME", m_dataHome.path().toUtf8()); }
    void init();
    void cleanup();
    void calibrateWithoutController_data();
    void calibrateWithoutController();
    void testModeWithoutController();
    void toolChangePrompt_data();
    void toolChangePrompt();
    void connectionsAgainstController();
    void failedHomingStopsTheCalibration();

private:
    void click(const char *startPageButton);

    QTemporaryDir m_dataHome;
    std::unique_ptr<GrblSimulator> m_simulator;
    std::unique_ptr<MainWindow> m_window;
};

void TestMainWindow::init()
{
    qunsetenv("KORVEX_PORT");
    CheckDoorMessage::setDoorOpen(false);
    m_window = std::make_unique<MainWindow>();
}

void TestMainWindow::cleanup()
{
    InfoDialog::instance()->on_pushButton_clicked();
    m_window.reset();
    m_simulator.reset();
}

// The main page's forms reuse some object names, so start page widgets are looked up on that page.
void TestMainWindow::click(const char *startPageButton)
{
    QTest::mouseClick(m_window->pageStack()->widget(0)->findChild<QPushButton *>(QLatin1String(startPageButton)),
                      Qt::LeftButton);
}

void TestMainWindow::calibrateWithoutController_data()
{
    QTest::addColumn<QByteArray>("port");
    QTest::newRow("no adapter found") << QByteArray();
    QTest::newRow("port cannot be opened") << QByteArray("/dev/korvex-missing-device");
}

// Each attempt reports again, below the earlier report, and the start page stays; OK clears the texts.
void TestMainWindow::calibrateWithoutController()
{
    QFETCH(QByteArray, port);
    const QString notFound = QStringLiteral("Haven´t found Korvex\n\nplugin the usb device");
    if (!port.isEmpty())
        qputenv("KORVEX_PORT", port);
    for (int attempt = 1; attempt <= 2; ++attempt) {
        click("button_unlock");
        QCOMPARE(m_window->pageStack()->currentIndex(), 0);
        QVERIFY(InfoDialog::instance()->isVisible());
        QVERIFY2(InfoDialog::instance()->text().endsWith(notFound), qPrintable(InfoDialog::instance()->text()));
        QCOMPARE(InfoDialog::instance()->text().count(notFound), attempt);
        QVERIFY(!m_window->connection() || !m_window->connection()->isConnected());
    }
    // Plain text, so a status report shown there never turns into markup; and no modal dialog, so the
    // window (its Stop button) stays usable while reports come in.
    auto *list = InfoDialog::instance()->findChild<QPlainTextEdit *>(QStringLiteral("infotext"));
    QVERIFY(list->isReadOnly());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QTest::mouseClick(InfoDialog::instance()->findChild<QPushButton *>(QStringLiteral("pushButton")), Qt::LeftButton);
    QVERIFY(!InfoDialog::instance()->isVisible());
    QVERIFY(list->toPlainText().isEmpty());
}

// The window starts on the start page; test mode opens the main page even without a controller.
void TestMainWindow::testModeWithoutController()
{
    QWidget *startPage = m_window->pageStack()->widget(0);
    QCOMPARE(m_window->pageStack()->currentWidget(), startPage);
    QVERIFY(!startPage->findChild<QLabel *>(QStringLiteral("label_logo"))->pixmap(Qt::ReturnByValue).isNull());
    click("TestUnlock");
    QCOMPARE(m_window->pageStack()->currentIndex(), 1);
    QVERIFY(!InfoDialog::instance()->isVisible());
    QPointer<SerialPort> connection(m_window->connection());
    QVERIFY(!connection->isConnected());
    connection->addMessageStringToWriterReader(QStringLiteral("G0X1\n"));
    QCOMPARE(connection->sendQueue()->count(), 0);

    // A door event pauses the modes, queued: after the emitting code has returned.
    Q_EMIT connection->doorMessage();
    QVERIFY(!CheckDoorMessage::isDoorOpen());
    QTRY_VERIFY(CheckDoorMessage::isDoorOpen());

    // Leaving the main page again gives the connection up.
    m_window->showStartPage();
    QCOMPARE(m_window->pageStack()->currentIndex(), 0);
    QCOMPARE(m_window->connection(), nullptr);
    QTRY_VERIFY(connection.isNull());
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
    PCBChangeMessageBox *prompt = m_window->toolChangePrompt();
    Q_EMIT PCBSerialMessage::instance()->openQTMessageBox(QStringLiteral("Change to 2mm outline milling cutter"), 1);
    QTRY_VERIFY(prompt->isVisible());
    Q_EMIT PCBSerialMessage::instance()->openQTMessageBox(text, type);
    QTRY_COMPARE(prompt->findChild<QLabel *>(QStringLiteral("ChangeToolInfo"))->text(), text);
    // The picture file, drawn at the label's height (its width within a pixel of rounding).
    QLabel *pixmap = prompt->findChild<QLabel *>(QStringLiteral("pixmap"));
    const QImage shown = pixmap->pixmap(Qt::ReturnByValue).toImage();
    if (picture.isEmpty()) {
        QVERIFY(shown.isNull());
    } else {
        const QImage file(picture);
        QCOMPARE(shown.height(), pixmap->height());
        QVERIFY(qAbs(shown.width() - file.width() * pixmap->height() / file.height()) <= 1);
        QVERIFY(sameContent(shown, file));
    }
    QTest::mouseClick(prompt->findChild<QPushButton *>(QStringLiteral("pushButton")), Qt::LeftButton);
    QVERIFY(!prompt->isVisible());
}

// Calibrate homes and runs the start-up moves; an alarm returns to the start page with a soft reset;
// test mode then connects afresh, and closing the window resets the controller once more.
void TestMainWindow::connectionsAgainstController()
{
    GrblSimulator::Options options;
    options.settings = {{22, 1}};   // homing enabled, as on the Korvex board
    m_simulator = std::make_unique<GrblSimulator>(options);
    QVERIFY(m_simulator->start());
    qputenv("KORVEX_PORT", m_simulator->devicePath().toUtf8());
    m_window->show();
    click("button_unlock");
    QCOMPARE(m_window->pageStack()->currentIndex(), 1);
    QVERIFY(m_window->connection()->isConnected());
    // A board restarts when its port is opened and announces itself; a banner printed before the open
    // went with the port's buffers, so a reset makes the simulator announce itself again.
    const auto startedUp = [this] { return m_simulator->receivedLines().contains(QStringLiteral("$$")); };
    if (!QTest::qWaitFor(startedUp, 3000))
        m_simulator->softReset();
    QTRY_VERIFY2(startedUp(), qPrintable(m_simulator->receivedLines().join(QLatin1Char('|'))));
    const QStringList lines = m_simulator->receivedLines();
    QVERIFY(lines.contains(QStringLiteral("$H")));
    QVERIFY(lines.contains(QStringLiteral("G0X72.5Y145")));
    QVERIFY(!lines.contains(QStringLiteral("$X")));

    QPointer<SerialPort> connection(m_window->connection());
    const auto resets = [this] { return m_simulator->receivedLines().count(QStringLiteral("<0x18>")); };
    const int resetsBefore = resets();
    // GRBL ignores a reset in the 500 ms after a limit alarm: the connection repeats it until the
    // controller's banner shows that one was taken, and only then lets the port go.
    m_simulator->triggerHardLimit();
    QTRY_COMPARE(m_window->pageStack()->currentIndex(), 0);
    QCOMPARE(m_window->connection(), nullptr);
    QVERIFY(InfoDialog::instance()->text().contains(QStringLiteral("Hard limit triggered.")));
    QTRY_VERIFY_WITH_TIMEOUT(connection.isNull(), SerialPort::ResetAttempts * SerialPort::ResetRepeatMs);
    const int resetsAfterAlarm = resets();
    QVERIFY2(resetsAfterAlarm >= resetsBefore + 2, qPrintable(QString::number(resetsAfterAlarm - resetsBefore)));
    QVERIFY(resetsAfterAlarm < resetsBefore + SerialPort::ResetAttempts);

    click("TestUnlock");
    QVERIFY(m_window->connection()->isConnected());
    QVERIFY(m_window->close());
    QCOMPARE(m_window->connection(), nullptr);
    QTRY_VERIFY(resets() > resetsAfterAlarm);
}

// With GRBL's factory settings homing is disabled and "$H" fails: the start-up moves would then run on
// an unhomed machine, so none is made, the user is told, and the settings are still listed.
void TestMainWindow::failedHomingStopsTheCalibration()
{
    m_simulator = std::make_unique<GrblSimulator>();
    QVERIFY(m_simulator->start());
    qputenv("KORVEX_PORT", m_simulator->devicePath().toUtf8());
    click("button_unlock");
    QTRY_VERIFY_WITH_TIMEOUT(m_simulator->receivedLines().contains(QStringLiteral("$$")), 10000);
    QTRY_COMPARE(m_window->connection()->sendQueue()->count(), 0);
    QStringList received = m_simulator->receivedLines();
    received.removeAll(QStringLiteral("?"));   // the connection's status polls
    QCOMPARE(received, (QStringList{"(PLV:Version)", "$H", "$$"}));
    const QString info = InfoDialog::instance()->text();
    QVERIFY2(info.contains(QStringLiteral("Error: Homing cycle is not enabled via settings.\nLine:0\nGcode: $H\n")), qPrintable(info));
    QVERIFY2(info.contains(QStringLiteral("Calibration stopped")), qPrintable(info));
    QCOMPARE(m_window->pageStack()->currentIndex(), 1);
    QVERIFY(m_window->connection()->isConnected());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
