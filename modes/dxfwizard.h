#pragma once

#include "modes/projectwizard.h"

#include <QScopedPointer>

namespace Ui {
class DXFWizard;
}

// The questions for milling a 2D drawing from a DXF file: the file, how deep to cut in which material,
// the cutting style (engraving the lines, cutting the figures out, or pocketing them) and the cutter.
class DXFWizard : public ProjectWizard
{
    Q_OBJECT
public:
    explicit DXFWizard(QWidget *parent = nullptr);
    ~DXFWizard() override;

public Q_SLOTS:
    void on_combobox_engrave_changed(int state);
    void on_combobox_cut_changed(int state);
    void on_combobox_infill_changed(int state);

protected:
    bool infillChosen() const override { return infill; }
    bool engraveChosen() const override { return engrave; }

private:
    void showStyle(const QString &picture);

    QScopedPointer<Ui::DXFWizard> ui;
    bool infill = false;
    bool engrave = true;
};
