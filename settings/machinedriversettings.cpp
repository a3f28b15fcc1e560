#include "settings/machinedriversettings.h"

#include "ui_machinedriversettings.h"

#include <QRadioButton>
#include <QRegularExpression>

namespace {

const int wordLength = 16;
const int payloadLength = 2 * wordLength;

QList<QRadioButton *> choicesOf(const QGroupBox *field)
{
    return field->findChildren<QRadioButton *>();
}

// The code of a field is the position of its checked choice, written in binary with the field's width.
QString fieldCode(const QGroupBox *field, int width, const QString &whenNoneChecked)
{
    const QList<QRadioButton *> choices = choicesOf(field);
    for (int code = 0; code < choices.size(); ++code) {
        if (choices.at(code)->isChecked())
            return QStringLiteral("%1").arg(code, width, 2, QLatin1Char('0'));
    }
    return whenNoneChecked;
}

QString fieldCode(const QGroupBox *field, int width)
{
    return fieldCode(field, width, QString(width, QLatin1Char('0')));
}

void checkChoice(QGroupBox *field, const QString &bits)
{
    const QList<QRadioButton *> choices = choicesOf(field);
    const int code = bits.toInt(nullptr, 2);
    if (code < choices.size())
        choices.at(code)->setChecked(true);
}

bool isRegisterPayload(const QString &payload)
{
    static const QRegularExpression bits(QStringLiteral("^[01]{%1}").arg(payloadLength));
    return bits.match(payload).hasMatch();
}

} // namespace

MachineDriverSettings::MachineDriverSettings(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::MachineDriverSettings>())
{
    ui->setupUi(this);
    // The fault lamps only show the board's state; a click must not change them.
    for (QToolButton *lamp : ui->tab_Fault->findChildren<QToolButton *>())
        lamp->setAttribute(Qt::WA_TransparentForMouseEvents);
}

MachineDriverSettings::~MachineDriverSettings() = default;

void MachineDriverSettings::setDriverName(const QString &name)
{
    m_driverName = name;
}

QString MachineDriverSettings::config0Word() const
{
    const QString pwm = fieldCode(ui->Config0_Pwm, 1, QStringLiteral("1"));
    const QGroupBox *timeField = pwm == QLatin1String("0") ? ui->Config0_OffTime : ui->Config0_Frequency;
    return QStringLiteral("00") + fieldCode(ui->Config0_SyncRect, 1) + fieldCode(ui->Config0_Microstep, 2)
           + fieldCode(ui->Config0_Current, 2) + fieldCode(ui->Config0_FastDecay, 3)
           + fieldCode(ui->Config0_BlankTime, 2) + fieldCode(timeField, 3) + pwm;
}

QString MachineDriverSettings::config1Word() const
{
    return QStringLiteral("01") + fieldCode(ui->Config1_Clock, 1, QStringLiteral("1"))
           + fieldCode(ui->Config1_OvercurrentDelay, 2) + QStringLiteral("00000")
           + fieldCode(ui->Config1_StDifference, 4) + fieldCode(ui->Config1_Diag, 2);
}

bool MachineDriverSettings::applyConfig(const QString &payload)
{
    if (!isRegisterPayload(payload))
        return false;
    checkChoice(ui->Config0_SyncRect, payload.mid(2, 1));
    checkChoice(ui->Config0_Microstep, payload.mid(3, 2));
    checkChoice(ui->Config0_Current, payload.mid(5, 2));
    checkChoice(ui->Config0_FastDecay, payload.mid(7, 3));
    checkChoice(ui->Config0_BlankTime, payload.mid(10, 2));
    checkChoice(ui->Config0_OffTime, payload.mid(12, 3));
    checkChoice(ui->Config0_Frequency, payload.mid(12, 3));
    checkChoice(ui->Config0_Pwm, payload.mid(15, 1));
    checkChoice(ui->Config1_Clock, payload.mid(18, 1));
    checkChoice(ui->Config1_OvercurrentDelay, payload.mid(19, 2));
    checkChoice(ui->Config1_StDifference, payload.mid(26, 4));
    checkChoice(ui->Config1_Diag, payload.mid(30, 2));
    return true;
}

bool MachineDriverSettings::showFaults(const QString &payload)
{
    if (!isRegisterPayload(payload))
        return false;
    const QString fault = payload.mid(wordLength, wordLength);
    const QList<QPair<int, QToolButton *>> lamps = {
        {0, ui->Fault_Flag},        {4, ui->Fault_Undervoltage}, {5, ui->Fault_Stall},
        {6, ui->Fault_OpenLoadB},   {7, ui->Fault_OpenLoadA},    {8, ui->Fault_BMLow},
        {9, ui->Fault_BMHigh},      {10, ui->Fault_BPLow},       {11, ui->Fault_BPHigh},
        {12, ui->Fault_AMLow},      {13, ui->Fault_AMHigh},      {14, ui->Fault_APLow},
        {15, ui->Fault_APHigh},
    };
    for (const auto &lamp : lamps)
        lamp.second->setChecked(fault.at(lamp.first) == QLatin1Char('1'));
    showTemperature(fault.at(1), fault.at(2));
    return true;
}

void MachineDriverSettings::showTemperature(QChar hot, QChar cold)
{
    const bool isHot = hot == QLatin1Char('1');
    const bool isCold = cold == QLatin1Char('1');
    QString text;
    if (isHot && isCold)
        text = QStringLiteral("Overtemperature Shutdown");
    else if (isHot)
        text = QStringLiteral("Hot Warning");
    else if (isCold)
        text = QStringLiteral("Cold Warning");
    ui->Fault_Temperature->setChecked(isHot || isCold);
    ui->Fault_TemperatureText->setText(text);
}

void MachineDriverSettings::sendWord(QChar action, const QString &word)
{
    emit writeMessage(QStringLiteral("(PLV:") + m_driverName + action + QLatin1Char('|') + word + QStringLiteral(")\n"));
}

void MachineDriverSettings::on_Config0_ButtonSave_clicked()
{
    sendWord(QLatin1Char('S'), config0Word());
}

void MachineDriverSettings::on_Config0_ButtonTest_clicked()
{
    sendWord(QLatin1Char('T'), config0Word());
}

void MachineDriverSettings::on_Config1_ButtonSave_clicked()
{
    sendWord(QLatin1Char('S'), config1Word());
}

void MachineDriverSettings::on_Config1_ButtonTest_clicked()
{
    sendWord(QLatin1Char('T'), config1Word());
}

// Trying Config0 makes the board answer with its status, which carries the fault register.
void MachineDriverSettings::on_Fault_ButtonCheck_clicked()
{
    on_Config0_ButtonTest_clicked();
}
