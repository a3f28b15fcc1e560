#include "modes/mode_gcode.h"

#include "link/gcodeserialmessage.h"
#include "link/grblline.h"
#include "link/serialport.h"
#include "link/stayawake.h"
#include "modes/dialoggcodetest.h"
#include "preview/gcoderender.h"
#include "preview/maschine.h"

#include "ui_interface.h"
#include "ui_mode_gcode.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <QtConcurrent>

namespace {
constexpr int positionPollMs = 500;
// Reading stops at this many bytes per line, so a file without line ends (a binary or a sparse
// file) is rejected after a few kilobytes instead of being read whole into memory.
constexpr qint64 longestLineShown = 4096;

void showMessage(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok);
    box.exec();
}
}

Mode_Gcode::Mode_Gcode(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Mode_Gcode)
    , checkDialog(new DialogGcodeTest(this))
    , positionTimer(new QTimer(this))
    , stayAwake(new StayAwake(this))
{
    ui->setupUi(this);
    GcodeSerialMessage::registerGcodeMode(this);
    GcodeSerialMessage::registerCheckDialog(checkDialog);
    connect(checkDialog, &DialogGcodeTest::okSend, this, &Mode_Gcode::sendGcode, Qt::QueuedConnection);
    connect(checkDialog, &DialogGcodeTest::abort, this, &Mode_Gcode::dontSendGcode, Qt::QueuedConnection);
    connect(positionTimer, &QTimer::timeout, this, &Mode_Gcode::sendRequestPositionUpdate);
    connect(&readWatcher, &QFutureWatcher<QString>::finished, this, &Mode_Gcode::finishRead, Qt::QueuedConnection);
    connect(&sendWatcher, &QFutureWatcher<void>::finished, &sendLoop, &QEventLoop::quit);
    Maschine::instance()->setGcodeMode(this);
}

Mode_Gcode::~Mode_Gcode()
{
    stopQueueing();
    readWatcher.waitForFinished();
    deleteMessages();
    Maschine::instance()->setGcodeMode(nullptr);
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
    readResult = QtConcurrent::run(this, &Mode_Gcode::readProgram, path);
    readWatcher.setFuture(readResult);
    readLoop.exec();
    ui->button_file->setEnabled(true);
    const QString error = readResult.result();
    if (!error.isEmpty())
        showMessage(QStringLiteral("File Error"), error);
    if (render)
        render->loadGcode(programLines, 0);
    if (startAfterRead) {
        startAfterRead = false;
        if (!paused && !started)
            startReadProgram();
    }
}

// Runs on a pool thread while the window waits for it; the program is touched by nobody else meanwhile.
// The lines are kept as GRBL reads them: comments and line end characters go, as GRBL ignores them
// and they cost space in its buffer; what remains must hold nothing GRBL takes as a command.
QString Mode_Gcode::readProgram(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return file.errorString();
    programLines.clear();
    QByteArray buffer(longestLineShown, Qt::Uninitialized);
    while (!file.atEnd()) {
        const qint64 length = file.readLine(buffer.data(), buffer.size());
        if (length < 0) {
            programLines.clear();
            return file.errorString();
        }
        const bool complete = length > 0 && buffer.at(int(length) - 1) == '\n';
        QString line = QString::fromUtf8(buffer.constData(), int(complete ? length - 1 : length));
        line.remove(QLatin1Char('\r'));
        if (line.size() > maxLineLength) {
            programLines.clear();
            return QStringLiteral("This line:") + line + QStringLiteral(" is too long max 70 chars per line");
        }
        const QString sendable = GrblLine::stripped(line);
        const int unsafe = GrblLine::unsafeCharacterAt(sendable);
        if (unsafe >= 0) {
            const int number = programLines.size() + 1;
            programLines.clear();
            return QStringLiteral("Line %1 holds %2, which the controller takes as a command: %3")
                .arg(number)
                .arg(GrblLine::describeCharacter(sendable.at(unsafe)), line);
        }
        programLines.append(sendable);
    }
    readDone = true;
    return QString();
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
    startReadProgram();
}

void Mode_Gcode::startReadProgram()
{
    if (programLines.isEmpty()) {
        refuseStartWithoutProgram();
        return;
    }
    stayAwake->setAwake(true);
    sendGcode();
}

void Mode_Gcode::sendGcode()
{
    started = true;
    setInputsEnabled(false);
    queueingCancelled = false;
    sendWatcher.setFuture(QtConcurrent::run(this, &Mode_Gcode::queueProgram, programLines, serialport));
    sendLoop.exec();
}

// Runs on a pool thread. The port pointer is taken once: the window may drop its own copy meanwhile,
// but the connection object outlives this step, because reset() waits for it.
void Mode_Gcode::queueProgram(const QStringList &lines, SerialPort *port)
{
    QThread *const windowThread = QCoreApplication::instance()->thread();
    const quint32 lastLine = quint32(lines.size());
    quint32 lineNumber = 0;
    for (const QString &line : lines) {
        if (queueingCancelled)
            return;
        auto *message = new GcodeSerialMessage;
        message->setContent(line + QLatin1Char('\n'));
        message->setLineNumber(++lineNumber);
        // Marked before it is handed over: the controller may answer it before this thread runs again.
        message->setLast(lineNumber == lastLine);
        if (!port) {
            message->moveToThread(windowThread);
            messages.append(message);
            continue;
        }
        if (!port->isConnected()) {
            delete message;
            return;
        }
        port->addMessageToWriterReader(message);
    }
}

void Mode_Gcode::setProgressBar(qint64 line)
{
    if (programLines.isEmpty() || !interfaceUi)
        return;
    const int percent = int(float(line) / float(programLines.size()) * 100.0f);
    interfaceUi->button_time->setText(QString::number(percent) + QLatin1Char('%'));
}

void Mode_Gcode::lastMsgComplete()
{
    setIdle();
    stayAwake->setAwake(false);
    showMessage(QStringLiteral("Mill"), QStringLiteral("Milling process completed"));
    deleteMessages();
    setInputsEnabled(true);
}

void Mode_Gcode::dontSendGcode()
{
    endRun();
}

void Mode_Gcode::reset()
{
    startAfterRead = false;
    sendLoop.quit();
    stopQueueing();
    deleteMessages();
    currentFile = QFileInfo();
    endRun();
}

// The queueing step checks the flag before every line, so the wait is for one line at most.
void Mode_Gcode::stopQueueing()
{
    queueingCancelled = true;
    sendWatcher.waitForFinished();
}

void Mode_Gcode::deleteMessages()
{
    qDeleteAll(messages);
    messages.clear();
}

void Mode_Gcode::endRun()
{
    setIdle();
    stayAwake->setAwake(false);
    setInputsEnabled(true);
}

void Mode_Gcode::setInputsEnabled(bool enabled)
{
    ui->input_user->setEnabled(enabled);
    ui->button_file->setEnabled(enabled);
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
    positionTimer->start(positionPollMs);
}

void Mode_Gcode::sendRequestPositionUpdate()
{
    sendText(QStringLiteral("?\n"));
}

void Mode_Gcode::updatePosition(float x, float y, float z)
{
    ui->label_x->setText(QString::number(x, 'f', 3));
    ui->label_y->setText(QString::number(y, 'f', 3));
    ui->label_z->setText(QString::number(z, 'f', 3));
    if (x == lastX && y == lastY && z == lastZ)
        positionTimer->stop();
    lastX = x;
    lastY = y;
    lastZ = z;
}
