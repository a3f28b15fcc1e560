#include "app/infodialog.h"

#include "app/mainwindow.h"
#include "ui_infodialog.h"

InfoDialog::InfoDialog()
    : ui(new Ui::InfoDialog)
{
    ui->setupUi(this);
    // It has no parent window; an unread report must not keep the program alive after the main window closed.
    setAttribute(Qt::WA_QuitOnClose, false);
}

InfoDialog::~InfoDialog() = default;

InfoDialog *InfoDialog::instance()
{
    static InfoDialog *const dialog = new InfoDialog;
    return dialog;
}

void InfoDialog::attachMainWindow(MainWindow *window)
{
    InfoDialog *dialog = instance();
    connect(dialog, &InfoDialog::openQTMessageBox, window, &MainWindow::showQTInfo, Qt::QueuedConnection);
    connect(dialog, &InfoDialog::allPause, window, &MainWindow::modePause, Qt::QueuedConnection);
}

void InfoDialog::appendInfo(const QString &text)
{
    ui->infotext->setText(ui->infotext->text() + text);
    show();
}

QString InfoDialog::text() const
{
    return ui->infotext->text();
}

void InfoDialog::on_pushButton_clicked()
{
    close();
}

void InfoDialog::done(int result)
{
    QDialog::done(result);
    ui->infotext->clear();
}
