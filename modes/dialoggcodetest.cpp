#include "modes/dialoggcodetest.h"

#include "app/infodialog.h"

#include "ui_dialoggcodetest.h"

#include <QCloseEvent>

DialogGcodeTest::DialogGcodeTest(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::DialogGcodeTest)
{
    ui->setupUi(this);
    // The choice only makes sense once the check has finished.
    ui->continue_2->hide();
    ui->abort->hide();
    connect(InfoDialog::instance(), &InfoDialog::testError, this, &DialogGcodeTest::setErrorText);
}

DialogGcodeTest::~DialogGcodeTest() = default;

void DialogGcodeTest::startRun(qint64 lines)
{
    lineCount = lines;
    closeAllowed = false;
    ui->progressBar->setValue(0);
    ui->error_text->clear();
    ui->continue_2->hide();
    ui->abort->hide();
    open();
}

void DialogGcodeTest::abandon()
{
    lineCount = 0;
    finish();
}

void DialogGcodeTest::setProgressBar(qint64 line)
{
    if (lineCount <= 0)
        return;
    ui->progressBar->setValue(int(float(line) / float(lineCount) * 100.0f));
}

void DialogGcodeTest::setErrorText(QString error)
{
    ui->error_text->setText(ui->error_text->text() + error);
}

void DialogGcodeTest::lastMsgComplete()
{
    if (lineCount <= 0)
        return;
    lineCount = 0;
    ui->progressBar->setValue(100);
    if (!ui->error_text->text().isEmpty()) {
        ui->abort->show();
        ui->continue_2->show();
        return;
    }
    Q_EMIT okSend();
    finish();
}

void DialogGcodeTest::on_continue_2_clicked()
{
    Q_EMIT okSend();
    finish();
}

void DialogGcodeTest::on_abort_clicked()
{
    Q_EMIT abort();
    finish();
}

void DialogGcodeTest::finish()
{
    closeAllowed = true;
    close();
}

void DialogGcodeTest::closeEvent(QCloseEvent *event)
{
    if (closeAllowed)
        QDialog::closeEvent(event);
    else
        event->ignore();
}

void DialogGcodeTest::keyPressEvent(QKeyEvent *event)
{
    // Escape must not reject the dialog in the middle of a run.
    event->accept();
}
