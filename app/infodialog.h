#pragma once

#include <QDialog>
#include <QScopedPointer>

namespace Ui {
class InfoDialog;
}

// The one dialog where the machine link, the calculation client and the modes report problems.
// Texts accumulate until the user presses OK, so a burst of errors is read in full. It does not block
// the window: Stop must stay within reach while a program floods it with errors.
class InfoDialog : public QDialog
{
    Q_OBJECT
public:
    ~InfoDialog() override;

    // Created on first use, without a parent, and kept until the program ends.
    static InfoDialog *instance();

    QString text() const;

Q_SIGNALS:
    // An error of a check run, for the check dialog.
    void testError(QString error);

public Q_SLOTS:
    // Appends to what is already shown (callers end their texts with "\n" where they want a break).
    void appendInfo(const QString &text);
    void on_pushButton_clicked();

protected:
    // However the dialog is closed (OK, Escape, the window's close button), what was read is cleared.
    void done(int result) override;

private:
    InfoDialog();

    QScopedPointer<Ui::InfoDialog> ui;
};
