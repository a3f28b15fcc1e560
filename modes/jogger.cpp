#include "modes/jogger.h"

#include "link/checkdoormessage.h"
#include "link/serialport.h"
#include "link/stopjoggingmessage.h"

#include "ui_jogger.h"

namespace {
// The slider runs from 1 to 500; its label shows the feed in mm/min.
constexpr float sliderPerFeed = 2.5f;
}

Jogger::Jogger(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::Jogger)
    , upJog(QStringLiteral("$J=G21 G90 G53 Z0 "))
    , downJog(QStringLiteral("$J=G21 G90 G53 Z-65 "))
    , spindleOn(QStringLiteral("S12000 M3\n"))
{
    ui->setupUi(this);
    on_slider_jogging_speed_valueChanged(ui->slider_jogging_speed->value());
}

Jogger::~Jogger() = default;

void Jogger::setSerialPort(SerialPort *port)
{
    serialport = port;
}

void Jogger::open()
{
    Q_EMIT moveTo(reference);
    ui->radioButton_drag->setChecked(true);
    touchOff = true;
    pending.clear();
    setWindowModality(Qt::WindowModal);
    QDialog::open();
}

void Jogger::reject()
{
    Q_EMIT abord();
    touchOff = false;
    send(QStringLiteral("M5\n"));
    QDialog::reject();
}

bool Jogger::doorAllows(Action action)
{
    if (!CheckDoorMessage::isDoorOpen())
        return true;
    pending.append(action);
    if (serialport)
        serialport->addMessageToWriterReader(new CheckDoorMessage);
    return false;
}

void Jogger::on_joggingDown1_hover()
{
}

void Jogger::on_joggingDown1_pressed()
{
    jogDownAt(15.0f);
}

void Jogger::on_joggingDown2_pressed()
{
    jogDownAt(30.0f);
}

void Jogger::on_joggingDown3_pressed()
{
    jogDownAt(50.0f);
}

void Jogger::on_joggingDown4_pressed()
{
    jogDownAt(150.0f);
}

void Jogger::on_joggingDown5_pressed()
{
    jogDownAt(250.0f);
}

void Jogger::jogDownAt(float jogFeed)
{
    if (!doorAllows(JogDown))
        return;
    feed = jogFeed;
    jog(downJog);
}

void Jogger::on_jogging_down_pressed()
{
    if (doorAllows(JogDown))
        jog(downJog);
}

void Jogger::on_jogging_up_pressed()
{
    if (!doorAllows(JogUp))
        return;
    feed = 200.0f;
    jog(upJog);
}

void Jogger::jog(const QString &command)
{
    send(spindleOn);
    send(command + QLatin1Char('F') + QString::number(double(feed), 'g', 6) + QLatin1Char('\n'));
}

void Jogger::on_joggingDown1_released()
{
    stopJogging();
}

void Jogger::on_joggingDown2_released()
{
    stopJogging();
}

void Jogger::on_joggingDown3_released()
{
    stopJogging();
}

void Jogger::on_joggingDown4_released()
{
    stopJogging();
}

void Jogger::on_joggingDown5_released()
{
    stopJogging();
}

void Jogger::on_jogging_down_released()
{
    stopJogging();
}

void Jogger::on_jogging_up_released()
{
    stopJogging();
}

// A jog lasts only while its button is held: a jog refused at the door is not replayed after its release.
void Jogger::stopJogging()
{
    pending.clear();
    if (serialport)
        serialport->addMessageToWriterReader(new StopJoggingMessage);
}

void Jogger::on_jogging_finished_clicked()
{
    touchOff = false;
    Q_EMIT startMilling();
    accept();
}

void Jogger::dismiss()
{
    touchOff = false;
    pending.clear();
    done(Rejected);
}

void Jogger::on_slider_jogging_speed_sliderMoved(int position)
{
    on_slider_jogging_speed_valueChanged(position);
}

// The jog feed is the value the label shows, so the user gets the speed that is written there.
void Jogger::on_slider_jogging_speed_valueChanged(int value)
{
    feed = float(value) / sliderPerFeed;
    ui->label_Feedrate->setText(QString::number(double(feed), 'f', 2));
}

void Jogger::on_radioButton_upper_left_clicked()
{
    chooseReference(UpperLeft);
}

void Jogger::on_radioButton_center_clicked()
{
    chooseReference(Centre);
}

void Jogger::on_radioButton_upper_right_clicked()
{
    chooseReference(UpperRight);
}

void Jogger::on_radioButton_lower_left_clicked()
{
    chooseReference(LowerLeft);
}

void Jogger::on_radioButton_lower_right_clicked()
{
    chooseReference(LowerRight);
}

void Jogger::chooseReference(Position position)
{
    reference = position;
    if (doorAllows(MoveToReference))
        Q_EMIT moveTo(reference);
}

void Jogger::on_j_manual_X_editingFinished()
{
    manualPositionEdited();
}

void Jogger::on_j_manual_Y_editingFinished()
{
    manualPositionEdited();
}

void Jogger::manualPositionEdited()
{
    if (ui->radioButton_manual->isChecked() && doorAllows(ManualPosition))
        applyManualPosition();
}

void Jogger::on_radioButton_manual_clicked()
{
    if (doorAllows(ManualPosition))
        applyManualPosition();
}

void Jogger::applyManualPosition()
{
    Q_EMIT setStart(QVector2D(ui->j_manual_X->text().toFloat(), ui->j_manual_Y->text().toFloat()));
    Q_EMIT moveTo(reference);
}

void Jogger::doorIsClosed()
{
    if (!touchOff || pending.isEmpty())
        return;
    carryOut(pending.takeFirst());
}

void Jogger::carryOut(int action)
{
    switch (action) {
    case JogUp:
        jog(upJog);
        break;
    case JogDown:
        jog(downJog);
        break;
    case ManualPosition:
        applyManualPosition();
        break;
    default:
        Q_EMIT moveTo(reference);
        break;
    }
}

void Jogger::send(const QString &line)
{
    if (serialport)
        serialport->addMessageStringToWriterReader(line);
}
