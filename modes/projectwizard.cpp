#include "modes/projectwizard.h"

#include "modes/wizardstl.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QStackedWidget>

ProjectWizard::ProjectWizard(QWidget *parent)
    : QWidget(parent)
    , reader(this)
    , loader(QStringLiteral(":/Images/Resources/loader2.gif"))
{
    reader.hide();
    connect(&reader, &FileReaderAsync::fileReaded, this, &ProjectWizard::filereaded);
}

ProjectWizard::~ProjectWizard() = default;

void ProjectWizard::setForm(const Form &widgets)
{
    form = widgets;
    form.calculating->setMovie(&loader);
    auto *materials = new QSqlQueryModel(form.material);
    form.material->setModel(materials);
    form.material->setEditable(true);
    form.material->lineEdit()->setReadOnly(true);
    // The review shows the preset choices before any of them is changed.
    form.reviewThickness->setCurrentText(form.thickness->currentText());
    form.reviewDiameter->setCurrentText(form.diameter->currentText());
    showLoader(false);
}

void ProjectWizard::setChooser(wizardstl *owner)
{
    chooser = owner;
}

void ProjectWizard::restart()
{
    form.errorText->clear();
    loadDataBaseSettings();
    form.pages->setCurrentIndex(0);
    form.next->setText(QStringLiteral("Next"));
    showStep();
    showLoader(false);
    busy = false;
}

void ProjectWizard::on_button_next_clicked()
{
    if (busy)
        return;
    const int last = form.pages->count() - 1;
    const int i = form.pages->currentIndex();
    if (i == last) {
        const QString errors = validationErrors();
        form.errorText->setText(errors);
        if (!errors.isEmpty())
            return;
        showLoader(true);
        busy = true;
        const float thickness = form.reviewThickness->currentText().toFloat();
        Q_EMIT calculate(reader.filePath(), reader.fileText(), thickness, thickness, form.reviewMaterial->currentText(),
                         form.reviewDiameter->currentText().toFloat(), infillChosen(), engraveChosen());
        return;
    }
    form.pages->setCurrentIndex(i + 1);
    if (i + 1 == last)
        form.next->setText(QStringLiteral("Calculate"));
    showStep();
}

QString ProjectWizard::validationErrors() const
{
    QString errors;
    if (reader.fileName().isEmpty())
        errors += QStringLiteral("File is needed\n");
    if (form.reviewThickness->currentText().isEmpty())
        errors += QStringLiteral("Materialthickness is needed\n");
    if (form.reviewMaterial->currentText().isEmpty())
        errors += QStringLiteral("Material is needed\n");
    if (form.reviewDiameter->currentText().isEmpty())
        errors += QStringLiteral("Drill Diameter is needed");
    return errors;
}

void ProjectWizard::on_button_previous_clicked()
{
    if (busy)
        return;
    form.next->setText(QStringLiteral("Next"));
    const int i = form.pages->currentIndex();
    if (i > 0)
        form.pages->setCurrentIndex(i - 1);
    else if (chooser)
        chooser->showChooser();
    showStep();
    showLoader(false);
}

void ProjectWizard::showStep()
{
    const int i = form.pages->currentIndex();
    if (i >= 0 && i < form.steps.size())
        form.steps[i]->setChecked(true);
}

void ProjectWizard::showLoader(bool shown)
{
    form.calculating->setVisible(shown);
    if (shown)
        loader.start();
    else
        loader.stop();
}

void ProjectWizard::loadDataBaseSettings()
{
    const QString material = form.material->currentText();
    const QString diameter = form.diameter->currentText();
    auto *materials = static_cast<QSqlQueryModel *>(form.material->model());
    materials->setQuery(QStringLiteral("SELECT name FROM material"));
    // Before any choice the first material is shown, and the review shows it too.
    if (!material.isEmpty())
        form.material->setCurrentText(material);
    form.reviewMaterial->setCurrentText(form.material->currentText());
    loadCuttersForMaterial(form.material->currentText());
    if (!diameter.isEmpty())
        form.diameter->setCurrentText(diameter);
}

void ProjectWizard::loadCuttersForMaterial(const QString &name)
{
    form.diameter->clear();
    form.diameter->addItems(cutterDiameters(name));
}

QStringList ProjectWizard::cutterDiameters(const QString &material)
{
    // A quote in a material's name is doubled, so the name stays one SQL string.
    QString name = material;
    name.replace(QLatin1Char('\''), QStringLiteral("''"));
    QSqlQuery query(QStringLiteral("SELECT diameter FROM cutter INNER JOIN material ON material.id = cutter.mid Where name = '%1';").arg(name));
    QStringList diameters;
    while (query.next())
        diameters << query.value(0).toString();
    return diameters;
}

void ProjectWizard::on_comboBox_Material_currentIndexChanged(const QString &arg1)
{
    form.reviewMaterial->setCurrentText(arg1);
    loadCuttersForMaterial(arg1);
}

void ProjectWizard::on_material_thickness_box_currentTextChanged(const QString &arg1)
{
    form.reviewThickness->setCurrentText(arg1);
}

void ProjectWizard::on_comboBox_diameter_currentTextChanged(const QString &arg1)
{
    form.reviewDiameter->setCurrentText(arg1);
}

void ProjectWizard::error(const QString &er)
{
    busy = false;
    showLoader(false);
    form.errorText->setText(er);
}

void ProjectWizard::filereaded()
{
    form.filename->setText(reader.fileName());
}

void ProjectWizard::on_openFile_clicked()
{
    reader.openFile();
}
