#include "app/infodialog.h"

#include "ui_infodialog.h"

#include <QScrollBar>
#include <QTextCursor>

InfoDialog::InfoDialog()
    : ui(new Ui::InfoDialog)
{
    ui->setupUi(this);
    // It has no parent window; an unread report must not keep the program alive after the main window closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowFlag(Qt::WindowStaysOnTopHint);
}

InfoDialog::~InfoDialog() = default;

InfoDialog *InfoDialog::instance()
{
    static InfoDialog *const dialog = new InfoDialog;
    return dialog;
}

// Appending costs the new text only, however long the list has grown, and a dialog already shown is
// not shown again.
void InfoDialog::appendInfo(const QString &text)
{
    QTextCursor end(ui->infotext->document());
    end.movePosition(QTextCursor::End);
    end.insertText(text);
    ui->infotext->verticalScrollBar()->setValue(ui->infotext->verticalScrollBar()->maximum());
    if (!isVisible())
        show();
}

QString InfoDialog::text() const
{
    return ui->infotext->toPlainText();
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
