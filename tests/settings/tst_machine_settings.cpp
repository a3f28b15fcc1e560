#include "settings/database.h"
#include "settings/machine_settings.h"
#include "settings/machinedriversettings.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

class TestMachineSettings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_databases = 0;

    static QLineEdit *field(Machine_Settings &page, const QString &name)
    {
        return page.findChild<QLineEdit *>(name);
    }

    static QLabel *status(Machine_Settings &page, int number)
    {
        return page.findChild<QLabel *>(QStringLiteral("s_%1").arg(number));
    }

    static int warnings(Machine_Settings &page, const QString &start)
    {
        int shown = 0;
        for (QMessageBox *box : page.findChildren<QMessageBox *>())
            shown += box->isVisible() && box->text().startsWith(start) ? 1 : 0;
        return shown;
    }

    static double stored(const QString &column)
    {
        QSqlQuery query(QStringLiteral("SELECT %1 FROM maschine_settings WHERE machine_name = 'current'").arg(column));
        return query.next() ? query.value(0).toDouble() : -1;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(!initDatabase(m_dir.filePath(QStringLiteral("factory"))).isValid());
    }

    void init()
    {
        const QString copy = m_dir.filePath(QStringLiteral("db%1").arg(++m_databases));
        QVERIFY(QFile::copy(m_dir.filePath(QStringLiteral("factory")), copy));
        initDatabase(copy);
    }

    void everyListedSettingHasAFieldAndAStatus()
    {
        Machine_Settings page;
        const QList<int> listed = {0, 1, 2, 3, 4, 5, 6, 10, 11, 12, 13, 20, 21, 22, 23, 24, 25, 26, 27,
                                   30, 31, 32, 100, 101, 102, 110, 111, 112, 120, 121, 122, 130, 131, 132};
        for (int number : listed) {
            QVERIFY2(field(page, QStringLiteral("v_%1").arg(number)), qPrintable(QString::number(number)));
            QVERIFY2(status(page, number), qPrintable(QString::number(number)));
        }
    }

    void receivedSettingsAreShown_data()
    {
        QTest::addColumn<QString>("nr");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("fieldName");
        QTest::addColumn<QString>("shown");
        QTest::newRow("listed") << "$110" << "500.000" << "v_110" << "500.000";
        QTest::newRow("comment") << "$100" << "250.000 (x, step/mm)" << "v_100" << "250.000";
        QTest::newRow("acknowledged write") << "$24" << "25\n" << "v_24" << "25";
        QTest::newRow("garbage value") << "$1" << "#!" << "v_1" << "#!";
        QTest::newRow("not listed") << "$7" << "3" << "" << "";
        QTest::newRow("above 150") << "$151" << "3" << "" << "";
        QTest::newRow("far above") << "$99999999999" << "3" << "" << "";
        QTest::newRow("negative") << "$-1" << "3" << "" << "";
        QTest::newRow("no number") << "$" << "3" << "" << "";
        QTest::newRow("words") << "$N0" << "G54" << "" << "";
    }

    void receivedSettingsAreShown()
    {
        QFETCH(QString, nr);
        QFETCH(QString, value);
        QFETCH(QString, fieldName);
        QFETCH(QString, shown);
        Machine_Settings page;
        page.updateGRBLSetting(nr, value);
        page.successGRBLSetting(nr, value, true);
        if (fieldName.isEmpty()) {
            for (QLineEdit *edit : page.findChildren<QLineEdit *>(QRegularExpression(QStringLiteral("^v_"))))
                QVERIFY(edit->text().isEmpty());
            for (QLabel *label : page.findChildren<QLabel *>(QRegularExpression(QStringLiteral("^s_\\d+$"))))
                QVERIFY(label->text().isEmpty());
        } else {
            QCOMPARE(field(page, fieldName)->text(), shown);
        }
    }

    void requiredSettingsWarn_data()
    {
        QTest::addColumn<QString>("nr");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("inches");
        QTest::addColumn<int>("noReports");
        QTest::newRow("inches") << "$13" << "1" << 1 << 0;
        QTest::newRow("millimetres") << "$13" << "0" << 0 << 0;
        QTest::newRow("no status report") << "$10" << "0" << 0 << 1;
        QTest::newRow("status report") << "$10" << "1" << 0 << 0;
        QTest::newRow("garbage") << "$13" << "yes" << 0 << 0;
        QTest::newRow("garbage report") << "$10" << "" << 0 << 0;
    }

    void requiredSettingsWarn()
    {
        QFETCH(QString, nr);
        QFETCH(QString, value);
        QFETCH(int, inches);
        QFETCH(int, noReports);
        Machine_Settings page;
        page.updateGRBLSetting(nr, value);
        QCOMPARE(warnings(page, QStringLiteral("GRBL reports Inches\nKorvex Software need $13=0")), inches);
        QCOMPARE(warnings(page, QStringLiteral("GRBL hastn enabled report status\nKorvex Software need $10=1")), noReports);
    }

    void marksSavedAndError()
    {
        Machine_Settings page;
        page.successGRBLSetting(QStringLiteral("$110"), QStringLiteral("500\n"), true);
        QCOMPARE(status(page, 110)->text(), QStringLiteral("SAVED"));
        QVERIFY(status(page, 110)->styleSheet().contains(QLatin1String("green")));
        page.successGRBLSetting(QStringLiteral("$111"), QStringLiteral("abc\n"), false);
        QCOMPARE(status(page, 110)->text(), QString());
        QCOMPARE(status(page, 111)->text(), QStringLiteral("ERROR"));
        QVERIFY(status(page, 111)->styleSheet().contains(QLatin1String("red")));
        page.successGRBLSetting(QStringLiteral("$112"), QStringLiteral("500\n"), true);
        QCOMPARE(status(page, 111)->text(), QStringLiteral("ERROR"));
        QCOMPARE(status(page, 112)->text(), QStringLiteral("SAVED"));
        page.successGRBLSetting(QStringLiteral("$112"), QStringLiteral("400\n"), true);
        QCOMPARE(status(page, 112)->text(), QStringLiteral("SAVED"));
        page.successGRBLSetting(QStringLiteral("$160"), QStringLiteral("1\n"), true);
        QCOMPARE(status(page, 112)->text(), QStringLiteral("SAVED"));
    }

    void typedTextThatIsNoNumberIsMarked()
    {
        Machine_Settings page;
        QLineEdit *rate = field(page, QStringLiteral("v_110"));
        QTest::keyClicks(rate, QStringLiteral("5x"));
        QCOMPARE(status(page, 110)->text(), QStringLiteral("ERROR"));
        QTest::keyClick(rate, Qt::Key_Backspace);
        QCOMPARE(status(page, 110)->text(), QStringLiteral("ERROR"));
    }

    void worktableIsStoredAndAnnounced()
    {
        Machine_Settings page;
        QCOMPARE(field(page, QStringLiteral("table_x"))->text(), QStringLiteral("300"));
        QCOMPARE(field(page, QStringLiteral("grid_y"))->text(), QStringLiteral("50"));
        QSignalSpy announced(&page, &Machine_Settings::tableChanged);
        const QList<QPair<const char *, const char *>> edits = {
            {"table_x", "table_size_x"}, {"table_y", "table_size_y"}, {"grid_x", "grid_size_x"}, {"grid_y", "grid_size_y"}};
        for (const auto &edit : edits) {
            QLineEdit *line = field(page, QLatin1String(edit.first));
            line->clear();
            QTest::keyClicks(line, QStringLiteral("25"));
            QCOMPARE(stored(QLatin1String(edit.second)), 25.0);
        }
        QCOMPARE(announced.count(), 8);
        QCOMPARE(announced.last(), (QVariantList{25.0f, 25.0f, 25.0f, 25.0f}));
        QLineEdit *tableX = field(page, QStringLiteral("table_x"));
        tableX->clear();
        QTest::keyClicks(tableX, QStringLiteral("a"));
        QCOMPARE(stored(QStringLiteral("table_size_x")), 0.0);
    }

    void aMissingWorktableLeavesTheFieldsEmpty()
    {
        QSqlQuery query;
        QVERIFY(query.exec(QStringLiteral("DROP TABLE maschine_settings")));
        Machine_Settings page;
        QVERIFY(field(page, QStringLiteral("table_x"))->text().isEmpty());
    }

    void vendorRepliesReachTheirPage()
    {
        Machine_Settings page;
        page.getUsbKorvexMessage(QStringLiteral("(PLV:Version|2.1.0)"));
        QCOMPARE(page.findChild<QLabel *>(QStringLiteral("label_FirmwareVersion"))->text(), QStringLiteral("2.1.0"));

        page.getUsbKorvexMessage(QStringLiteral("(PLV:Driver2G|00111111111111110111100000101010)"));
        QCOMPARE(page.driverPage(2)->config0Word(), QStringLiteral("0011111111111111"));
        QCOMPARE(page.driverPage(2)->config1Word(), QStringLiteral("0111100000101010"));
        QCOMPARE(page.driverPage(1)->config0Word(), QStringLiteral("0000000000000001"));

        page.getUsbKorvexMessage(QStringLiteral("(PLV:Driver3|00000000000000001110000000000000)"));
        QVERIFY(page.driverPage(3)->findChild<QToolButton *>(QStringLiteral("Fault_Flag"))->isChecked());
        QVERIFY(!page.driverPage(2)->findChild<QToolButton *>(QStringLiteral("Fault_Flag"))->isChecked());

        page.getUsbKorvexMessage(QStringLiteral("(PLV:Driver2G|0000)"));
        page.getUsbKorvexMessage(QStringLiteral("(PLV:Driver2G|)"));
        page.getUsbKorvexMessage(QStringLiteral("(PLV:Driver4G|00000000000000000100000000000000)"));
        page.getUsbKorvexMessage(QStringLiteral("(PLV:Driver3|0000000000000000111)"));
        QCOMPARE(page.driverPage(2)->config0Word(), QStringLiteral("0011111111111111"));
        QVERIFY(page.driverPage(3)->findChild<QToolButton *>(QStringLiteral("Fault_Flag"))->isChecked());
    }

    void advancedAreaFollowsTheCheckBox()
    {
        Machine_Settings page;
        auto *area = page.findChild<QGroupBox *>(QStringLiteral("AdvancedSettings"));
        QVERIFY(!area->isEnabled());
        page.findChild<QCheckBox *>(QStringLiteral("checkBox_AdvancedSettings"))->setChecked(true);
        QVERIFY(area->isEnabled());
        page.findChild<QTabWidget *>(QStringLiteral("DriverTabs"))->setCurrentIndex(2);
        QCOMPARE(area->height(), 1200);
        page.findChild<QTabWidget *>(QStringLiteral("DriverTabs"))->setCurrentIndex(0);
        QCOMPARE(area->height(), 150);
    }
};

QTEST_MAIN(TestMachineSettings)
#include "tst_machine_settings.moc"
