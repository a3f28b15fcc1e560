#include "settings/machinedriversettings.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
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

class TestDriverSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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

    void refusesBadPayloads_data()
    {
        QTest::addColumn<QString>("payload");
        QTest::newRow("empty") << "";
        QTest::newRow("31 characters") << QString(31, QLatin1Char('1'));
        QTest::newRow("one word only") << "1110000000000000";
        QTest::newRow("not binary") << QStringLiteral("0011111111111111 11110000011111x");
    }

    void refusesBadPayloads()
    {
        QFETCH(QString, payload);
        MachineDriverSettings page;
        choose(page, {{"Config0_Microstep", "Half Step"}});
        const QString before = page.config0Word() + page.config1Word();
        QVERIFY(!page.applyConfig(payload));
        QVERIFY(!page.showFaults(payload));
        QCOMPARE(page.config0Word() + page.config1Word(), before);
        for (QToolButton *lamp : page.findChildren<QToolButton *>())
            QVERIFY(!lamp->isChecked());
    }
};

QTEST_MAIN(TestDriverSettings)
#include "tst_driver_settings.moc"
