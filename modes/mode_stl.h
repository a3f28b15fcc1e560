#pragma once

#include "modes/jogger.h"
#include "modes/messagehandover.h"
#include "modes/mode_base.h"
#include "modes/wizardstl.h"

#include <QList>
#include <QScopedPointer>
#include <QStringList>
#include <QVector2D>
#include <QVector3D>
#include <QWidget>

namespace Ui {
class Mode_STL;
}
class Gcoderenderhelper;
class MillingTable;
class STLSerialMessage;

// Side-bar page of STL and DXF jobs. The project wizard's choices go to the calculation server; a DXF
// drawing to be cut out or pocketed comes back as traced figures that are offset here. The result is
// drawn in the preview, where the user places it on the stock; play zeroes the axes (touch-off by hand
// or probing) and streams the program.
class Mode_STL : public QWidget, public Mode_Base
{
    Q_OBJECT
public:
    explicit Mode_STL(QWidget *parent = nullptr);
    ~Mode_STL() override;

    void setupMode(TcpSender *tcpSender, GcodeRender *render, Ui::Interface *interfaceUi) override;
    bool get_gcode() override;
    void playPause() override;
    void doorClosed() override;

    Jogger *jogger() { return &positioning; }
    wizardstl *chooser() { return &wizard; }
    QVector3D startPosition() const { return startPos; }
    // The lines of the job last started, in sending order.
    QStringList job() const { return jobLines; }

    // The request text of a DXF drawing, and the bytes of an STL part's request.
    static QString dxfRequest(const QString &fileText, float feed, float depthPerPass, float depth, float speed);
    static QByteArray stlRequest(const QByteArray &file, float diameter, float depth, float feed, float depthPerPass);

Q_SIGNALS:
    void doorIsClosed();
    void calculateionFinished(QString error);

public Q_SLOTS:
    void sendGcode();
    void on_return_Button_clicked();
    void on_button_materialthickness_clicked();
    void on_material_thickness_box_currentIndexChanged(const QString &arg1);
    void on_button_import_file_clicked();
    void tcpDXF(QString layout);
    void tcpSTL(QString layout);
    void on_infill_box_clicked();
    void on_comboBox_diameter_activated(const QString &);
    void on_comboBox_Material_activated(const QString &);
    void moveTo(int pos_type);
    void setStartPos(QVector2D start_pos);
    void on_comboBox_cutting_depth_activated(const QString &);
    void on_material_thickness_box_activated(const QString &);
    void on_probe_box_clicked();
    void complete();
    void setProgressBar(qint64 line);
    void reset() override;
    void setStopPause();
    void calculateFile(QString Filename, QString filecontent, float materialthikness, float cutting_depth,
                       QString material, float mill_diameter, bool infill, bool cut);

protected:
    void startJob() override;

private:
    struct CutterParameters
    {
        float speed = 12000.0f;
        float feed = 33.0f;
        float depthPerPass = 0.25f;
    };
    // Spindle speed, feed and depth per pass of the chosen cutter in the chosen material, the depth
    // per pass no deeper than the cut; false when the material's cutters do not cover the diameter.
    bool lookupCutter(CutterParameters *parameters) const;
    void requestStl(const QString &path, const QString &fileText, const CutterParameters &cutter);
    void millDxfFigures(QStringList lines);
    // An answer the server gave no program for: false after telling why.
    bool acceptAnswer(const QString &answer);
    void showProgram(const QStringList &lines);
    void finishCalculation(const QString &error);
    void showCalculation(FileState state);
    void placeDrawing();
    QVector3D tableOffset() const;
    void updateStartPosition();
    QStringList preamble() const;
    void queue(const QStringList &lines, bool job);
    void loadLastSettings();
    void saveLastSettings();
    void refillDiameters();
    void closeDialogs();
    Gcoderenderhelper *drawing() const;

    QScopedPointer<Ui::Mode_STL> ui;
    MillingTable *materialBlock = nullptr;
    TcpSender *tcpSender = nullptr;
    GcodeRender *render = nullptr;
    float materialThickness = 10.0f;
    const float probeAllowance = 3.0f;
    QVector3D startPos;
    bool infill = false;
    bool contour = false;
    bool manualTouchOff = true;
    QStringList jobLines;
    MessageHandOver pending;
    Jogger positioning;
    wizardstl wizard;
};
