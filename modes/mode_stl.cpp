#include "modes/mode_stl.h"

#include "link/serialport.h"
#include "link/stlserialmessage.h"
#include "modes/projectwizard.h"
#include "preview/gcoderender.h"
#include "settings/settings.h"
#include "toolpath/calcrefusal.h"
#include "toolpath/dxfsplitter.h"
#include "toolpath/tcpsender.h"

#include "ui_interface.h"
#include "ui_mode_stl.h"

#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QStackedWidget>

#include <memory>

namespace {

const QString cutterMissing =
    QStringLiteral("Not sufficient cutter information for this diameter\nAdd upper/lower diamter settings to this Material!");
const QString cannotCalculate = QStringLiteral("Can´t calculate this File.");
// The server's first four lines of a DXF answer are its own set-up.
constexpr int dxfHeaderLines = 4;

QString number(float value)
{
    return QString::number(double(value), 'g', 6);
}

QString fixed(float value, int decimals)
{
    return QString::number(double(value), 'f', decimals);
}

// A tool change: a T word anywhere before a comment. The mill has one spindle and no changer.
bool hasToolWord(const QString &line)
{
    static const QRegularExpression toolWord(QStringLiteral("(^|[^A-Z])T\\s*[-+.0-9]"));
    return toolWord.match(line.section(QLatin1Char('('), 0, 0).toUpper()).hasMatch();
}

void showBox(QMessageBox::Icon icon, const QString &title, const QString &text)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok);
    box.exec();
}

} // namespace

Mode_STL::Mode_STL(QWidget *parent)
    : QWidget(parent)
    , Mode_Base(DoorWatch::On)
    , ui(new Ui::Mode_STL)
    , positioning(this)
    , wizard(this)
{
    ui->setupUi(this);
    auto *materials = new QSqlQueryModel(ui->comboBox_Material);
    materials->setQuery(QStringLiteral("SELECT name FROM material"));
    ui->comboBox_Material->setModel(materials);
    ui->comboBox_Material->lineEdit()->setReadOnly(true);

    connect(&positioning, &Jogger::moveTo, this, &Mode_STL::moveTo);
    connect(&positioning, &Jogger::setStart, this, &Mode_STL::setStartPos);
    connect(&positioning, &Jogger::startMilling, this, &Mode_STL::sendGcode);
    // Leaving the touch-off without starting leaves nothing running: the play button shows play again.
    connect(&positioning, &Jogger::abord, this, [this] {
        if (!started)
            setIdle();
    });
    connect(this, &Mode_STL::doorIsClosed, &positioning, &Jogger::doorIsClosed);
    connect(&wizard, &wizardstl::calculateFileE, this, &Mode_STL::calculateFile);
    connect(this, &Mode_STL::calculateionFinished, &wizard, &wizardstl::calcErrorE);
    STLSerialMessage::registerStlMode(this);
    loadLastSettings();
}

Mode_STL::~Mode_STL() = default;

void Mode_STL::setupMode(TcpSender *sender, GcodeRender *preview, Ui::Interface *form)
{
    Mode_Base::setupMode(sender, preview, form);
    tcpSender = sender;
    render = preview;
    materialBlock = render ? render->table() : nullptr;
    if (tcpSender) {
        connect(tcpSender, &TcpSender::DXFfileRec, this, &Mode_STL::tcpDXF);
        connect(tcpSender, &TcpSender::STLfileRec, this, &Mode_STL::tcpSTL);
        connect(tcpSender, &TcpSender::requestDropped, this, [this](qint32 kind) {
            if (kind == TcpSender::Stl || kind == TcpSender::Dxf)
                finishCalculation(QStringLiteral("The calculation server cannot be reached."));
        });
    }
    if (materialBlock)
        materialBlock->setMaterialThickness(materialThickness);
    placeDrawing();
}

Gcoderenderhelper *Mode_STL::drawing() const
{
    return render ? render->stlPath() : nullptr;
}

// The drawing's zero height sits on the stock's top face; set, not moved by, so that repeated
// changes of the thickness do not lift it further each time.
void Mode_STL::placeDrawing()
{
    if (!drawing())
        return;
    const QVector3D t = drawing()->translation();
    drawing()->setTranslation(QVector3D(t.x(), materialThickness + 0.4f, t.z()));
}

// ---- Calculation ---------------------------------------------------------------------------------

void Mode_STL::calculateFile(QString Filename, QString filecontent, float materialthikness, float cutting_depth,
                             QString material, float mill_diameter, bool infillChosen, bool cut)
{
    const int materialIndex = ui->comboBox_Material->findText(material);
    if (materialIndex >= 0)
        ui->comboBox_Material->setCurrentIndex(materialIndex);
    else
        ui->comboBox_Material->setCurrentText(material);
    refillDiameters();
    ui->comboBox_diameter->setCurrentText(number(mill_diameter));
    ui->comboBox_cutting_depth->setCurrentText(number(cutting_depth));
    ui->infill_box->setChecked(infillChosen);
    contour = !cut;
    infill = infillChosen;
    materialThickness = materialthikness;
    if (materialBlock)
        materialBlock->setMaterialThickness(materialThickness);
    placeDrawing();
    showCalculation(FileState::Calculating);

    CutterParameters cutter;
    if (!lookupCutter(&cutter)) {
        showBox(QMessageBox::Warning, QStringLiteral("Material"), cutterMissing);
        ui->progressBar_STL->setStyleSheet(doneStyle);
        // The wizard waits for an answer; it gets this one instead of staying busy.
        Q_EMIT calculateionFinished(cutterMissing);
        return;
    }
    const QString shownName = Filename.split(QLatin1Char('/')).last();
    if (Filename.contains(QLatin1String(".dxf"))) {
        const float depth = ui->comboBox_cutting_depth->currentText().toFloat();
        // Cut out and pocketed figures are offset here: the server traces each figure once.
        const float traced = 0.0000001f;
        const bool trace = infill || contour;
        const QString request = dxfRequest(filecontent, cutter.feed, trace ? traced : cutter.depthPerPass,
                                           trace ? traced : depth, cutter.speed);
        ui->button_import_file->setText(QStringLiteral("DXF: ") + shownName);
        if (tcpSender)
            tcpSender->enqueueRequest(TcpSender::Dxf, request);
    } else if (Filename.contains(QLatin1String(".stl"))) {
        ui->button_import_file->setText(QStringLiteral("STL: ") + shownName);
        requestStl(Filename, filecontent, cutter);
    } else {
        showCalculation(FileState::NoResult);
        Q_EMIT calculateionFinished(QStringLiteral("Invalid Filetype"));
    }
}

bool Mode_STL::lookupCutter(CutterParameters *parameters) const
{
    const float diameter = ui->comboBox_diameter->currentText().toFloat();
    if (!Settings::lookupCutter(ui->comboBox_Material->currentText(), diameter, parameters->speed, parameters->feed,
                                parameters->depthPerPass))
        return false;
    parameters->depthPerPass = std::min(parameters->depthPerPass, ui->comboBox_cutting_depth->currentText().toFloat());
    return true;
}

QString Mode_STL::dxfRequest(const QString &fileText, float feed, float depthPerPass, float depth, float speed)
{
    return QStringLiteral("DXF\n") + QString::number(fileText.size()) + QLatin1Char('\n') + number(feed)
        + QStringLiteral("\n0\n") + number(depthPerPass) + QLatin1Char('\n') + number(depth) + QLatin1Char('\n')
        + number(speed) + QLatin1Char('\n') + fileText;
}

QByteArray Mode_STL::stlRequest(const QByteArray &file, float diameter, float depth, float feed, float depthPerPass)
{
    return (QStringLiteral("STL\n") + QString::number(file.size()) + QLatin1Char('\n') + number(diameter)
            + QLatin1Char('\n') + number(depth) + QLatin1Char('\n') + number(feed) + QLatin1Char('\n')
            + number(depthPerPass) + QStringLiteral("\n0\n"))
               .toUtf8()
        + file;
}

// Most STL files are binary: the file's bytes go unchanged, with their count as the length. Only when
// the file cannot be read again is its text sent, as UTF-8 bytes.
void Mode_STL::requestStl(const QString &path, const QString &fileText, const CutterParameters &cutter)
{
    QByteArray bytes;
    runInBackground([&] {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            bytes = file.readAll();
    });
    if (bytes.isEmpty())
        bytes = fileText.toUtf8();
    const float diameter = ui->comboBox_diameter->currentText().toFloat();
    const float depth = ui->comboBox_cutting_depth->currentText().toFloat();
    if (tcpSender)
        tcpSender->enqueueRequest(TcpSender::Stl, stlRequest(bytes, diameter, depth, cutter.feed, cutter.depthPerPass));
}

bool Mode_STL::acceptAnswer(const QString &answer)
{
    const QString refusal = CalcRefusal::reason(answer);
    if (answer.isEmpty() || !refusal.isEmpty()) {
        showCalculation(FileState::NoResult);
        Q_EMIT calculateionFinished(refusal.isEmpty() ? cannotCalculate
                                                      : QStringLiteral("The server refused this file: ") + refusal + QLatin1Char('.'));
        return false;
    }
    return true;
}

void Mode_STL::tcpSTL(QString layout)
{
    if (acceptAnswer(layout))
        showProgram(layout.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
}

void Mode_STL::tcpDXF(QString layout)
{
    if (!acceptAnswer(layout))
        return;
    const QStringList lines = layout.split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(dxfHeaderLines);
    if (infill || contour)
        millDxfFigures(lines);
    else
        showProgram(lines);
}

void Mode_STL::millDxfFigures(QStringList lines)
{
    CutterParameters cutter;
    const float depth = ui->comboBox_cutting_depth->currentText().toFloat();
    cutter.depthPerPass = std::min(cutter.depthPerPass, depth);
    lookupCutter(&cutter);
    const float diameter = ui->comboBox_diameter->currentText().toFloat();
    std::unique_ptr<DXFSplitter> splitter(new DXFSplitter(lines, cutter.feed, cutter.speed, depth, cutter.depthPerPass,
                                                          diameter, infill ? DXFSplitter::Pocket : DXFSplitter::Cut));
    if (!splitter->error().isEmpty() || splitter->toolPaths().isEmpty()) {
        showCalculation(FileState::NoResult);
        Q_EMIT calculateionFinished(splitter->error().isEmpty()
                                        ? QStringLiteral("No figure of this drawing can be milled with a %1 mm cutter.").arg(number(diameter))
                                        : splitter->error());
        return;
    }
    showProgram(splitter->result());
    if (infill)
        ui->Label_STLLayout->setText(QStringLiteral("Success."));
}

void Mode_STL::showProgram(const QStringList &lines)
{
    if (render)
        render->loadGcode(lines, GcodeRender::StlTarget);
    placeDrawing();
    showCalculation(FileState::Done);
    Q_EMIT calculateionFinished(QString());
}

void Mode_STL::finishCalculation(const QString &error)
{
    showCalculation(FileState::NoResult);
    Q_EMIT calculateionFinished(error);
}

void Mode_STL::showCalculation(FileState state)
{
    showFileState(state, ui->progressBar_STL, ui->QW_STLLayout, ui->Label_STLLayout);
}

// ---- Placing the part ----------------------------------------------------------------------------

QVector3D Mode_STL::tableOffset() const
{
    return interfaceUi ? interfaceUi->settings->tableOffset() : QVector3D();
}

void Mode_STL::updateStartPosition()
{
    if (!drawing())
        return;
    const QVector3D t = drawing()->translation(), z0 = tableOffset();
    startPos = QVector3D(z0.x() + t.x(), z0.y() - t.z(), z0.z());
}

void Mode_STL::setStartPos(QVector2D start_pos)
{
    if (!drawing())
        return;
    const QVector3D t = drawing()->translation(), z0 = tableOffset();
    drawing()->setTranslation(QVector3D(start_pos.x() - z0.x(), t.y(), z0.y() - start_pos.y()));
    updateStartPosition();
}

void Mode_STL::moveTo(int pos_type)
{
    if (!drawing() || drawing()->extent().isEmpty())
        return;
    updateStartPosition();
    const PathGeometry::Extent e = drawing()->extent();
    QVector2D offset;
    switch (pos_type) {
    case Jogger::Centre:
        offset = QVector2D((e.minX + e.maxX) / 2.0f, (e.minY + e.maxY) / 2.0f);
        break;
    case Jogger::LowerLeft:
        offset = QVector2D(e.minX, e.minY);
        break;
    case Jogger::LowerRight:
        offset = QVector2D(e.maxX, e.minY);
        break;
    case Jogger::UpperLeft:
        offset = QVector2D(e.minX, e.maxY);
        break;
    case Jogger::UpperRight:
        offset = QVector2D(e.maxX, e.maxY);
        break;
    default:
        break;
    }
    const QVector2D target = QVector2D(startPos.x(), startPos.y()) + offset;
    queue({QStringLiteral("G21\n"), QStringLiteral("G92.1\n"), QStringLiteral("F 150\n"), QStringLiteral("S 12000\n"),
           QStringLiteral("M3\n"),
           QStringLiteral("G0 X") + fixed(target.x(), 3) + QStringLiteral(" Y") + fixed(target.y(), 3) + QLatin1Char('\n')},
          false);
}

// ---- The job -------------------------------------------------------------------------------------

void Mode_STL::playPause()
{
    const bool wasStarted = started;
    Mode_Base::playPause();
    if (!wasStarted)
        Q_EMIT doorIsClosed();
}

void Mode_STL::doorClosed()
{
    Mode_Base::doorClosed();
    Q_EMIT doorIsClosed();
}

void Mode_STL::startJob()
{
    if (!drawing() || drawing()->lines().isEmpty()) {
        refuseStartWithoutProgram();
        return;
    }
    if (manualTouchOff) {
        positioning.setSerialPort(serialport);
        positioning.open();
        return;
    }
    sendGcode();
}

void Mode_STL::sendGcode()
{
    paused = false;
    started = true;
    refreshPlayPauseButton();
    if (!get_gcode())
        setIdle();
}

QStringList Mode_STL::preamble() const
{
    const QString origin = QStringLiteral("G0 X") + fixed(startPos.x(), 6) + QStringLiteral(" Y") + fixed(startPos.y(), 6)
        + QLatin1Char('\n');
    QStringList lines{QStringLiteral("M5\n"), QStringLiteral("G21\n"), QStringLiteral("G90\n"), QStringLiteral("G92.1\n")};
    if (manualTouchOff)
        return lines << QStringLiteral("G92  Z0\n") << QStringLiteral("G0 Z 10\n") << origin << QStringLiteral("G92  X 0 Y 0\n");
    const Settings *settings = interfaceUi ? interfaceUi->settings : nullptr;
    const QVector3D probe = settings ? settings->calibrationPosition() : QVector3D();
    const float surface = (settings ? settings->calibrationHeight() : 0.0f) - probeAllowance
        - ui->material_thickness_box->currentText().toFloat();
    return lines << lines << QStringLiteral("M5\n") << QStringLiteral("G0 Z0\n")
                 << QStringLiteral("G0 X") + fixed(probe.x(), 6) + QStringLiteral(" Y") + fixed(probe.y(), 6) + QLatin1Char('\n')
                 << QStringLiteral("M5\n") << QStringLiteral("G38.2 Z-65 F100\n")
                 << QStringLiteral("G92  Z") + fixed(surface, 6) + QLatin1Char('\n') << QStringLiteral("G0 Z 10\n") << origin
                 << QStringLiteral("G92  X 0 Y 0\n");
}

bool Mode_STL::get_gcode()
{
    pending.drop();
    jobLines.clear();
    if (!drawing() || drawing()->extent().isEmpty() || drawing()->lines().isEmpty())
        return false;
    updateStartPosition();
    QStringList job = preamble();
    const QVector<GcodeLine> program = drawing()->lines();
    // The program may be long: it is gone through on a worker while the window keeps running. A blank
    // entry (the generated program ends in a line feed of its own) would be a line without a command.
    runInBackground([&job, &program] {
        job.reserve(job.size() + program.size());
        for (const GcodeLine &line : program)
            if (!line.text().trimmed().isEmpty() && !hasToolWord(line.text()))
                job << line.text() + QLatin1Char('\n');
    });
    if (!started)
        return false;
    jobLines = job;
    queue(jobLines, true);
    return true;
}

// Each line becomes a message of its own. A job's last line is marked last; its answer completes the
// job. The messages go to the connection a share at a time from the event loop.
void Mode_STL::queue(const QStringList &lines, bool job)
{
    if (!isConnected())
        return;
    QList<SerialMessage *> messages;
    for (int i = 0; i < lines.size(); ++i) {
        auto *message = new STLSerialMessage(QString(), -1);
        message->setContent(lines[i]);
        message->setLineNumber(job ? quint32(i + 1) : 0);
        message->setLast(job && i == lines.size() - 1);
        messages.append(message);
    }
    pending.handOver(serialport, messages);
}

void Mode_STL::setProgressBar(qint64 line)
{
    showProgress(line, jobLines.size());
}

void Mode_STL::complete()
{
    if (interfaceUi)
        interfaceUi->button_time->setText(QStringLiteral("100%"));
    showBox(QMessageBox::Information, QStringLiteral("Mill"), QStringLiteral("Milling process completed"));
    setIdle();
    jobLines.clear();
    closeDialogs();
}

void Mode_STL::reset()
{
    pending.drop();
    jobLines.clear();
    setIdle();
    closeDialogs();
}

void Mode_STL::setStopPause()
{
    setIdle();
}

void Mode_STL::closeDialogs()
{
    positioning.dismiss();
    wizard.close();
}

// ---- The page's own inputs -----------------------------------------------------------------------

void Mode_STL::on_return_Button_clicked()
{
    if (auto *stack = qobject_cast<QStackedWidget *>(parentWidget()))
        stack->setCurrentIndex(1);
}

void Mode_STL::on_button_materialthickness_clicked()
{
}

void Mode_STL::on_material_thickness_box_currentIndexChanged(const QString &arg1)
{
    materialThickness = arg1.toFloat();
    if (materialBlock)
        materialBlock->setMaterialThickness(materialThickness);
    placeDrawing();
    ui->progressBar_STL->setStyleSheet(idleStyle);
}

void Mode_STL::on_button_import_file_clicked()
{
    wizard.showChooser();
}

void Mode_STL::on_infill_box_clicked()
{
    infill = ui->infill_box->isChecked();
    ui->progressBar_STL->setStyleSheet(idleStyle);
    saveLastSettings();
}

void Mode_STL::on_comboBox_diameter_activated(const QString &)
{
    ui->progressBar_STL->setStyleSheet(idleStyle);
    saveLastSettings();
}

void Mode_STL::on_comboBox_Material_activated(const QString &)
{
    ui->progressBar_STL->setStyleSheet(idleStyle);
    saveLastSettings();
    refillDiameters();
}

void Mode_STL::on_comboBox_cutting_depth_activated(const QString &)
{
    saveLastSettings();
}

void Mode_STL::on_material_thickness_box_activated(const QString &)
{
    saveLastSettings();
}

void Mode_STL::on_probe_box_clicked()
{
    manualTouchOff = ui->probe_box->isChecked();
    saveLastSettings();
}

void Mode_STL::refillDiameters()
{
    ui->comboBox_diameter->clear();
    ui->comboBox_diameter->addItems(ProjectWizard::cutterDiameters(ui->comboBox_Material->currentText()));
}

void Mode_STL::loadLastSettings()
{
    QSqlQuery query(QStringLiteral("SELECT * FROM stl_last_settings;"));
    if (!query.next())
        return;
    infill = query.value(0).toBool();
    manualTouchOff = query.value(1).toBool();
    ui->material_thickness_box->setCurrentText(query.value(3).toString());
    ui->comboBox_cutting_depth->setCurrentText(query.value(4).toString());
    ui->comboBox_Material->setCurrentIndex(query.value(5).toInt());
    ui->probe_box->setChecked(manualTouchOff);
    refillDiameters();
    ui->comboBox_diameter->setCurrentText(query.value(2).toString());
    ui->infill_box->setChecked(infill);
}

void Mode_STL::saveLastSettings()
{
    QSqlQuery query;
    query.exec(QStringLiteral("UPDATE stl_last_settings SET infill = %1,  manual_probing = %2,  cutter_diamter = %3,  "
                              "material_h = %4,  cutting_h =%5,  material_id = %6; ")
                   .arg(infill ? 1 : 0)
                   .arg(manualTouchOff ? 1 : 0)
                   .arg(QString::number(ui->comboBox_diameter->currentText().toFloat()),
                        QString::number(ui->material_thickness_box->currentText().toFloat()),
                        QString::number(ui->comboBox_cutting_depth->currentText().toFloat()))
                   .arg(ui->comboBox_Material->currentIndex()));
}
