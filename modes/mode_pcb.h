#pragma once

#include "modes/mode_base.h"

#include <QScopedPointer>
#include <QWidget>

namespace Ui {
class Mode_PCB;
}
class Pcb_Settings;

// Side-bar page of PCB jobs. Loading the board files and milling them come with their own work;
// until then the page takes part in navigation, play/pause and reset like every mode.
class Mode_PCB : public QWidget, public Mode_Base
{
    Q_OBJECT
public:
    explicit Mode_PCB(QWidget *parent = nullptr);
    ~Mode_PCB() override;

    void setPcbSettings(Pcb_Settings *page);

public Q_SLOTS:
    void reset() override;

private:
    QScopedPointer<Ui::Mode_PCB> ui;
    Pcb_Settings *pcbSettings = nullptr;
};
