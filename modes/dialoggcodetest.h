#pragma once

#include <QDialog>
#include <QList>
#include <QScopedPointer>

namespace Ui {
class DialogGcodeTest;
}
class SerialMessage;

// Follows a check run of a G-code program: progress while the controller answers, the errors it
// reported, and at the end real sending or the user's choice between continuing and aborting.
//
// Nothing opens it yet: GRBL checks a program in its check mode ("$C"), but leaving that mode
// soft-resets the controller, and the link takes the new banner for a restart and ends the
// connection. A check run needs the link to expect that reset first.
class DialogGcodeTest : public QDialog
{
    Q_OBJECT
public:
    explicit DialogGcodeTest(QWidget *parent = nullptr);
    ~DialogGcodeTest() override;

    // The run's messages, before its first answer arrives; their count is the 100 % mark. Takes them over.
    void setCheckMessages(const QList<SerialMessage *> &messages);

Q_SIGNALS:
    void okSend();
    void abort();

public Q_SLOTS:
    void setProgressBar(qint64 line);
    void lastMsgComplete();
    void setErrorText(QString error);
    void on_continue_2_clicked();
    void on_abort_clicked();

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void finish();

    QScopedPointer<Ui::DialogGcodeTest> ui;
    QList<SerialMessage *> checkMessages;
    bool closeAllowed = false;
};
