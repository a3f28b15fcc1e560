#pragma once

#include <QDialog>
#include <QScopedPointer>

namespace Ui {
class wizardstl;
}
class DXFWizard;
class STLWizard;

// "Start a new project": the chooser between a 3D part (STL) and a 2D drawing (DXF) and the two
// wizards behind it. It hands a wizard's request to the mode and the mode's answer back.
class wizardstl : public QDialog
{
    Q_OBJECT
public:
    enum Page { ChooserPage = 0, StlPage = 1, DxfPage = 2 };

    explicit wizardstl(QWidget *parent = nullptr);
    ~wizardstl() override;

    // Shows the dialog on its chooser page.
    void showChooser();
    STLWizard *stlWizard() const;
    DXFWizard *dxfWizard() const;
    int currentPage() const;

Q_SIGNALS:
    void calculateFileE(QString filename, QString filecontent, float materialthikness, float cutting_depth,
                        QString material, float mill_diameter, bool infill, bool cut);
    void calcErrorI(QString error);

public Q_SLOTS:
    void on_dxf_clicked();
    void on_lab_on_a_chip_clicked();
    void on_stl_clicked();
    void on_casting_clicked();
    void calculateFileI(QString filename, QString filecontent, float materialthikness, float cutting_depth,
                        QString material, float mill_diameter, bool infill, bool cut);
    // An empty text: the file was calculated, the dialog has done its job.
    void calcErrorE(QString error);

private:
    void openWizard(Page page);

    QScopedPointer<Ui::wizardstl> ui;
};
