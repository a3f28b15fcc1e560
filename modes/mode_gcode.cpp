#include "modes/mode_gcode.h"

#include "app/memorypolicy.h"
#include "link/gcodeserialmessage.h"
#include "link/grblline.h"
#include "link/machinestatus.h"
#include "link/serialport.h"
#include "link/serialportreader.h"
#include "link/stayawake.h"
#include "modes/dialoggcodetest.h"
#include "modes/resumepoint.h"
#include "preview/gcoderender.h"
#include "preview/jobtimeestimate.h"
#include "preview/maschine.h"
#include "toolpath/gcodeprogram.h"

#include "ui_mode_gcode.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QSqlQuery>
#include <QtConcurrent>

#include <limits>

namespace {
constexpr int timeDisplayMs = 1000;

void showMessage(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok);
    box.exec();
}

QString position(float value)
{
    return QString::number(value, 'f', 3);
}

// GRBL's real-time override commands.
enum Override : char {
    FeedReset = char(0x90), FeedUp = char(0x91), FeedDown = char(0x92),
    RapidFull = char(0x95), RapidHalf = char(0x96), RapidQuarter = char(0x97),
    SpindleReset = char(0x99), SpindleUp = char(0x9A), SpindleDown = char(0x9B),
};
}

Mode_Gcode::Mode_Gcode(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Mode_Gcode)
    , checkDialog(new DialogGcodeTest(this))
    , timeEstimate(new JobTimeEstimate(this))
    , stayAwake(new StayAwake(this))
{
    ui->setupUi(this);
    GcodeSerialMessage::registerGcodeMode(this);
    GcodeSerialMessage::registerCheckDialog(checkDialog);
    GcodeSerialMessage *carrier = GcodeSerialMessage::instance();
    connect(carrier, &GcodeSerialMessage::setTestProgress, &feeder, &ProgramFeeder::lineAnswered, Qt::QueuedConnection);
    connect(carrier, &GcodeSerialMessage::allTestMSGsSent, this, &Mode_Gcode::checkLinesDone, Qt::QueuedConnection);
    connect(checkDialog, &DialogGcodeTest::okSend, this, &Mode_Gcode::sendGcode, Qt::QueuedConnection);
    connect(checkDialog, &DialogGcodeTest::abort, this, &Mode_Gcode::dontSendGcode, Qt::QueuedConnection);
    connect(&readWatcher, &QFutureWatcher<std::shared_ptr<const GcodeProgram>>::finished, this, &Mode_Gcode::finishRead,
            Qt::QueuedConnection);
    connect(&timeDisplay, &QTimer::timeout, this, &Mode_Gcode::showTimes);
    connect(timeEstimate, &JobTimeEstimate::estimated, this, &Mode_Gcode::showTimes);
    timeDisplay.setInterval(timeDisplayMs);
    connectOverrides();
    QSqlQuery setting(QStringLiteral("SELECT pause_on_error FROM job_settings"));
    if (setting.next())
        ui->checkBox_pause_on_error->setChecked(setting.value(0).toBool());
    Maschine::instance()->setGcodeMode(this);
}

Mode_Gcode::~Mode_Gcode()
{
    readWatcher.waitForFinished();
    Maschine::instance()->setGcodeMode(nullptr);
}

void Mode_Gcode::connectOverrides()
{
    const std::pair<QPushButton *, char> buttons[] = {
        {ui->button_feed_down, FeedDown},       {ui->button_feed_reset, FeedReset},       {ui->button_feed_up, FeedUp},
        {ui->button_spindle_down, SpindleDown}, {ui->button_spindle_reset, SpindleReset}, {ui->button_spindle_up, SpindleUp},
        {ui->button_rapid_25, RapidQuarter},    {ui->button_rapid_50, RapidHalf},         {ui->button_rapid_100, RapidFull},
    };
    for (const auto &button : buttons) {
        const char command = button.second;
        connect(button.first, &QPushButton::clicked, this, [this, command] {
            if (isConnected())
                serialport->sendRealtime(command);
        });
    }
}

void Mode_Gcode::setRender(GcodeRender *preview)
{
    render = preview;
}

void Mode_Gcode::on_button_file_clicked()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Open file"), QDir::rootPath(),
                                                      QStringLiteral("All files (*.*)"));
    if (!path.isEmpty())
        loadFile(path);
}

void Mode_Gcode::loadFile(const QString &path)
{
    const QFileInfo chosen(path);
    if (chosen == currentFile && chosen.lastModified() == modificationTime && chosen.size() == currentFile.size())
        return;
    currentFile = chosen;
    modificationTime = chosen.lastModified();
    readDone = false;
    ui->button_file->setEnabled(false);
    readWatcher.setFuture(QtConcurrent::run([this, path] {
        return std::make_shared<const GcodeProgram>(GcodeProgram::read(path, &readError));
    }));
    readLoop.exec();
    ui->button_file->setEnabled(true);
    const std::shared_ptr<const GcodeProgram> read = readWatcher.result();
    // The finished future would keep the program alive after a Stop.
    readWatcher.setFuture(QFuture<std::shared_ptr<const GcodeProgram>>());
    if (!readError.isEmpty()) {
        showMessage(QStringLiteral("File Error"), readError);
        // A file that cannot be opened leaves the program that was there; a bad one empties it.
        if (!QFileInfo::exists(path))
            return;
    }
    m_program = read;
    ui->spinBox_start_line->setMaximum(int(qBound<qint64>(1, m_program->lineCount(), std::numeric_limits<int>::max())));
    if (render)
        render->loadProgram(m_program);
    timeEstimate->estimate(m_program);
    if (startAfterRead) {
        startAfterRead = false;
        if (!paused && !started)
            startFrom(0, {});
    }
}

void Mode_Gcode::finishRead()
{
    readDone = true;
    readLoop.quit();
}

// A read still running owns the program until it ends; the job then starts unless it was paused or
// stopped meanwhile. Play is never waited for in an event loop of its own, so pressing it again or
// pressing Stop during the read leaves one consistent state.
void Mode_Gcode::startJob()
{
    if (!readDone) {
        startAfterRead = true;
        return;
    }
    startFrom(0, {});
}

void Mode_Gcode::startFrom(qint64 line, const QStringList &preamble)
{
    if (!m_program || m_program->isEmpty()) {
        refuseStartWithoutProgram();
        return;
    }
    started = true;
    paused = false;
    refreshPlayPauseButton();
    setInputsEnabled(false);
    stayAwake->setAwake(true);
    lastAnswered = line;
    showProgress(line, int(m_program->lineCount()));
    runClock.start();
    timeDisplay.start();
    showTimes();
    for (const QString &text : preamble)
        sendText(text + QLatin1Char('\n'));
    feeder.start(m_program, line, serialport, false);
}

// The check dialog's verdict: the real job follows the check.
void Mode_Gcode::sendGcode()
{
    checkRunning = false;
    started = false;
    restoreWorkOffset();
    startFrom(0, {});
}

void Mode_Gcode::dontSendGcode()
{
    checkRunning = false;
    restoreWorkOffset();
    endRun();
}

// The program runs in GRBL's check mode: every line is read and answered, nothing moves.
void Mode_Gcode::on_button_check_clicked()
{
    if (started)
        return;
    if (!m_program || m_program->isEmpty()) {
        refuseStartWithoutProgram();
        return;
    }
    if (!isConnected())
        return;
    started = true;
    checkRunning = true;
    setInputsEnabled(false);
    const MachineStatus &before = serialport->reader()->status();
    workPositionKnown = before.workOffsetKnown;
    workPositionBeforeCheck = before.workPosition();
    checkDialog->startRun(m_program->lineCount());
    sendText(QStringLiteral("$C\n"));
    feeder.start(m_program, 0, serialport, true);
}

// Leaving check mode resets GRBL; the connection holds every later line until its banner.
void Mode_Gcode::checkLinesDone()
{
    if (checkRunning)
        sendText(QStringLiteral("$C\n"));
}

// The reset after the check run cleared the G92 offset; setting the work position the machine had
// before brings the same work coordinates back (the machine did not move).
void Mode_Gcode::restoreWorkOffset()
{
    if (!workPositionKnown)
        return;
    const QVector3D work = workPositionBeforeCheck;
    sendText(QStringLiteral("G92X%1Y%2Z%3\n").arg(position(work.x()), position(work.y()), position(work.z())));
}

void Mode_Gcode::on_button_start_line_clicked()
{
    if (started)
        return;
    if (!m_program || m_program->isEmpty()) {
        refuseStartWithoutProgram();
        return;
    }
    const qint64 line = ui->spinBox_start_line->value() - 1;
    const std::shared_ptr<const GcodeProgram> program = m_program;
    const quint64 stopsBefore = stops;
    QString error;
    ResumePoint point;
    runInBackground([&] { point = ResumePoint::scan(*program, line, &error); });
    if (stops != stopsBefore || program != m_program)
        return;
    if (!error.isEmpty()) {
        showMessage(QStringLiteral("info"), error);
        return;
    }
    startFrom(line, point.preamble());
}

void Mode_Gcode::setProgressBar(qint64 line)
{
    if (!m_program || checkRunning)
        return;
    lastAnswered = line;
    showProgress(line, int(m_program->lineCount()));
    feeder.lineAnswered(line);
    if (render)
        render->setExecutedLine(line);
}

void Mode_Gcode::lastMsgComplete()
{
    endRun();
    showMessage(QStringLiteral("Mill"), QStringLiteral("Milling process completed"));
}

void Mode_Gcode::reset()
{
    ++stops;
    startAfterRead = false;
    if (checkRunning)
        checkDialog->abandon();
    checkRunning = false;
    feeder.stop();
    // Stop gives the program up: what a program of millions of lines took comes back.
    m_program.reset();
    currentFile = QFileInfo();
    if (render)
        render->clearProgram();
    timeEstimate->clear();
    endRun();
    MemoryPolicy::returnFreedPages();
}

void Mode_Gcode::endRun()
{
    setIdle();
    stayAwake->setAwake(false);
    timeDisplay.stop();
    setInputsEnabled(true);
}

void Mode_Gcode::setInputsEnabled(bool enabled)
{
    for (QWidget *input : {static_cast<QWidget *>(ui->input_user), static_cast<QWidget *>(ui->button_file),
                           static_cast<QWidget *>(ui->button_check), static_cast<QWidget *>(ui->button_start_line)})
        input->setEnabled(enabled);
}

void Mode_Gcode::showTimes()
{
    if (!started || !m_program) {
        ui->label_time->clear();
        return;
    }
    QString text = JobTimeEstimate::clockText(runClock.elapsed() / 1000.0) + QStringLiteral(" run");
    if (timeEstimate->isReady())
        text += QStringLiteral(", ") + JobTimeEstimate::clockText(timeEstimate->remainingSeconds(lastAnswered))
            + QStringLiteral(" left");
    ui->label_time->setText(text);
}

bool Mode_Gcode::pausesOnError() const
{
    return ui->checkBox_pause_on_error->isChecked();
}

void Mode_Gcode::on_checkBox_pause_on_error_toggled(bool checked)
{
    QSqlQuery store;
    store.prepare(QStringLiteral("UPDATE job_settings SET pause_on_error = ?"));
    store.addBindValue(checked ? 1 : 0);
    store.exec();
    if (serialport)
        serialport->setPauseOnError(checked);
}

void Mode_Gcode::on_input_user_returnPressed()
{
    const QString typed = ui->input_user->text();
    // A lone "?", "!" or "~" is a real-time command; anything else is sent as GRBL reads it.
    const QString realtime = GrblLine::realtimeCommandOf(typed + QLatin1Char('\n'));
    const QString command = realtime.isEmpty() ? GrblLine::stripped(typed) : realtime;
    ui->input_user->clear();
    if (!isConnected())
        return;
    // A feed hold would keep the command from running.
    serialport->addMessageStringToWriterReader(QStringLiteral("~\n"));
    serialport->addMessageStringToWriterReader(command + QLatin1Char('\n'));
    ui->textBrowser_2->setPlainText(command + QLatin1Char('\n') + ui->textBrowser_2->toPlainText());
}

void Mode_Gcode::sendRequestPositionUpdate()
{
    sendText(QStringLiteral("?\n"));
}

void Mode_Gcode::updatePosition(float x, float y, float z)
{
    ui->label_x->setText(position(x));
    ui->label_y->setText(position(y));
    ui->label_z->setText(position(z));
}

// The live state, as the connection's status polling brings it in.
void Mode_Gcode::showStatus(const MachineStatus &status)
{
    const QVector3D work = status.workPosition();
    ui->label_wx->setText(position(work.x()));
    ui->label_wy->setText(position(work.y()));
    ui->label_wz->setText(position(work.z()));
    ui->label_state->setText(status.state);
    ui->label_motion->setText(QStringLiteral("F %1  S %2").arg(qRound(status.feed)).arg(qRound(status.spindleSpeed)));
    ui->label_feed_override->setText(QStringLiteral("%1 %").arg(status.feedOverride));
    ui->label_rapid_override->setText(QStringLiteral("%1 %").arg(status.rapidOverride));
    ui->label_spindle_override->setText(QStringLiteral("%1 %").arg(status.spindleOverride));
    if (render)
        render->setToolPosition(work.x(), work.y(), work.z());
}

void Mode_Gcode::machineSettingChanged(QString nr, QString value)
{
    timeEstimate->setMachineSetting(nr, value);
}
