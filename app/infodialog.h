#pragma once

#include <QDialog>
#include <QScopedPointer>

namespace Ui {
class InfoDialog;
}
class MainWindow;

// The one dialog where the machine link, the calculation client and the modes report problems.
// Texts accumulate until the user presses OK, so a burst of errors is read in full.
class InfoDialog : public QDialog
{
    Q_OBJECT
public:
    ~InfoDialog() override;

    // Created on first use, without a parent, and kept until the program ends.
    static InfoDialog *instance();

    // The window that shows the tool change prompt and pauses the job modes; connected queued, so
    // the signals may be emitted from deep inside the reader's call chain.
    static void attachMainWindow(MainWindow *window);

    // Appends to what is already shown (callers end their texts with "\n" where they want a break).
    void appendInfo(const QString &text);
    QString text() const;

Q_SIGNALS:
    void openQTMessageBox(QString text, int type);
    void testError(QString error);
    void allPause();

public Q_SLOTS:
    void on_pushButton_clicked();

protected:
    // However the dialog is closed (OK, Escape, the window's close button), what was read is cleared.
    void done(int result) override;

private:
    InfoDialog();

    QScopedPointer<Ui::InfoDialog> ui;
};
