#pragma once

#include <QDialog>
#include <QScopedPointer>

namespace Ui {
class PCBChangeMessageBox;
}

// The tool change prompt of a PCB job: picture of the tool, the instruction, advice on changing the
// cutter. It only informs; the job continues when the user presses play on the main page.
class PCBChangeMessageBox : public QDialog
{
    Q_OBJECT
public:
    // The prompt types; each has its picture.
    enum ToolType { Engraving = 0, Outline = 1, Drill = 2 };

    explicit PCBChangeMessageBox(QWidget *parent = nullptr);
    ~PCBChangeMessageBox() override;

    // Shows the picture of the tool type (none for an unknown type) and the instruction text.
    void fill(int type, const QString &text);

public Q_SLOTS:
    void on_pushButton_clicked();

private:
    QScopedPointer<Ui::PCBChangeMessageBox> ui;
};
