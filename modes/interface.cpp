#include "modes/interface.h"

#include "link/checkdoormessage.h"
#include "link/serialport.h"
#include "modes/mode_gcode.h"
#include "modes/mode_pcb.h"
#include "modes/mode_stl.h"

#include "ui_interface.h"

#include <QMessageBox>

namespace {
const QString underlined = QStringLiteral("border-bottom: 5px solid grey;");
const QString notUnderlined = QStringLiteral("border-bottom: none;");
}

Interface::Interface(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Interface)
{
    ui->setupUi(this);
    ui->mode_gcode->setInterfaceUi(ui.data());
    showPage(HomePage);
    underline(ui->button_zentra);
    m_render.createWindow(ui->Area_3D);
    ui->mode_gcode->setRender(&m_render);
    ui->mode_pcb->setupMode(&m_tcpSender, &m_render, ui.data());
    ui->mode_stl->setupMode(&m_tcpSender, &m_render, ui.data());
    connect(CheckDoorMessage::instance(), &CheckDoorMessage::doorOpen, this, &Interface::doorOpen,
            Qt::QueuedConnection);
}

Interface::~Interface() = default;

Mode_Base *Interface::mode(qint32 index) const
{
    switch (index) {
    case StlMode:
        return ui->mode_stl;
    case PcbMode:
        return ui->mode_pcb;
    default:
        return ui->mode_gcode;
    }
}

void Interface::setSerialPort(SerialPort *port)
{
    for (qint32 index : {StlMode, PcbMode, GcodeMode})
        mode(index)->setSerialPort(port);
    if (port)
        port->setPauseOnError(ui->mode_gcode->pausesOnError());
}

void Interface::pauseRunningJobs()
{
    for (qint32 index : {StlMode, PcbMode, GcodeMode}) {
        if (mode(index)->isStarted())
            mode(index)->setPaused(true);
    }
}

void Interface::pauseCurrentMode()
{
    CheckDoorMessage::setDoorOpen(true);
    mode(currentMode)->setPaused(true);
}

void Interface::refreshPreview()
{
    m_render.refresh();
}

void Interface::reset()
{
    for (qint32 index : {GcodeMode, PcbMode, StlMode})
        mode(index)->reset();
}

void Interface::doorOpen(bool door_status)
{
    if (door_status) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("info"), QStringLiteral("First close the door"),
                        QMessageBox::Ok);
        box.exec();
        CheckDoorMessage::setDoorOpen(true);
        mode(currentMode)->setPaused(true);
        return;
    }
    if (ui->Modes->currentIndex() != WorkPage)
        return;
    ui->mode_stl->doorClosed();
    ui->mode_pcb->doorClosed();
}

void Interface::on_button_gcode_clicked()
{
    ui->mode_gcode->sendRequestPositionUpdate();
    m_render.showGcodeMode();
    showMode(GcodeMode);
    underline(ui->button_gcode);
}

void Interface::on_button_pcb_clicked()
{
    m_render.showPcbMode();
    showMode(PcbMode);
    underline(ui->button_pcb);
}

void Interface::on_button_stl_clicked()
{
    m_render.showStlMode();
    showMode(StlMode);
    underline(ui->button_stl);
}

void Interface::on_button_settings_clicked()
{
    showPage(SettingsPage);
    underline(ui->button_settings);
}

void Interface::on_button_zentra_clicked()
{
    showPage(HomePage);
    underline(ui->button_zentra);
    underline(ui->button_zentra);
}

void Interface::on_button_Contact_clicked()
{
    showPage(ContactPage);
    underline(ui->button_Contact);
}

void Interface::on_button_play_pause_clicked()
{
    if (ui->Modes->currentIndex() != WorkPage)
        return;
    mode(currentMode)->playPause();
}

void Interface::on_button_stop_clicked()
{
    emit stopRequested();
}

void Interface::showMode(qint32 index)
{
    showPage(WorkPage);
    ui->Mode->setCurrentIndex(index);
    currentMode = index;
    m_render.refresh();
}

void Interface::showPage(int page)
{
    ui->Modes->setCurrentIndex(page);
}

void Interface::underline(QPushButton *button)
{
    const QList<QPushButton *> menu{ui->button_zentra, ui->button_gcode, ui->button_pcb,
                                    ui->button_stl,    ui->button_Contact, ui->button_settings};
    for (QPushButton *item : menu)
        item->setStyleSheet(item == button ? underlined : notUnderlined);
}
