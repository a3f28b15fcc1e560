#pragma once

#include "modes/mode_base.h"

#include <QScopedPointer>
#include <QWidget>

namespace Ui {
class Mode_STL;
}

// Side-bar page of STL and DXF jobs. The project wizards and milling come with their own work;
// until then the page takes part in navigation, play/pause and reset like every mode.
class Mode_STL : public QWidget, public Mode_Base
{
    Q_OBJECT
public:
    explicit Mode_STL(QWidget *parent = nullptr);
    ~Mode_STL() override;

public Q_SLOTS:
    void reset() override;

private:
    QScopedPointer<Ui::Mode_STL> ui;
};
