#include "settingstest.h"
#include "settings/machine_settings.h"
#include "settings/machinedriversettings.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QRadioButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

// Choices as (field, button text): by the visible text, so the form's order of the choices is tested too.
using Choices = QList<QPair<QString, QString>>;
Q_DECLARE_METATYPE(Choices)

namespace {

void choose(MachineDriverSettings &page, const Choices &choices)
{
    for (const auto &pick : choices) {
        QRadioButton *chosen = nullptr;
        for (QRadioButton *button : page.findChild<QGroupBox *>(pick.first)->findChildren<QRadioButton *>())
            chosen = button->text() == pick.second ? button : chosen;
        QVERIFY2(chosen, qPrintable(pick.first + QLatin1String(" / ") + pick.second));
        chosen->setChecked(true);
    }
}

} // namespace

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
        page.getUsbKorvexMessage(QStringLiteral("(PLV:Driver2G|00111111111111110111100000101010)"));
        page.getUsbKorvexMessage(QStringLiteral("(PLV:Driver3|00000000000000001110000000000000)"));
        QCOMPARE(words(2), QStringLiteral("00111111111111110111100000101010"));
        QCOMPARE(words(1), QStringLiteral("00000000000000010110000000000000"));
        QVERIFY(faultFlag(3) && !faultFlag(2));

        // Lines for no page, and payloads too short or not binary, which would clear what they reach if read.
        for (const char *ignored : {"(PLV:Driver4G|00000000000000000100000000000000)", "(PLV:Driver2G|0000)", "(PLV:Driver2G|)",
                                    "(PLV:Driver3|0000000000000000000000000000000)", "(PLV:Driver3|000000000000000000000000000000x0)"})
            page.getUsbKorvexMessage(QLatin1String(ignored));
        QCOMPARE(words(2), QStringLiteral("00111111111111110111100000101010"));
        QVERIFY(faultFlag(3));
    }

    // The driver pages on their own: register words, replies and the fault register.
    void composesAndAppliesRegisterWords_data()
    {
        QTest::addColumn<Choices>("choices");
        QTest::addColumn<QString>("config0");
        QTest::addColumn<QString>("config1");
        QTest::newRow("everything at the top")
            << Choices{{"Config0_SyncRect", "Synchronous"}, {"Config0_Microstep", "Sixteenth Step"}, {"Config0_Current", "100%"},
                       {"Config0_FastDecay", "20 μs"}, {"Config0_BlankTime", "3.5 μs"}, {"Config0_Pwm", "Fixed frequency"},
                       {"Config0_Frequency", "64 μs / 15.6 kHz"}, {"Config0_OffTime", "20 μs"}, {"Config1_Clock", "External"},
                       {"Config1_OvercurrentDelay", "3 μs"}, {"Config1_StDifference", "15"}, {"Config1_Diag", "Temperature"}}
            << "0011111111111111" << "0111100000111111";
        QTest::newRow("fixed off-time 48")
            << Choices{{"Config0_SyncRect", "Diode recirculation"}, {"Config0_Microstep", "Full Step"}, {"Config0_Current", "25%"},
                       {"Config0_FastDecay", "2 μs"}, {"Config0_BlankTime", "1 μs"}, {"Config0_Pwm", "Fixed off-time"},
                       {"Config0_OffTime", "48 μs"}, {"Config0_Frequency", "24 μs / 41.7 kHz"}, {"Config1_Clock", "Internal"},
                       {"Config1_OvercurrentDelay", "0.5 μs"}, {"Config1_StDifference", "10"}, {"Config1_Diag", " Fault–low true"}}
            << "0000000000001110" << "0100000000101000";
        QTest::newRow("nothing chosen") << Choices{} << "0000000000000001" << "0110000000000000";
    }

    void composesAndAppliesRegisterWords()
    {
        QFETCH(Choices, choices);
        QFETCH(QString, config0);
        QFETCH(QString, config1);
        MachineDriverSettings page;
        page.setDriverName(QStringLiteral("Driver2"));
        choose(page, choices);
        QStringList sent;
        connect(&page, &MachineDriverSettings::writeMessage, this, [&sent](const QString &line) { sent << line; });
        for (const char *button : {"Config0_ButtonSave", "Config0_ButtonTest", "Config1_ButtonSave", "Config1_ButtonTest", "Fault_ButtonCheck"})
            page.findChild<QAbstractButton *>(QLatin1String(button))->click();
        const QString close = QStringLiteral(")\n");
        QCOMPARE(sent, (QStringList{"(PLV:Driver2S|" + config0 + close, "(PLV:Driver2T|" + config0 + close, "(PLV:Driver2S|" + config1 + close,
                                    "(PLV:Driver2T|" + config1 + close, "(PLV:Driver2T|" + config0 + close}));

        // The board's reply with these words checks the same choices again, both time fields included.
        MachineDriverSettings echo;
        QVERIFY(echo.applyConfig(config0 + config1));
        QCOMPARE(echo.config0Word(), config0);
        QCOMPARE(echo.config1Word(), config1);
    }

    // Every lamp is lit alone or with neighbours it must not be confused with; all were lit before.
    void showsTheFaultRegister_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("temperature");
        QTest::addColumn<QStringList>("lit");
        QTest::newRow("overtemperature") << "1110000000000000" << "Overtemperature Shutdown"
                                         << QStringList{"Fault_Flag", "Fault_Temperature"};
        QTest::newRow("hot") << "0100000000000000" << "Hot Warning" << QStringList{"Fault_Temperature"};
        QTest::newRow("cold") << "0010000000000000" << "Cold Warning" << QStringList{"Fault_Temperature"};
        QTest::newRow("odd chars") << "0001010101010101" << ""
                                   << QStringList{"Fault_Stall", "Fault_OpenLoadA", "Fault_BMHigh", "Fault_BPHigh", "Fault_AMHigh", "Fault_APHigh"};
        QTest::newRow("even chars") << "0000101010101010" << ""
                                    << QStringList{"Fault_Undervoltage", "Fault_OpenLoadB", "Fault_BMLow", "Fault_BPLow", "Fault_AMLow", "Fault_APLow"};
    }

    void showsTheFaultRegister()
    {
        QFETCH(QString, fault);
        QFETCH(QString, temperature);
        QFETCH(QStringList, lit);
        MachineDriverSettings page;
        QVERIFY(page.showFaults(QString(32, QLatin1Char('1'))));
        QVERIFY(page.showFaults(QString(16, QLatin1Char('0')) + fault));
        QCOMPARE(page.findChild<QLabel *>(QStringLiteral("Fault_TemperatureText"))->text(), temperature);
        const QList<QToolButton *> lamps = page.findChildren<QToolButton *>(QRegularExpression(QStringLiteral("^Fault_")));
        QCOMPARE(lamps.size(), 14);
        for (QToolButton *lamp : lamps)
            QVERIFY2(lamp->isChecked() == lit.contains(lamp->objectName()), qPrintable(lamp->objectName()));
    }
};

QTEST_MAIN(TestMachineSettings)
#include "tst_machine_settings.moc"
