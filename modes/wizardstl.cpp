#include "modes/wizardstl.h"

#include "modes/dxfwizard.h"
#include "modes/stlwizard.h"

#include "ui_wizardstl.h"

wizardstl::wizardstl(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::wizardstl)
{
    ui->setupUi(this);
    for (ProjectWizard *wizard : {static_cast<ProjectWizard *>(ui->stlWizard), static_cast<ProjectWizard *>(ui->dxfWizard)}) {
        wizard->setChooser(this);
        connect(this, &wizardstl::calcErrorI, wizard, &ProjectWizard::error);
        connect(wizard, &ProjectWizard::calculate, this, &wizardstl::calculateFileI);
    }
}

wizardstl::~wizardstl() = default;

STLWizard *wizardstl::stlWizard() const
{
    return ui->stlWizard;
}

DXFWizard *wizardstl::dxfWizard() const
{
    return ui->dxfWizard;
}

int wizardstl::currentPage() const
{
    return ui->stackedWidget->currentIndex();
}

void wizardstl::showChooser()
{
    show();
    activateWindow();
    ui->stackedWidget->setCurrentIndex(ChooserPage);
}

void wizardstl::on_dxf_clicked()
{
    openWizard(DxfPage);
}

void wizardstl::on_lab_on_a_chip_clicked()
{
    openWizard(DxfPage);
}

void wizardstl::on_stl_clicked()
{
    openWizard(StlPage);
}

void wizardstl::on_casting_clicked()
{
    openWizard(StlPage);
}

void wizardstl::openWizard(Page page)
{
    ui->stackedWidget->setCurrentIndex(page);
    if (page == StlPage)
        ui->stlWizard->restart();
    else
        ui->dxfWizard->restart();
}

void wizardstl::calculateFileI(QString filename, QString filecontent, float materialthikness, float cutting_depth,
                               QString material, float mill_diameter, bool infill, bool cut)
{
    Q_EMIT calculateFileE(filename, filecontent, materialthikness, cutting_depth, material, mill_diameter, infill, cut);
}

void wizardstl::calcErrorE(QString error)
{
    if (!error.isEmpty()) {
        Q_EMIT calcErrorI(error);
        return;
    }
    ui->stackedWidget->setCurrentIndex(ChooserPage);
    close();
}
