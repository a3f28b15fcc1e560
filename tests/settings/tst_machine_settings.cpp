#include "settingstest.h"
#include "settings/machine_settings.h"
#include "settings/machinedriversettings.h"

#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

class TestMachineSettings : public QObject
{
    Q_OBJECT

    FactoryDatabase m_factory;

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_factory.create()); }
    void init() { QVERIFY(m_factory.openCopy()); }

    // A setting line from the controller, acknowledged as written.
    void receivedSettings_data()
    {
        QTest::addColumn<QString>("nr");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QStringList>("warned");
        const QString inches = QStringLiteral("Machine Settings: GRBL reports Inches\nKorvex Software need $13=0 to work (current value 1)");
        const QString noReports = QStringLiteral("Machine Settings: GRBL hastn enabled report status\nKorvex Software need $10=1 to work (current value 0)");
        QTest::newRow("listed") << "$110" << "500.000" << QStringList{"s_110 SAVED", "v_110=500.000"} << QStringList();
        QTest::newRow("comment") << "$100" << "250.000 (x, step/mm)" << QStringList{"s_100 SAVED", "v_100=250.000"} << QStringList();
        QTest::newRow("line end") << "$24" << "25\n" << QStringList{"s_24 SAVED", "v_24=25"} << QStringList();
        QTest::newRow("garbage value") << "$1" << "#!" << QStringList{"s_1 SAVED", "v_1=#!"} << QStringList();
        QTest::newRow("inches") << "$13" << "1" << QStringList{"s_13 SAVED", "v_13=1"} << QStringList{inches};
        QTest::newRow("millimetres") << "$13" << "0" << QStringList{"s_13 SAVED", "v_13=0"} << QStringList();
        QTest::newRow("inches garbage") << "$13" << "yes" << QStringList{"s_13 SAVED", "v_13=yes"} << QStringList();
        QTest::newRow("no reports") << "$10" << "0" << QStringList{"s_10 SAVED", "v_10=0"} << QStringList{noReports};
        QTest::newRow("reports") << "$10" << "1" << QStringList{"s_10 SAVED", "v_10=1"} << QStringList();
        QTest::newRow("reports empty") << "$10" << "" << QStringList{"s_10 SAVED"} << QStringList();
        for (const char *nr : {"$7", "$151", "$99999999999", "$-1", "$", "$N0"})
            QTest::newRow(nr) << nr << "0" << QStringList() << QStringList();
    }

    void receivedSettings()
    {
        QFETCH(QString, nr);
        QFETCH(QString, value);
        QFETCH(QStringList, shown);
        QFETCH(QStringList, warned);
        Machine_Settings page;
        page.updateGRBLSetting(nr, value);
        // Twice: a mark must not clear itself.
        page.successGRBLSetting(nr, value, true);
        page.successGRBLSetting(nr, value, true);
        QCOMPARE(shownSettings(page), shown);
        QCOMPARE(warnings(page), warned);
    }

    void worktableIsLoadedStoredAndAnnounced()
    {
        Machine_Settings page;
        QSignalSpy announced(&page, &Machine_Settings::tableChanged);
        const QList<QPair<const char *, const char *>> fields = {
            {"table_x", "table_size_x"}, {"table_y", "table_size_y"}, {"grid_x", "grid_size_x"}, {"grid_y", "grid_size_y"}};
        QStringList loaded;
        for (const auto &field : fields) {
            auto *edit = page.findChild<QLineEdit *>(QLatin1String(field.first));
            loaded << edit->text();
            edit->clear();
            QTest::keyClicks(edit, QStringLiteral("25"));
            QCOMPARE(storedInCurrentProfile(QLatin1String(field.second)).toDouble(), 25.0);
        }
        QCOMPARE(loaded, (QStringList{"300", "480", "50", "50"}));
        QCOMPARE(announced.count(), 8);
        QCOMPARE(announced.last(), (QVariantList{25.0f, 25.0f, 25.0f, 25.0f}));
        QTest::keyClicks(page.findChild<QLineEdit *>(QStringLiteral("table_x")), QStringLiteral("a"));
        QCOMPARE(storedInCurrentProfile(QStringLiteral("table_size_x")).toDouble(), 0.0);
    }

    void aMissingWorktableLeavesTheFieldsEmpty()
    {
        QVERIFY(execSql(QStringLiteral("DROP TABLE maschine_settings")));
        Machine_Settings page;
        QVERIFY(page.findChild<QLineEdit *>(QStringLiteral("table_x"))->text().isEmpty());
    }

    void vendorRepliesReachTheirPage()
    {
        Machine_Settings page;
        const auto words = [&page](int driver) { return page.driverPage(driver)->config0Word() + page.driverPage(driver)->config1Word(); };
        const auto faultFlag = [&page](int driver) {
            return page.driverPage(driver)->findChild<QToolButton *>(QStringLiteral("Fault_Flag"))->isChecked();
        };
        page.getUsbKorvexMessage(QStringLiteral("(PLV:Version|2.1.0)"));
        QCOMPARE(page.findChild<QLabel *>(QStringLiteral("label_FirmwareVersion"))->text(), QStringLiteral("2.1.0"));
        page.getUsbKorvexMessage(QStringLiteral("(PLV:Driver2G|00111111111111110111100000101010)"));
        page.getUsbKorvexMessage(QStringLiteral("(PLV:Driver3|00000000000000001110000000000000)"));
        QCOMPARE(words(2), QStringLiteral("00111111111111110111100000101010"));
        QCOMPARE(words(1), QStringLiteral("00000000000000010110000000000000"));
        QVERIFY(faultFlag(3) && !faultFlag(2));

        for (const char *ignored : {"(PLV:Driver2G|0000)", "(PLV:Driver2G|)", "(PLV:Driver4G|00000000000000000100000000000000)",
                                    "(PLV:Driver3|0000000000000000111)"})
            page.getUsbKorvexMessage(QLatin1String(ignored));
        QCOMPARE(words(2), QStringLiteral("00111111111111110111100000101010"));
        QVERIFY(faultFlag(3));
    }
};

QTEST_MAIN(TestMachineSettings)
#include "tst_machine_settings.moc"
