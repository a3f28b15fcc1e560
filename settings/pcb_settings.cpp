#include "settings/pcb_settings.h"

#include "preview/maschine.h"
#include "ui_pcb_settings.h"

#include <QLineEdit>
#include <QtMath>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

// Text that is not a finite number counts as 0, both when stored and when announced.
double numberIn(const QString &text)
{
    const double value = text.toDouble();
    return qIsFinite(value) ? value : 0.0;
}

float valueOf(const QLineEdit *field)
{
    const float value = field->text().toFloat();
    return qIsFinite(value) ? value : 0.0f;
}

} // namespace

Pcb_Settings::Pcb_Settings(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::Pcb_Settings>())
{
    ui->setupUi(this);
    Maschine::instance()->setPcbSettings(this);
    for (QLineEdit *field : findChildren<QLineEdit *>())
        connect(field, &QLineEdit::textEdited, this, &Pcb_Settings::lineEditChanged);
    loadCurrentProfile();
    announceGeometry();
}

void Pcb_Settings::announceGeometry()
{
    announceSize();
    announcePosition();
    announceProbePosition();
}

Pcb_Settings::~Pcb_Settings()
{
    Maschine::instance()->setPcbSettings(nullptr);
}

void Pcb_Settings::loadCurrentProfile()
{
    QSqlQuery query(QStringLiteral("SELECT * FROM  maschine_settings where machine_name = \"current\""));
    if (!query.next())
        return;
    const QSqlRecord row = query.record();
    for (QLineEdit *field : findChildren<QLineEdit *>()) {
        const int column = row.indexOf(field->objectName());
        if (column >= 0)
            field->setText(QString::number(row.value(column).toDouble(), 'g', 6));
    }
}

void Pcb_Settings::lineEditChanged(const QString &text)
{
    const QString column = sender() ? sender()->objectName() : QString();
    if (column.isEmpty())
        return;
    // The column name is the sender's object name from the form, never typed text, and the value is
    // always a formatted number, so the statement cannot carry anything the user typed verbatim.
    QSqlQuery query;
    query.exec(QStringLiteral("UPDATE maschine_settings SET %1 = %2 where machine_name = \"current\"; ")
                   .arg(column, QString::number(numberIn(text), 'g', 6)));
}

void Pcb_Settings::announcePosition()
{
    emit pcbPositionChanged(valueOf(ui->pcb_position_x), valueOf(ui->pcb_position_y), 0.0f);
}

void Pcb_Settings::announceSize()
{
    emit pcbSizeChanged(valueOf(ui->pcb_size_x), valueOf(ui->pcb_size_y), valueOf(ui->pcb_size_z));
}

void Pcb_Settings::announceProbePosition()
{
    emit pcbProbePositionChanged(valueOf(ui->probe_position_x), valueOf(ui->probe_position_y), valueOf(ui->pcb_size_z));
}

void Pcb_Settings::on_pcb_position_x_textEdited(const QString &)
{
    announcePosition();
}

void Pcb_Settings::on_pcb_position_y_textEdited(const QString &)
{
    announcePosition();
}

void Pcb_Settings::on_pcb_size_x_textEdited(const QString &)
{
    announceSize();
    announcePosition();
}

void Pcb_Settings::on_pcb_size_y_textEdited(const QString &)
{
    announceSize();
    announcePosition();
}

void Pcb_Settings::on_pcb_size_z_textEdited(const QString &)
{
    announceSize();
    announcePosition();
    announceProbePosition();
}

void Pcb_Settings::on_probe_position_x_textEdited(const QString &)
{
    announceProbePosition();
}

void Pcb_Settings::on_probe_position_y_textEdited(const QString &)
{
    announceProbePosition();
}

float Pcb_Settings::drillFeedrate() const
{
    return valueOf(ui->drill_bit_feedrate);
}

float Pcb_Settings::outlineMillDepth() const
{
    return valueOf(ui->outline_bit_mill_depth);
}

float Pcb_Settings::outlineDiameter() const
{
    return valueOf(ui->outline_bit_diameter);
}

float Pcb_Settings::outlineFeedrate() const
{
    return valueOf(ui->outline_bit_feedrate);
}

float Pcb_Settings::getPCBHeight() const
{
    return valueOf(ui->pcb_size_z);
}

QVector3D Pcb_Settings::probePosition() const
{
    return {valueOf(ui->probe_position_x), valueOf(ui->probe_position_y), 0.0f};
}
