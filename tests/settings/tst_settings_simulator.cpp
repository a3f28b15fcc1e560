#include "settingstest.h"
#include "app/infodialog.h"
#include "link/sendqueue.h"
#include "link/serialport.h"
#include "link/serialportreader.h"
#include "settings/machinedriversettings.h"
#include "tools/grblsim/grblsimulator.h"

#include <QCheckBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
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

    void awaitQuiet() { QTRY_COMPARE_WITH_TIMEOUT(m_link->sendQueue()->count(), 0, 10000); }
    void markReceived() { m_mark = m_simulator->receivedLines().size(); }
    // Lines only: the connection's own status requests come and go with the machine's state.
    QStringList receivedSinceMark() const
    {
        QStringList lines = m_simulator->receivedLines().mid(m_mark);
        lines.removeAll(QStringLiteral("?"));
        return lines;
    }
    QLineEdit *field(int number) const { return m_page->findChild<QLineEdit *>(QStringLiteral("v_%1").arg(number)); }

    // Types over the whole field, as a user replacing a value does.
    static void retype(QLineEdit *edit, const QString &text)
    {
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_DATA_HOME", m_dir.path().toLocal8Bit());
        QVERIFY(!initDatabase(m_dir.filePath(QStringLiteral("korvexdb"))).isValid());
    }

    void init()
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

    void cleanup()
    {
        delete m_link;
        m_page.reset();
        m_simulator.reset();
        qunsetenv("KORVEX_PORT");
        InfoDialog::instance()->on_pushButton_clicked();
    }

    // Every setting the board lists has its field, which shows the value, and its status label.
    void theSettingsListFillsTheFields()
    {
        QStringList listed;
        for (int number : {0, 1, 2, 3, 4, 5, 6, 10, 11, 12, 13, 20, 21, 22, 23, 24, 25, 26, 27, 30, 31, 32,
                           100, 101, 102, 110, 111, 112, 120, 121, 122, 130, 131, 132}) {
            listed << QStringLiteral("v_%1=%2").arg(number).arg(m_simulator->setting(number));
            QVERIFY2(m_page->findChild<QLabel *>(QStringLiteral("s_%1").arg(number)), qPrintable(listed.last()));
        }
        listed.sort();
        QCOMPARE(shownSettings(*m_page), listed);
        QCOMPARE(warnings(*m_page), QStringList());
    }

    // Edits within a second go as one write per setting in ascending order; only numbers are sent, and a
    // value the board refuses ($0 below 3) is marked.
    void editsAreWrittenOnceInAscendingOrder()
    {
        const QString stepPulse = m_simulator->setting(0);
        retype(field(110), QStringLiteral("500"));
        retype(field(110), QStringLiteral("600"));
        retype(field(1), QStringLiteral("30"));
        retype(field(0), QStringLiteral("2"));
        retype(field(111), QStringLiteral("5OO"));
        retype(field(112), QStringLiteral("1e3"));
        const auto marks = [this] { return shownSettings(*m_page).filter(QRegularExpression(QStringLiteral("^s_"))); };
        // Nothing is judged while typing.
        QCOMPARE(marks(), QStringList());
        QCOMPARE(receivedSinceMark(), QStringList());
        QTRY_COMPARE(receivedSinceMark().size(), 3);
        awaitQuiet();
        QCOMPARE(receivedSinceMark(), (QStringList{"$0=2", "$1=30", "$110=600"}));
        QCOMPARE(m_simulator->setting(110).toDouble(), 600.0);
        QCOMPARE(m_simulator->setting(0), stepPulse);

        // Each answer marks its field; a SAVED mark goes when the next field is marked, an ERROR mark stays.
        QTRY_COMPARE(marks(), (QStringList{"s_0 ERROR", "s_110 SAVED", "s_111 ERROR", "s_112 ERROR"}));
        const auto style = [this](const char *label) { return m_page->findChild<QLabel *>(QLatin1String(label))->styleSheet(); };
        QVERIFY(style("s_110").contains(QLatin1String("green")) && style("s_0").contains(QLatin1String("red")));
    }

    // Once for the written value, once for the listing.
    void reportingInchesWarnsOnce()
    {
        m_link->addMessageStringToWriterReader(QStringLiteral("$13=1\n"));
        QTRY_COMPARE(warnings(*m_page).size(), 1);
        awaitQuiet();
        QCOMPARE(warnings(*m_page).size(), 1);
        QVERIFY(warnings(*m_page).first().startsWith(QLatin1String("Machine Settings: GRBL reports Inches")));
        qDeleteAll(m_page->findChildren<QMessageBox *>());
        m_link->addMessageStringToWriterReader(QStringLiteral("$$\n"));
        QTRY_COMPARE(field(13)->text(), QStringLiteral("1"));
        awaitQuiet();
        QCOMPARE(warnings(*m_page).size(), 1);
    }

    void driverPagesTalkToTheBoard()
    {
        m_page->findChild<QCheckBox *>(QStringLiteral("checkBox_AdvancedSettings"))->setChecked(true);
        QVERIFY(m_page->findChild<QWidget *>(QStringLiteral("AdvancedSettings"))->isEnabled());
        QTRY_COMPARE(m_page->findChild<QLabel *>(QStringLiteral("label_FirmwareVersion"))->text(), QStringLiteral("1.0.4"));
        QTRY_COMPARE(receivedSinceMark(), (QStringList{"(PLV:Version)", "(PLV:Driver1G)", "(PLV:Driver2G)", "(PLV:Driver3G)"}));
        // The simulated board's stored registers reach each page.
        for (int number = 1; number <= 3; ++number)
            QTRY_COMPARE(m_page->driverPage(number)->config0Word(), QStringLiteral("0011110011010110"));

        MachineDriverSettings *driver = m_page->driverPage(1);
        QVERIFY(driver->applyConfig(QStringLiteral("0011111111111111") + driver->config1Word()));
        markReceived();
        driver->findChild<QPushButton *>(QStringLiteral("Config0_ButtonSave"))->click();
        QTRY_COMPARE(receivedSinceMark(), QStringList{QStringLiteral("(PLV:Driver1S|0011111111111111)")});

        // Another choice on the page, then the board's stored configuration is read back and shown.
        driver->findChild<QRadioButton *>(QStringLiteral("Config0_Microstep_0"))->setChecked(true);
        m_page->writeMessage(QStringLiteral("(PLV:Driver1G)\n"));
        QTRY_COMPARE(driver->config0Word(), QStringLiteral("0011111111111111"));
    }
};

QTEST_MAIN(TestSettingsSimulator)
#include "tst_settings_simulator.moc"
