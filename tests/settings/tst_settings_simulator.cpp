#include "app/infodialog.h"
#include "link/sendqueue.h"
#include "link/serialport.h"
#include "link/serialportreader.h"
#include "settings/database.h"
#include "settings/machine_settings.h"
#include "settings/machinedriversettings.h"
#include "tools/grblsim/grblsimulator.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The machine settings page against the simulated controller on a pseudo-terminal.
class TestSettingsSimulator : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<GrblSimulator> m_simulator;
    std::unique_ptr<Machine_Settings> m_page;
    QPointer<SerialPort> m_link;
    int m_mark = 0;

    void connectPage()
    {
        m_simulator = std::make_unique<GrblSimulator>();
        QVERIFY(m_simulator->start());
        qputenv("KORVEX_PORT", m_simulator->devicePath().toLocal8Bit());
        m_page = std::make_unique<Machine_Settings>();
        // The hub wires the page to the connection and its reader, as in the program.
        m_link = new SerialPort;
        m_link->setUnlockOnly(true);
        QVERIFY(m_link->connectToMachine());
        // The board announces itself when its port is opened; a banner printed earlier went with the
        // port's buffers, and a reset makes it announce itself again.
        if (!QTest::qWaitFor([this] { return m_link->reader()->isInitialised(); }, 1000))
            m_simulator->softReset();
        QTRY_VERIFY(m_link->reader()->isInitialised());
        awaitQuiet();
        markReceived();
    }

    void awaitQuiet() { QTRY_COMPARE_WITH_TIMEOUT(m_link->sendQueue()->count(), 0, 10000); }
    void markReceived() { m_mark = m_simulator->receivedLines().size(); }
    QStringList receivedSinceMark() const { return m_simulator->receivedLines().mid(m_mark); }

    QLineEdit *field(int number) const { return m_page->findChild<QLineEdit *>(QStringLiteral("v_%1").arg(number)); }
    QLabel *status(int number) const { return m_page->findChild<QLabel *>(QStringLiteral("s_%1").arg(number)); }

    int inchWarnings() const
    {
        int shown = 0;
        for (QMessageBox *box : m_page->findChildren<QMessageBox *>())
            shown += box->isVisible() && box->text().startsWith(QLatin1String("GRBL reports Inches")) ? 1 : 0;
        return shown;
    }

    static void retype(QLineEdit *edit, const QString &text)
    {
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_DATA_HOME", m_dir.path().toLocal8Bit());
        QVERIFY(!initDatabase(m_dir.filePath(QStringLiteral("korvexdb"))).isValid());
    }

    void init() { connectPage(); }

    void cleanup()
    {
        delete m_link;
        m_page.reset();
        m_simulator.reset();
        qunsetenv("KORVEX_PORT");
        InfoDialog::instance()->on_pushButton_clicked();
    }

    void theSettingsListFillsTheFields()
    {
        for (int number : {0, 1, 2, 3, 4, 5, 6, 10, 11, 12, 13, 20, 21, 22, 23, 24, 25, 26, 27, 30, 31, 32,
                           100, 101, 102, 110, 111, 112, 120, 121, 122, 130, 131, 132}) {
            QVERIFY2(field(number) && status(number), qPrintable(QString::number(number)));
            QCOMPARE(field(number)->text(), m_simulator->setting(number));
        }
        QCOMPARE(inchWarnings(), 0);
    }

    // Edits within a second go as one write per setting in ascending order; only numbers are sent.
    void editsAreWrittenOnceInAscendingOrder()
    {
        const QString stepIdleDelay = m_simulator->setting(1);
        retype(field(110), QStringLiteral("500"));
        retype(field(110), QStringLiteral("600"));
        retype(field(1), QStringLiteral("-5"));
        retype(field(0), QStringLiteral("12"));
        retype(field(111), QStringLiteral("5OO"));
        retype(field(112), QStringLiteral("1e3"));
        QCOMPARE(status(112)->text(), QStringLiteral("ERROR"));
        QCOMPARE(receivedSinceMark(), QStringList());
        QTRY_COMPARE(receivedSinceMark().size(), 3);
        awaitQuiet();
        QCOMPARE(receivedSinceMark(), (QStringList{"$0=12", "$1=-5", "$110=600"}));
        QCOMPARE(m_simulator->setting(110).toDouble(), 600.0);
        QCOMPARE(m_simulator->setting(1), stepIdleDelay);

        // Each answer marks its field; a SAVED mark goes when the next field is marked, an ERROR mark stays.
        QTRY_COMPARE(status(110)->text(), QStringLiteral("SAVED"));
        QVERIFY(status(110)->styleSheet().contains(QLatin1String("green")));
        QCOMPARE(status(0)->text(), QString());
        QCOMPARE(status(1)->text(), QStringLiteral("ERROR"));
        QVERIFY(status(1)->styleSheet().contains(QLatin1String("red")));
        QCOMPARE(status(111)->text(), QStringLiteral("ERROR"));
    }

    void reportingInchesWarnsOnce()
    {
        m_link->addMessageStringToWriterReader(QStringLiteral("$13=1\n"));
        QTRY_COMPARE(inchWarnings(), 1);
        awaitQuiet();
        qDeleteAll(m_page->findChildren<QMessageBox *>());
        m_link->addMessageStringToWriterReader(QStringLiteral("$$\n"));
        QTRY_COMPARE(field(13)->text(), QStringLiteral("1"));
        awaitQuiet();
        QCOMPARE(inchWarnings(), 1);
    }

    void driverPagesTalkToTheBoard()
    {
        m_page->findChild<QCheckBox *>(QStringLiteral("checkBox_AdvancedSettings"))->setChecked(true);
        QVERIFY(m_page->findChild<QWidget *>(QStringLiteral("AdvancedSettings"))->isEnabled());
        QTRY_COMPARE(m_page->findChild<QLabel *>(QStringLiteral("label_FirmwareVersion"))->text(), QStringLiteral("1.0.4"));
        MachineDriverSettings *driver = m_page->driverPage(1);
        const QString reportedConfig0 = driver->config0Word();
        QTRY_COMPARE(receivedSinceMark(), (QStringList{"(PLV:Version)", "(PLV:Driver1G)", "(PLV:Driver2G)", "(PLV:Driver3G)"}));

        QVERIFY(driver->applyConfig(QStringLiteral("0011111111111111") + driver->config1Word()));
        QVERIFY(reportedConfig0 != driver->config0Word());
        markReceived();
        driver->findChild<QPushButton *>(QStringLiteral("Config0_ButtonSave"))->click();
        QTRY_COMPARE(receivedSinceMark(), QStringList{QStringLiteral("(PLV:Driver1S|0011111111111111)")});

        // Another choice on the page, then the board's stored configuration is read back and shown.
        driver->findChild<QRadioButton *>(QStringLiteral("Config0_Microstep_0"))->setChecked(true);
        m_page->writeMessage(QStringLiteral("(PLV:Driver1G)\n"));
        QTRY_VERIFY(driver->findChild<QRadioButton *>(QStringLiteral("Config0_Microstep_3"))->isChecked());
        QCOMPARE(driver->config0Word(), QStringLiteral("0011111111111111"));
    }
};

QTEST_MAIN(TestSettingsSimulator)
#include "tst_settings_simulator.moc"
