#include "modes/mode_pcb.h"

#include "app/infodialog.h"
#include "link/pcbserialmessage.h"
#include "link/probemessage.h"
#include "link/serialport.h"
#include "modes/filereaderasync.h"
#include "modes/probegrid.h"
#include "modes/signallingmessage.h"
#include "preview/gcoderender.h"
#include "preview/maschine.h"
#include "settings/pcb_settings.h"
#include "settings/settings.h"
#include "toolpath/tcpsender.h"

#include "ui_interface.h"
#include "ui_mode_pcb.h"

#include <QFileDialog>
#include <QThread>

Mode_PCB::Mode_PCB(QWidget *parent)
    : QWidget(parent)
    , Mode_Base(DoorWatch::On)
    , ui(new Ui::Mode_PCB)
    , lastDirectory(QDir::rootPath())
{
    ui->setupUi(this);
    layerViews = {{
        {ui->button_top_layout, ui->progressBar_Top, ui->QW_TopLayout, ui->Label_TopLayout, ui->remove_layout_button,
         QT_TR_NOOP("Open Top Layout"), QStringLiteral("Top: "), QStringLiteral("PCB TOP LAYOUT "),
         QStringLiteral("Top layout"), TcpSender::PcbLayout, GcodeRender::TopLayoutTarget},
        {ui->button_bot_layout, ui->progressBar_Bot, ui->QW_BotLayout, ui->Label_BotLayout, ui->remove_bottom_button,
         QT_TR_NOOP("Open Bot Layout"), QStringLiteral("Bot: "), QStringLiteral("PCB BOTTOM LAYOUT "),
         QStringLiteral("Bottom layout"), TcpSender::PcbBotLayout, GcodeRender::BottomLayoutTarget},
        {ui->button_drill_file, ui->progressBar_Drill, ui->QW_DrillLayout, ui->Label_DrillLayout,
         ui->remove_drill_button, QT_TR_NOOP("Open drill file"), QStringLiteral("Drill: "),
         QStringLiteral("PCB DRILL FILE "), QStringLiteral("Drill file"), TcpSender::PcbDrill,
         GcodeRender::DrillTarget},
        {ui->button_outline, ui->progressBar_Outline, ui->QW_OutlineLayout, ui->Label_OutlineLayout,
         ui->remove_outline_button, QT_TR_NOOP("Open outline file"), QStringLiteral("Outline: "),
         QStringLiteral("PCB OUTLINE"), QStringLiteral("Outline"), TcpSender::PcbOutline, GcodeRender::OutlineTarget},
    }};
    ProbeMessage::registerPcbMode(this);
    PCBSerialMessage::registerPcbMode(this);
    for (const LayerView &view : layerViews)
        view.bar->setStyleSheet(idleStyle);
    Maschine::instance()->setPcbMode(this);
}

Mode_PCB::~Mode_PCB()
{
    Maschine::instance()->setPcbMode(nullptr);
}

void Mode_PCB::setPcbSettings(Pcb_Settings *page)
{
    pcbSettings = page;
}

void Mode_PCB::setupMode(TcpSender *sender, GcodeRender *preview, Ui::Interface *form)
{
    Mode_Base::setupMode(sender, preview, form);
    tcpSender = sender;
    render = preview;
    connect(tcpSender, &TcpSender::PcbLayoutfileRec, this, &Mode_PCB::tcpLayout);
    connect(tcpSender, &TcpSender::PcbLayoutBotfileRec, this, &Mode_PCB::tcpBotLayout);
    connect(tcpSender, &TcpSender::PcbOutlinefileRec, this, &Mode_PCB::tcpOutline);
    connect(tcpSender, &TcpSender::PcbDrillfileRec, this, &Mode_PCB::tcpDrill);
    connect(this, &Mode_PCB::startTop, this, &Mode_PCB::startTopPass, Qt::QueuedConnection);
}

// ---- Design files and the server's answers ----

void Mode_PCB::on_button_top_layout_clicked()
{
    chooseDesignFile(PcbJob::Top);
}

void Mode_PCB::on_button_bot_layout_clicked()
{
    chooseDesignFile(PcbJob::Bottom);
}

void Mode_PCB::on_button_drill_file_clicked()
{
    chooseDesignFile(PcbJob::Drill);
}

void Mode_PCB::on_button_outline_clicked()
{
    chooseDesignFile(PcbJob::Outline);
}

void Mode_PCB::chooseDesignFile(PcbJob::Layer layer)
{
    const QString path = QFileDialog::getOpenFileName(this, tr(layerViews[layer].dialogTitle), lastDirectory.path(),
                                                      QStringLiteral("All files (*.*)"));
    loadDesignFile(layer, path);
}

// A file that cannot be read (or no file, when the dialog was cancelled) changes nothing.
void Mode_PCB::loadDesignFile(PcbJob::Layer layer, const QString &path)
{
    if (path.isEmpty())
        return;
    lastDirectory.setPath(path);
    QString text;
    QString error;
    runInBackground([&] { error = FileReaderAsync::readText(path, &text); });
    if (!error.isEmpty())
        return;
    const LayerView &view = layerViews[layer];
    showFileState(FileState::Calculating, view.bar, view.frame, view.label);
    const float thickness = pcbSettings ? pcbSettings->getPCBHeight() : 0.0f;
    if (tcpSender)
        tcpSender->enqueueRequest(view.requestKind, TcpSender::pcbRequestText(view.requestKind, thickness, text));
    view.file->setText(view.prefix + path.split(QLatin1Char('/')).last());
}

void Mode_PCB::tcpLayout(QString layout)
{
    receiveAnswer(PcbJob::Top, layout);
}

void Mode_PCB::tcpDrill(QString layout)
{
    receiveAnswer(PcbJob::Drill, layout);
}

void Mode_PCB::tcpOutline(QString layout)
{
    receiveAnswer(PcbJob::Outline, layout);
}

void Mode_PCB::tcpBotLayout(QString layout)
{
    receiveAnswer(PcbJob::Bottom, layout);
}

// An answer that is no result replaces what the layer held: the button names the new file, and the
// board must not be milled with the old one. A running job keeps the layers it started with.
void Mode_PCB::receiveAnswer(PcbJob::Layer layer, const QString &answer)
{
    const LayerView &view = layerViews[layer];
    PcbProgram program;
    if (!answer.isEmpty())
        runInBackground([&] { program = PcbProgram::fromAnswer(answer); });
    if (answer.isEmpty() || !program.error().isEmpty()) {
        if (!program.error().isEmpty())
            InfoDialog::instance()->appendInfo(view.name + QStringLiteral(": ") + program.error() + QLatin1Char('\n'));
        layers[layer] = PcbProgram();
        clearDrawing(layer);
        showFileState(FileState::NoResult, view.bar, view.frame, view.label);
        return;
    }
    layers[layer] = program;
    showFileState(FileState::Done, view.bar, view.frame, view.label);
    // The bottom side is drawn as the server answered it: the preview turns it over within its own
    // range, which shows its copper where it ends up under the top side.
    if (render)
        render->loadGcode(program.texts(), view.previewTarget);
    if (!program.reports().isEmpty())
        InfoDialog::instance()->appendInfo(view.name + QStringLiteral(":\n") + program.reports().join(QLatin1Char('\n'))
                                           + QLatin1Char('\n'));
}

void Mode_PCB::on_remove_layout_button_clicked()
{
    removeLayer(PcbJob::Top);
}

void Mode_PCB::on_remove_bottom_button_clicked()
{
    removeLayer(PcbJob::Bottom);
}

void Mode_PCB::on_remove_drill_button_clicked()
{
    removeLayer(PcbJob::Drill);
}

void Mode_PCB::on_remove_outline_button_clicked()
{
    removeLayer(PcbJob::Outline);
}

void Mode_PCB::removeLayer(PcbJob::Layer layer)
{
    const LayerView &view = layerViews[layer];
    layers[layer] = PcbProgram();
    clearDrawing(layer);
    view.file->setText(view.removedText);
    showFileState(FileState::Idle, view.bar, view.frame, view.label);
}

void Mode_PCB::clearDrawing(PcbJob::Layer layer)
{
    if (!render)
        return;
    PcbRenderHelper *drawings = render->pcbLayers();
    switch (layer) {
    case PcbJob::Top:
        drawings->clearTop();
        break;
    case PcbJob::Bottom:
        drawings->clearBottom();
        break;
    case PcbJob::Drill:
        drawings->clearDrill();
        break;
    default:
        drawings->clearOutline();
        break;
    }
}

// ---- The job ----

void Mode_PCB::startJob()
{
    if (!get_gcode()) {
        refuseStartWithoutProgram();
        return;
    }
    paused = false;
    started = true;
    setLayerButtonsEnabled(false);
}

std::shared_ptr<PcbJob> Mode_PCB::newJob()
{
    PcbJobSettings settings;
    if (pcbSettings) {
        settings.boardThickness = pcbSettings->getPCBHeight();
        settings.toolProbe = pcbSettings->probePosition().toVector2D();
        settings.outlineDiameter = pcbSettings->outlineDiameter();
        settings.outlineDepthPerPass = pcbSettings->outlineMillDepth();
        settings.outlineFeed = pcbSettings->outlineFeedrate();
        settings.drillFeed = pcbSettings->drillFeedrate();
    }
    QVector3D tableZero;
    if (interfaceUi) {
        settings.tableProbe = interfaceUi->settings->calibrationPosition().toVector2D();
        tableZero = interfaceUi->settings->tableOffset();
    }
    // The board's place on the table comes from the drawings' translation (scene x, height, -y).
    const QVector3D t = render ? render->pcbLayers()->boardTranslation() : QVector3D();
    const QVector3D origin(tableZero.x() + t.x(), tableZero.y() - t.z(), tableZero.z());
    return std::make_shared<PcbJob>(layers, settings, origin, this);
}

// One pass: the first of a job when it is not started, else the top pass of a two-sided board.
bool Mode_PCB::get_gcode()
{
    jobMessages.clear();
    ++passNumber;
    if (!started || !job)
        job = newJob();
    if (job->isEmpty())
        return false;
    jobMessages = job->startPass();
    const QList<SerialMessage *> probing = job->probing();
    const quint64 pass = passNumber;
    connect(static_cast<SignallingMessage *>(probing.last()), &SignallingMessage::answered, this,
            [this, pass] { scanEnded(pass); }, Qt::QueuedConnection);
    scanReported = false;
    if (render)
        render->heightMap()->clear();
    ui->label_surface->hide();
    return pending.handOver(serialport, jobMessages + probing);
}

// The last probe's answer, delivered after the reader's call has returned.
void Mode_PCB::scanComplete(QString s_type)
{
    scanReported = true;
    composeStages(s_type, passNumber);
}

// The line after the scan was answered. A scan that never reported its end (the last probe's answer
// carried no height) stops the job here instead of leaving it waiting.
void Mode_PCB::scanEnded(quint64 pass)
{
    if (started && pass == passNumber && !scanReported)
        abortJob(job->missingMeasurement());
}

void Mode_PCB::composeStages(const QString &side, quint64 pass)
{
    if (!started || pass != passNumber)
        return;
    showSurface();
    const QString missing = job->missingMeasurement();
    if (!missing.isEmpty()) {
        abortJob(missing);
        return;
    }
    QList<SerialMessage *> stages;
    QThread *const window = thread();
    const std::shared_ptr<PcbJob> running = job;
    runInBackground([&stages, running, side, window] {
        stages = running->stages(side);
        for (SerialMessage *message : qAsConst(stages))
            message->moveToThread(window);
    });
    if (!started || pass != passNumber) {
        qDeleteAll(stages);
        return;
    }
    jobMessages = stages;
    // A side with nothing to mill ends its pass at once; there is no last message to wait for.
    if (stages.isEmpty())
        complete();
    else
        pending.handOver(serialport, stages);
}

void Mode_PCB::showSurface()
{
    const ProbeGrid *grid = job->grid();
    QVector<QVector3D> points;
    points.reserve(grid->pointCount());
    for (int column = 0; column < grid->columns(); ++column) {
        for (int row = 0; row < grid->rows(); ++row) {
            QVector3D p = grid->point(grid->pointIndex(column, row));
            p.setZ(p.z() - grid->firstPoint().z());
            points << p;
        }
    }
    if (render)
        render->heightMap()->build(points, grid->columns(), grid->rows(), render->pcbLayers()->boardTranslation());
    const auto [lowest, highest] = HeightMapSurface::range(points);
    ui->label_surface->setText(QStringLiteral("Measured surface: %1 mm (blue) to %2 mm (red)")
                                   .arg(QString::number(lowest, 'f', 3), QString::number(highest, 'f', 3)));
    ui->label_surface->show();
}

void Mode_PCB::complete()
{
    if (!started)
        return;
    if (job->side() == QLatin1String("bot") && job->hasTopSide()) {
        job->finishBottomPass();
        Q_EMIT startTop();
        return;
    }
    endJob();
}

void Mode_PCB::startTopPass()
{
    if (started && !get_gcode())
        endJob();
}

void Mode_PCB::setProgressBar(qint64 line)
{
    showProgress(line, jobMessages.size());
}

void Mode_PCB::abortJob(const QString &reason)
{
    InfoDialog::instance()->appendInfo(QStringLiteral("The PCB job was stopped. ") + reason + QLatin1Char('\n'));
    endJob();
}

void Mode_PCB::endJob()
{
    jobMessages.clear();
    setIdle();
    setLayerButtonsEnabled(true);
}

void Mode_PCB::reset()
{
    ++passNumber;
    pending.drop();
    endJob();
}

void Mode_PCB::setLayerButtonsEnabled(bool enabled)
{
    for (const LayerView &view : layerViews) {
        view.file->setEnabled(enabled);
        view.remove->setEnabled(enabled);
    }
}
