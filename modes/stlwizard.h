#pragma once

#include "modes/projectwizard.h"

#include <QScopedPointer>

namespace Ui {
class STLWizard;
}

// The questions for milling a 3D part from an STL file: the file, the stock's thickness and material,
// and the cutter. The part is cut as deep as the stock is thick.
class STLWizard : public ProjectWizard
{
    Q_OBJECT
public:
    explicit STLWizard(QWidget *parent = nullptr);
    ~STLWizard() override;

protected:
    bool infillChosen() const override { return false; }
    bool engraveChosen() const override { return false; }

private:
    QScopedPointer<Ui::STLWizard> ui;
};
