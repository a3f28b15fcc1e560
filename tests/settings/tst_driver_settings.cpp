#include "settings/machinedriversettings.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

using Choices = QList<QPair<QString, QString>>;
Q_DECLARE_METATYPE(Choices)

class TestDriverSettings : public QObject
{
    Q_OBJECT

private:
    static QRadioButton *choice(MachineDriverSettings &page, const QString &group, const QString &text)
    {
        for (QGroupBox *box : page.findChildren<QGroupBox *>()) {
            if (box->title() != group)
                continue;
            for (QRadioButton *button : box->findChildren<QRadioButton *>()) {
                if (button->text() == text)
                    return button;
            }
        }
        return nullptr;
    }

    static void choose(MachineDriverSettings &page, const Choices &choices)
    {
        for (const auto &pick : choices) {
            QRadioButton *button = choice(page, pick.first, pick.second);
            QVERIFY2(button, qPrintable(pick.first + QLatin1String(" / ") + pick.second));
            button->setChecked(true);
        }
    }

    static void click(MachineDriverSettings &page, const char *button)
    {
        page.findChild<QAbstractButton *>(QLatin1String(button))->click();
    }

    static const QString micro;
    static const QString current;
    static const QString fastDecay;
    static const QString blank;
    static const QString pwm;
    static const QString offTime;
    static const QString frequency;
    static const QString sync;

private Q_SLOTS:
    void composesRegisterWords_data()
    {
        QTest::addColumn<Choices>("choices");
        QTest::addColumn<QString>("config0");
        QTest::addColumn<QString>("config1");
        const QString clock = QStringLiteral("Selects clock source");
        const QString delay = QStringLiteral("Overcurrent fault delay Assumes 4-MHz clock");
        const QString diag = QStringLiteral("Selects signal routed to DIAG output");
        const QString st = QStringLiteral("PWM count difference for ST detection");
        QTest::newRow("everything at the top")
            << Choices{{sync, "Synchronous"}, {micro, "Sixteenth Step"}, {current, "100%"}, {fastDecay, "20 μs"},
                       {blank, "3.5 μs"}, {pwm, "Fixed frequency"}, {frequency, "64 μs / 15.6 kHz"}, {offTime, "20 μs"},
                       {clock, "External"}, {delay, "3 μs"}, {st, "15"}, {diag, "Temperature"}}
            << "0011111111111111" << "0111100000111111";
        QTest::newRow("fixed off-time 48")
            << Choices{{sync, "Diode recirculation"}, {micro, "Full Step"}, {current, "25%"}, {fastDecay, "2 μs"},
                       {blank, "1 μs"}, {pwm, "Fixed off-time"}, {offTime, "48 μs"}, {frequency, "24 μs / 41.7 kHz"},
                       {clock, "Internal"}, {delay, "0.5 μs"}, {st, "10"}, {diag, " Fault–low true"}}
            << "0000000000001110" << "0100000000101000";
        QTest::newRow("nothing chosen") << Choices{} << "0000000000000001" << "0110000000000000";
    }

    void composesRegisterWords()
    {
        QFETCH(Choices, choices);
        QFETCH(QString, config0);
        QFETCH(QString, config1);
        MachineDriverSettings page;
        page.setDriverName(QStringLiteral("Driver2"));
        choose(page, choices);
        QSignalSpy sent(&page, &MachineDriverSettings::writeMessage);
        click(page, "Config0_ButtonSave");
        click(page, "Config0_ButtonTest");
        click(page, "Config1_ButtonSave");
        click(page, "Config1_ButtonTest");
        click(page, "Fault_ButtonCheck");
        QCOMPARE(sent.count(), 5);
        QCOMPARE(sent.at(0).at(0).toString(), QStringLiteral("(PLV:Driver2S|") + config0 + QStringLiteral(")\n"));
        QCOMPARE(sent.at(1).at(0).toString(), QStringLiteral("(PLV:Driver2T|") + config0 + QStringLiteral(")\n"));
        QCOMPARE(sent.at(2).at(0).toString(), QStringLiteral("(PLV:Driver2S|") + config1 + QStringLiteral(")\n"));
        QCOMPARE(sent.at(3).at(0).toString(), QStringLiteral("(PLV:Driver2T|") + config1 + QStringLiteral(")\n"));
        QCOMPARE(sent.at(4).at(0).toString(), sent.at(1).at(0).toString());

        // A reply with these words checks the same choices again on a fresh page.
        MachineDriverSettings echo;
        QVERIFY(echo.applyConfig(config0 + config1));
        if (!choices.isEmpty()) {
            QCOMPARE(echo.config0Word(), config0);
            QCOMPARE(echo.config1Word(), config1);
        }
    }

    void applyingAReplyChecksBothTimeFields()
    {
        MachineDriverSettings page;
        QVERIFY(page.applyConfig(QStringLiteral("0011111111111111") + QStringLiteral("0111100000101010")));
        QVERIFY(choice(page, offTime, QStringLiteral("48 μs"))->isChecked());
        QVERIFY(choice(page, frequency, QStringLiteral("64 μs / 15.6 kHz"))->isChecked());
        QVERIFY(page.findChild<QRadioButton *>(QStringLiteral("s_10"))->isChecked());
        QVERIFY(choice(page, QStringLiteral("Selects signal routed to DIAG output"), QStringLiteral("PWM-on, Phase A"))->isChecked());
    }

    void showsTheFaultRegister_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("temperature");
        QTest::addColumn<QStringList>("lit");
        QTest::newRow("overtemperature") << "1110000000000000" << "Overtemperature Shutdown"
                                         << QStringList{"Fault_Flag", "Fault_Temperature"};
        QTest::newRow("hot") << "0100000000000000" << "Hot Warning" << QStringList{"Fault_Temperature"};
        QTest::newRow("cold and stall") << "0010010000000000" << "Cold Warning" << QStringList{"Fault_Temperature", "Fault_Stall"};
        QTest::newRow("char 3 not shown") << "0001000000000000" << "" << QStringList{};
        QTest::newRow("overcurrents") << "0000100000000011" << "" << QStringList{"Fault_Undervoltage", "Fault_APLow", "Fault_APHigh"};
        QTest::newRow("open loads") << "0000001100000000" << "" << QStringList{"Fault_OpenLoadB", "Fault_OpenLoadA"};
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
        QTest::newRow("not binary") << QStringLiteral("0011111111111111011110000011111x");
        QTest::newRow("spaces") << QStringLiteral("0011111111111111 111100000111111");
    }

    void refusesBadPayloads()
    {
        QFETCH(QString, payload);
        MachineDriverSettings page;
        choose(page, {{micro, "Half Step"}});
        const QString before = page.config0Word() + page.config1Word();
        QVERIFY(!page.applyConfig(payload));
        QVERIFY(!page.showFaults(payload));
        QCOMPARE(page.config0Word() + page.config1Word(), before);
        for (QToolButton *lamp : page.findChildren<QToolButton *>())
            QVERIFY(!lamp->isChecked());
    }
};

const QString TestDriverSettings::micro = QStringLiteral("Microstep mode for external STEP input control");
const QString TestDriverSettings::current = QStringLiteral("Max phase current as a percentage of ISMAX");
const QString TestDriverSettings::fastDecay = QStringLiteral("Fast decay time for mixed decay Assumes 4-MHz clock ");
const QString TestDriverSettings::blank = QStringLiteral("Blank Time Assumes 4-MHz clock");
const QString TestDriverSettings::pwm = QStringLiteral("PWM configuration");
const QString TestDriverSettings::offTime = QStringLiteral("Off time (only valid when PWM = Fixed off-time) Assumes 4-MHz clock");
const QString TestDriverSettings::frequency = QStringLiteral("Frequency (only valid when PWM = Fixed frequency)  Assumes 4-MHz clock ");
const QString TestDriverSettings::sync = QStringLiteral("Synchronous rectification");

QTEST_MAIN(TestDriverSettings)
#include "tst_driver_settings.moc"
