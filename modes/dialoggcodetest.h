#pragma once

#include <QDialog>
#include <QScopedPointer>

namespace Ui {
class DialogGcodeTest;
}

// Follows a check run of a G-code program in GRBL's check mode: progress while the controller answers,
// the errors it reported, and at the end real sending or the user's choice between continuing and
// aborting. It does not block the window: Stop stays within reach.
class DialogGcodeTest : public QDialog
{
    Q_OBJECT
public:
    explicit DialogGcodeTest(QWidget *parent = nullptr);
    ~DialogGcodeTest() override;

    // A run of this many lines begins (the 100 % mark); the dialog opens.
    void startRun(qint64 lineCount);
    // The run was stopped: the dialog closes without a verdict.
    void abandon();

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
    qint64 lineCount = 0;
    bool closeAllowed = false;
};
