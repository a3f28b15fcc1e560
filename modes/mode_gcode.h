#pragma once

#include "modes/mode_base.h"
#include "modes/programfeeder.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QScopedPointer>
#include <QTimer>
#include <QVector3D>
#include <QWidget>

#include <memory>

namespace Ui {
class Mode_Gcode;
}
class DialogGcodeTest;
class GcodeProgram;
class JobTimeEstimate;
class StayAwake;
struct MachineStatus;

// Side-bar page of G-code jobs: a program file is read in the background, checked and drawn in the
// preview; play streams it line by line with progress, pause and resume use GRBL's feed hold and cycle
// start. While connected the page shows the machine's live state, its overrides, and the time the job
// has run and has left. A program can be checked in GRBL's check mode first, and started part-way.
// Single commands can be typed by hand.
class Mode_Gcode : public QWidget, public Mode_Base
{
    Q_OBJECT
public:
    explicit Mode_Gcode(QWidget *parent = nullptr);
    ~Mode_Gcode() override;

    void setRender(GcodeRender *render);
    // Reads the file unless it is the one already loaded and unchanged, then draws the program.
    void loadFile(const QString &path);
    std::shared_ptr<const GcodeProgram> program() const { return m_program; }
    bool isReading() const { return !readDone; }
    bool pausesOnError() const;

public Q_SLOTS:
    void finishRead();
    void setProgressBar(qint64 line);
    void lastMsgComplete();
    void sendGcode();
    void dontSendGcode();
    void reset() override;
    void on_input_user_returnPressed();
    void on_button_file_clicked();
    void on_button_check_clicked();
    void on_button_start_line_clicked();
    void on_checkBox_pause_on_error_toggled(bool checked);
    void updatePosition(float x, float y, float z);
    void showStatus(const MachineStatus &status);
    void machineSettingChanged(QString nr, QString value);
    void sendRequestPositionUpdate();

protected:
    void startJob() override;

private:
    void startFrom(qint64 line, const QStringList &preamble);
    void checkLinesDone();
    void restoreWorkOffset();
    void showTimes();
    void connectOverrides();
    void endRun();
    void setInputsEnabled(bool enabled);

    QScopedPointer<Ui::Mode_Gcode> ui;
    QFileInfo currentFile;
    std::shared_ptr<const GcodeProgram> m_program;
    DialogGcodeTest *checkDialog;
    QFutureWatcher<std::shared_ptr<const GcodeProgram>> readWatcher;
    QEventLoop readLoop;
    bool readDone = true;
    QString readError;
    // Play was pressed while the file was still being read: the job starts once the read is done.
    bool startAfterRead = false;
    // Counts the stops, so a step that waited in an event loop knows whether the job it was for still stands.
    quint64 stops = 0;
    QDateTime modificationTime;
    GcodeRender *render = nullptr;
    ProgramFeeder feeder;
    JobTimeEstimate *timeEstimate;
    QElapsedTimer runClock;
    QTimer timeDisplay;
    qint64 lastAnswered = 0;
    // The work position when a check run began, where the work offset is known: leaving check mode resets
    // GRBL, and its G92 offset with it.
    QVector3D workPositionBeforeCheck;
    bool workPositionKnown = false;
    bool checkRunning = false;
    StayAwake *stayAwake;
};
