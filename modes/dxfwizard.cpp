#include "modes/dxfwizard.h"

#include "ui_dxfwizard.h"

DXFWizard::DXFWizard(QWidget *parent)
    : ProjectWizard(parent)
    , ui(new Ui::DXFWizard)
{
    ui->setupUi(this);
    setForm({ui->stackedWidget, ui->button_next,
             {ui->radioButton_step0, ui->radioButton_step1, ui->radioButton_step2, ui->radioButton_step3},
             ui->Filename, ui->material_thickness_box, ui->comboBox_Material, ui->comboBox_diameter,
             ui->material_thickness_box_2, ui->comboBox_Material_2, ui->comboBox_diameter_2, ui->ErrorText,
             ui->calculating});
    connect(ui->checkBox_engrave, &QCheckBox::stateChanged, this, &DXFWizard::on_combobox_engrave_changed);
    connect(ui->checkBox_cut, &QCheckBox::stateChanged, this, &DXFWizard::on_combobox_cut_changed);
    connect(ui->checkBox_infill, &QCheckBox::stateChanged, this, &DXFWizard::on_combobox_infill_changed);
}

DXFWizard::~DXFWizard() = default;

void DXFWizard::on_combobox_engrave_changed(int state)
{
    engrave = state == Qt::Checked;
    if (!engrave)
        return;
    ui->checkBox_cut->setChecked(false);
    ui->checkBox_infill->setChecked(false);
    showStyle(QStringLiteral(":/Images/Resources/dxf_engrave.jpg"));
}

void DXFWizard::on_combobox_cut_changed(int state)
{
    if (state != Qt::Checked)
        return;
    ui->checkBox_engrave->setChecked(false);
    ui->checkBox_infill->setChecked(false);
    showStyle(QStringLiteral(":/Images/Resources/dxf_cut.jpg"));
}

void DXFWizard::on_combobox_infill_changed(int state)
{
    infill = state == Qt::Checked;
    if (!infill)
        return;
    ui->checkBox_cut->setChecked(false);
    ui->checkBox_engrave->setChecked(false);
    showStyle(QStringLiteral(":/Images/Resources/dxf_infill.jpg"));
}

void DXFWizard::showStyle(const QString &picture)
{
    ui->type_image->setPixmap(QPixmap(picture));
}
