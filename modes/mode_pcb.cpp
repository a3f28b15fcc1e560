#include "modes/mode_pcb.h"

#include "preview/maschine.h"

#include "ui_mode_pcb.h"

Mode_PCB::Mode_PCB(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Mode_PCB)
{
    ui->setupUi(this);
    Maschine::instance()->setPcbMode(this);
}

Mode_PCB::~Mode_PCB()
{
    Maschine::instance()->setPcbMode(nullptr);
}

void Mode_PCB::setPcbSettings(Pcb_Settings *page)
{
    pcbSettings = page;
}

void Mode_PCB::reset()
{
    setIdle();
}
