#include "modes/dialoggcodetest.h"

#include "app/infodialog.h"
#include "link/serialmessage.h"

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

void DialogGcodeTest::setCheckMessages(const QList<SerialMessage *> &messages)
{
    qDeleteAll(checkMessages);
    checkMessages = messages;
    // As their parent the dialog owns them; the link then leaves them alone once answered.
    for (SerialMessage *message : messages)
        message->setParent(this);
}

void DialogGcodeTest::setProgressBar(qint64 line)
{
    if (checkMessages.isEmpty())
        return;
    ui->progressBar->setValue(int(float(line) / float(checkMessages.size()) * 100.0f));
}

void DialogGcodeTest::setErrorText(QString error)
{
    ui->error_text->setText(ui->error_text->text() + error);
}

void DialogGcodeTest::lastMsgComplete()
{
    ui->progressBar->setValue(100);
    qDeleteAll(checkMessages);
    checkMessages.clear();
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
