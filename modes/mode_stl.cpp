#include "modes/mode_stl.h"

#include "ui_mode_stl.h"

Mode_STL::Mode_STL(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Mode_STL)
{
    ui->setupUi(this);
}

Mode_STL::~Mode_STL() = default;

void Mode_STL::reset()
{
    setIdle();
}
