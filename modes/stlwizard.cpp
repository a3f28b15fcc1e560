#include "modes/stlwizard.h"

#include "ui_stlwizard.h"

STLWizard::STLWizard(QWidget *parent)
    : ProjectWizard(parent)
    , ui(new Ui::STLWizard)
{
    ui->setupUi(this);
    setForm({ui->stackedWidget, ui->button_next,
             {ui->radioButton_step0, ui->radioButton_step1, ui->radioButton_step2, ui->radioButton_step3},
             ui->Filename, ui->material_thickness_box, ui->comboBox_Material, ui->comboBox_diameter,
             ui->material_thickness_box_2, ui->comboBox_Material_2, ui->comboBox_diameter_2, ui->ErrorText,
             ui->calculating});
}

STLWizard::~STLWizard() = default;
