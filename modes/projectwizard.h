#pragma once

#include "modes/filereaderasync.h"

#include <QList>
#include <QMovie>
#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class wizardstl;

// What the STL and the DXF wizard share: four pages (file, material, tool, review) walked with Back and
// Next, the review's mirrors of the choices, their validation, and the busy state while the mode has
// the file calculated.
class ProjectWizard : public QWidget
{
    Q_OBJECT
public:
    explicit ProjectWizard(QWidget *parent = nullptr);
    ~ProjectWizard() override;

    void setChooser(wizardstl *chooser);
    // The chooser opened this wizard: first page, nothing pending.
    void restart();
    bool isBusy() const { return busy; }
    FileReaderAsync *fileReader() { return &reader; }

    // The diameters of the cutters stored for a material, as the database lists them.
    static QStringList cutterDiameters(const QString &material);

Q_SIGNALS:
    void calculate(QString filename, QString filecontent, float materialthikness, float cutting_depth,
                   QString material, float mill_diameter, bool infill, bool cut);

public Q_SLOTS:
    void on_button_previous_clicked();
    void on_button_next_clicked();
    void loadDataBaseSettings();
    void loadCuttersForMaterial(const QString &name);
    void on_comboBox_Material_currentIndexChanged(const QString &arg1);
    void on_material_thickness_box_currentTextChanged(const QString &arg1);
    void on_comboBox_diameter_currentTextChanged(const QString &arg1);
    void error(const QString &er);
    void filereaded();
    void on_openFile_clicked();

protected:
    // The widgets of the subclass's form that the shared steps work on.
    struct Form
    {
        QStackedWidget *pages;
        QPushButton *next;
        QList<QRadioButton *> steps;
        QLabel *filename;
        QComboBox *thickness, *material, *diameter;
        QComboBox *reviewThickness, *reviewMaterial, *reviewDiameter;
        QLabel *errorText;
        QLabel *calculating;
    };
    void setForm(const Form &form);
    // The pocketing and the engraving choice handed on with the request.
    virtual bool infillChosen() const = 0;
    virtual bool engraveChosen() const = 0;

private:
    QString validationErrors() const;
    void showStep();
    void showLoader(bool shown);

    FileReaderAsync reader;
    QMovie loader;
    bool busy = false;
    wizardstl *chooser = nullptr;
    Form form{};
};
