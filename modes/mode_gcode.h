#pragma once

#include "modes/mode_base.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFileInfo>
#include <QFuture>
#include <QFutureWatcher>
#include <QList>
#include <QScopedPointer>
#include <QStringList>
#include <QWidget>

#include <atomic>

namespace Ui {
class Mode_Gcode;
}
class DialogGcodeTest;
class GcodeSerialMessage;
class QTimer;
class StayAwake;

// Side-bar page of G-code jobs: a program file is read in the background, checked for line length
// and drawn in the preview; play streams it line by line with progress, pause and resume use GRBL's
// feed hold and cycle start. Single commands can be typed by hand; the machine position is polled
// while it moves.
class Mode_Gcode : public QWidget, public Mode_Base
{
    Q_OBJECT
public:
    static constexpr int maxLineLength = 70;

    explicit Mode_Gcode(QWidget *parent = nullptr);
    ~Mode_Gcode() override;

    void setRender(GcodeRender *render);
    // Reads the file unless it is the one already loaded and unchanged, then draws the program.
    void loadFile(const QString &path);
    QStringList program() const { return programLines; }
    bool isReading() const { return !readDone; }

public Q_SLOTS:
    void finishRead();
    void setProgressBar(qint64 line);
    void lastMsgComplete();
    void sendGcode();
    void dontSendGcode();
    void reset() override;
    void on_input_user_returnPressed();
    void on_button_file_clicked();
    void updatePosition(float x, float y, float z);
    void sendRequestPositionUpdate();

protected:
    void startJob() override;

private:
    QString readProgram(const QString &path);
    void startReadProgram();
    void queueProgram(const QStringList &lines, SerialPort *port);
    void stopQueueing();
    void deleteMessages();
    void endRun();
    void setInputsEnabled(bool enabled);

    QScopedPointer<Ui::Mode_Gcode> ui;
    QFileInfo currentFile;
    // The run's messages that no connection took; a connection releases the ones it took itself.
    QList<GcodeSerialMessage *> messages;
    QStringList programLines;
    DialogGcodeTest *checkDialog;
    QFutureWatcher<QString> readWatcher;
    QEventLoop readLoop;
    QFuture<QString> readResult;
    std::atomic<bool> readDone{true};
    // Play was pressed while the file was still being read: the job starts once the read is done.
    bool startAfterRead = false;
    QEventLoop sendLoop;
    QFutureWatcher<void> sendWatcher;
    std::atomic<bool> queueingCancelled{false};
    QDateTime modificationTime;
    GcodeRender *render = nullptr;
    QTimer *positionTimer;
    StayAwake *stayAwake;
    float lastX = 0.0f;
    float lastY = 0.0f;
    float lastZ = 0.0f;
};
