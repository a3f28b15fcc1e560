#pragma once

#include "modes/messagehandover.h"
#include "modes/mode_base.h"
#include "modes/pcbjob.h"

#include <QDir>
#include <QList>
#include <QScopedPointer>
#include <QWidget>

#include <array>
#include <memory>

namespace Ui {
class Mode_PCB;
}
class Pcb_Settings;
class QLabel;
class QProgressBar;
class QPushButton;
class SerialMessage;

// Side-bar page of PCB jobs. The user loads the top and bottom copper layouts, the drill file and the
// board outline; each goes to the calculation server, and its answer is drawn on the blank. Play mills
// the board in passes: each pass changes to the engraving bit, measures its length and probes the
// board surface; then the stages follow the measured surface. A two-sided board is milled bottom
// side first with a flip frame, then, turned over, the top side with drilling and outline.
class Mode_PCB : public QWidget, public Mode_Base
{
    Q_OBJECT
public:
    explicit Mode_PCB(QWidget *parent = nullptr);
    ~Mode_PCB() override;

    void setPcbSettings(Pcb_Settings *page);
    void setupMode(TcpSender *tcpSender, GcodeRender *render, Ui::Interface *interfaceUi) override;

    // Reads a design file of a layer and sends it to the calculation server, as its file button does
    // once the user has chosen the file.
    void loadDesignFile(PcbJob::Layer layer, const QString &path);
    const PcbProgram &layer(PcbJob::Layer layer) const { return layers[layer]; }

Q_SIGNALS:
    void startTop();

public Q_SLOTS:
    void scanComplete(QString s_type);
    void complete();
    bool get_gcode() override;
    void setProgressBar(qint64 line);
    void on_button_top_layout_clicked();
    void on_button_bot_layout_clicked();
    void on_button_drill_file_clicked();
    void on_button_outline_clicked();
    void tcpLayout(QString layout);
    void tcpDrill(QString layout);
    void tcpOutline(QString layout);
    void tcpBotLayout(QString layout);
    void on_remove_outline_button_clicked();
    void on_remove_drill_button_clicked();
    void on_remove_bottom_button_clicked();
    void on_remove_layout_button_clicked();
    void reset() override;

protected:
    void startJob() override;

private Q_SLOTS:
    void startTopPass();

private:
    // What tells one layer from another on the page and towards the server and the preview.
    struct LayerView {
        QPushButton *file;
        QProgressBar *bar;
        QWidget *frame;
        QLabel *label;
        QPushButton *remove;
        const char *dialogTitle;
        QString prefix;
        QString removedText;
        QString name;
        qint32 requestKind;
        int previewTarget;
    };

    void chooseDesignFile(PcbJob::Layer layer);
    void receiveAnswer(PcbJob::Layer layer, const QString &answer);
    void removeLayer(PcbJob::Layer layer);
    void clearDrawing(PcbJob::Layer layer);
    std::shared_ptr<PcbJob> newJob();
    void scanEnded(quint64 pass);
    void composeStages(const QString &side, quint64 pass);
    void showSurface();
    void abortJob(const QString &reason);
    void endJob();
    void setLayerButtonsEnabled(bool enabled);

    QScopedPointer<Ui::Mode_PCB> ui;
    TcpSender *tcpSender = nullptr;
    GcodeRender *render = nullptr;
    // Messages of the pass start or of the stages being milled; they belong to the connection once
    // handed over, which releases each after its answer. Only their number is used afterwards.
    QList<SerialMessage *> jobMessages;
    // Made by the mode and not yet handed over.
    MessageHandOver pending;
    std::array<LayerView, PcbJob::LayerCount> layerViews;
    PcbJob::Layers layers;
    // Shared with the composing worker, so a job replaced meanwhile stays alive until it is done.
    std::shared_ptr<PcbJob> job;
    QDir lastDirectory;
    Pcb_Settings *pcbSettings = nullptr;
    // Counts passes and resets: work that finishes after its pass was left behind is dropped.
    quint64 passNumber = 0;
    bool scanReported = false;
};
