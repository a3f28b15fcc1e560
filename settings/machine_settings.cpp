#include "settings/machine_settings.h"

#include "link/serialport.h"
#include "preview/maschine.h"
#include "settings/machinedriversettings.h"
#include "ui_machine_settings.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QtMath>

namespace {

const int writeDelayMs = 1000;

// "$110" -> 110; -1 for anything that is not a setting number this page can hold.
int settingNumber(QString nr)
{
    bool ok = false;
    const int number = nr.remove(QLatin1Char('$')).trimmed().toInt(&ok, 10);
    return ok && number >= 0 && number < Machine_Settings::settingSlots ? number : -1;
}

float floatIn(const QLineEdit *field)
{
    const float value = field->text().toFloat();
    return qIsFinite(value) ? value : 0.0f;
}

// The number forms GRBL itself reads: an optional sign, digits and at most one decimal point.
bool isGrblNumber(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)$"));
    return number.match(text).hasMatch();
}

} // namespace

Machine_Settings::Machine_Settings(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::Machine_Settings>())
{
    ui->setupUi(this);
    Maschine::instance()->setMachineSettings(this);
    ui->Driver1->setDriverName(QStringLiteral("Driver1"));
    ui->Driver2->setDriverName(QStringLiteral("Driver2"));
    ui->Driver3->setDriverName(QStringLiteral("Driver3"));
    collectSettingWidgets();
    loadWorktable();
    m_sendTimer.setSingleShot(true);
    connect(&m_sendTimer, &QTimer::timeout, this, &Machine_Settings::sendMessages);
    for (MachineDriverSettings *driver : {ui->Driver1, ui->Driver2, ui->Driver3})
        connect(driver, &MachineDriverSettings::writeMessage, this, &Machine_Settings::writeMessage);
}

Machine_Settings::~Machine_Settings()
{
    Maschine::instance()->setMachineSettings(nullptr);
}

void Machine_Settings::setSerialPort(SerialPort *port)
{
    m_connection = port;
}

MachineDriverSettings *Machine_Settings::driverPage(int driver) const
{
    switch (driver) {
    case 1: return ui->Driver1;
    case 2: return ui->Driver2;
    case 3: return ui->Driver3;
    default: return nullptr;
    }
}

void Machine_Settings::collectSettingWidgets()
{
    for (int number = 0; number < settingSlots - 1; ++number) {
        const QString suffix = QString::number(number);
        m_valueFields[number] = findChild<QLineEdit *>(QStringLiteral("v_") + suffix);
        m_statusLabels[number] = findChild<QLabel *>(QStringLiteral("s_") + suffix);
        if (m_valueFields[number])
            connect(m_valueFields[number], &QLineEdit::textEdited, this, &Machine_Settings::lineEditChanged);
    }
}

void Machine_Settings::loadWorktable()
{
    QSqlQuery query;
    if (!query.exec(QStringLiteral("SELECT * FROM  maschine_settings where machine_name = \"current\"")) || !query.next())
        return;
    const auto show = [&query](QLineEdit *field, const char *column) {
        field->setText(QString::number(query.value(QLatin1String(column)).toDouble(), 'g', 6));
    };
    show(ui->table_x, "table_size_x");
    show(ui->table_y, "table_size_y");
    show(ui->grid_x, "grid_size_x");
    show(ui->grid_y, "grid_size_y");
    announceWorktable();
}

void Machine_Settings::storeWorktableValue(const char *column, const QString &text)
{
    const float value = text.toFloat();
    QSqlQuery query;
    query.exec(QStringLiteral("UPDATE maschine_settings SET %1 = %2 where machine_name = \"current\"; ")
                   .arg(QLatin1String(column), QString::number(qIsFinite(value) ? value : 0.0f)));
    announceWorktable();
}

void Machine_Settings::announceWorktable()
{
    emit tableChanged(floatIn(ui->table_x), floatIn(ui->table_y), floatIn(ui->grid_x), floatIn(ui->grid_y));
}

void Machine_Settings::on_table_x_textEdited(const QString &arg1)
{
    storeWorktableValue("table_size_x", arg1);
}

void Machine_Settings::on_table_y_textEdited(const QString &arg1)
{
    storeWorktableValue("table_size_y", arg1);
}

void Machine_Settings::on_grid_x_textEdited(const QString &arg1)
{
    storeWorktableValue("grid_size_x", arg1);
}

void Machine_Settings::on_grid_y_textEdited(const QString &arg1)
{
    storeWorktableValue("grid_size_y", arg1);
}

void Machine_Settings::updateGRBLSetting(const QString &nr, const QString &value)
{
    const int number = settingNumber(nr);
    if (number < 0)
        return;
    // A written value comes back with the line's end and GRBL may append a comment in parentheses.
    const QString text = value.split(QLatin1Char('('), Qt::SkipEmptyParts).value(0).trimmed();
    if (m_valueFields[number])
        m_valueFields[number]->setText(text);
    checkRequiredSetting(number, text);
}

// The program relies on status reports ($10) and on millimetres ($13). Values that are not numbers say
// nothing about either and raise no warning.
void Machine_Settings::checkRequiredSetting(int number, const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok)
        return;
    if (number == 10 && value == 0)
        warn(QStringLiteral("GRBL hastn enabled report status\nKorvex Software need $10=1 to work (current value 0)"));
    else if (number == 13 && value != 0)
        warn(QStringLiteral("GRBL reports Inches\nKorvex Software need $13=0 to work (current value 1)"));
}

// Not modal in the blocking sense: the warning comes from the serial reader, which must keep reading.
void Machine_Settings::warn(const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Machine Settings"), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void Machine_Settings::lineEditChanged(const QString &text)
{
    const int number = settingNumber(sender() ? sender()->objectName().remove(QStringLiteral("v_")) : QString());
    if (number < 0)
        return;
    m_sendTimer.start(writeDelayMs);
    m_pendingWrites.insert(number, text.trimmed());
}

void Machine_Settings::sendMessages()
{
    const QMap<int, QString> writes = std::exchange(m_pendingWrites, {});
    for (auto write = writes.cbegin(); write != writes.cend(); ++write) {
        // Only numbers go to the controller, so a typo never reaches its EEPROM; anything else is
        // marked once the typing has paused, not at a half-typed "-" or an emptied field.
        if (isGrblNumber(write.value()))
            queueLine(QStringLiteral("$%1=%2\n").arg(write.key()).arg(write.value()));
        else
            markStatus(write.key(), false);
    }
}

void Machine_Settings::successGRBLSetting(const QString &nr, const QString &, bool status)
{
    const int number = settingNumber(nr);
    if (number >= 0)
        markStatus(number, status);
}

void Machine_Settings::markStatus(int number, bool saved)
{
    QLabel *label = m_statusLabels[number];
    if (!label)
        return;
    label->setText(saved ? QStringLiteral("SAVED") : QStringLiteral("ERROR"));
    label->setStyleSheet(saved ? QStringLiteral("QLabel {  color : green; }") : QStringLiteral("QLabel {  color : red; }"));
    if (m_lastMarkedLabel && m_lastMarkedLabel != label && m_lastMarkedLabel->text() == QLatin1String("SAVED"))
        m_lastMarkedLabel->clear();
    m_lastMarkedLabel = label;
}

void Machine_Settings::writeMessage(const QString &message)
{
    queueLine(message);
}

void Machine_Settings::queueLine(const QString &text)
{
    if (m_connection)
        m_connection->addMessageStringToWriterReader(text);
}

void Machine_Settings::getUsbKorvexMessage(const QString &arg1)
{
    const auto payloadAfter = [&arg1](const QString &prefix) {
        return arg1.trimmed().mid(prefix.size()).remove(QLatin1Char(')'));
    };
    const QString versionPrefix = QStringLiteral("(PLV:Version|");
    if (arg1.startsWith(versionPrefix)) {
        ui->label_FirmwareVersion->setText(payloadAfter(versionPrefix));
        return;
    }
    for (int driver = 1; driver <= 3; ++driver) {
        const QString configPrefix = QStringLiteral("(PLV:Driver%1G|").arg(driver);
        if (arg1.startsWith(configPrefix)) {
            driverPage(driver)->applyConfig(payloadAfter(configPrefix));
            return;
        }
    }
    for (int driver = 1; driver <= 3; ++driver) {
        const QString statusPrefix = QStringLiteral("(PLV:Driver%1|").arg(driver);
        if (arg1.startsWith(statusPrefix)) {
            driverPage(driver)->showFaults(payloadAfter(statusPrefix));
            return;
        }
    }
}

void Machine_Settings::on_checkBox_AdvancedSettings_stateChanged(int state)
{
    ui->AdvancedSettings->setEnabled(state != 0);
    for (const char *request : {"(PLV:Version)\n", "(PLV:Driver1G)\n", "(PLV:Driver2G)\n", "(PLV:Driver3G)\n"})
        queueLine(QString::fromLatin1(request));
}

void Machine_Settings::on_DriverTabs_currentChanged(int index)
{
    ui->AdvancedSettings->setFixedHeight(index != 0 ? 1200 : 150);
    ui->AdvancedSettings->adjustSize();
}
