#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVector3D>

#include <memory>

#include "preview/gcoderenderhelper.h"
#include "preview/heightmapsurface.h"
#include "preview/latestwork.h"
#include "preview/millingtable.h"
#include "preview/pcbrenderhelper.h"
#include "preview/toolmarker.h"

class QStackedWidget;
class QWidget;
class GcodeProgram;
class MillCamController;
namespace Qt3DCore { class QEntity; }
namespace Qt3DRender { class QCamera; }
namespace Qt3DExtras { class Qt3DWindow; class QForwardRenderer; }

// The 3D preview shared by all job modes: the table with its fixtures, the PCB layers and the tool
// paths of the G-code and STL/DXF modes, drawn on demand in a Qt3D window embedded in the main page.
class GcodeRender : public QObject
{
    Q_OBJECT
public:
    enum Target { GcodeTarget, StlTarget, OutlineTarget, DrillTarget, TopLayoutTarget, BottomLayoutTarget };

    explicit GcodeRender(QObject *parent = nullptr);
    ~GcodeRender() override;

    void createWindow(QStackedWidget *stack);
    void loadGcode(const QStringList &lines, int type);
    // The G-code mode's program, read as the machine executes it. Its path is built on a worker and
    // shown once ready (programDrawn() follows); until then no program is drawn. A later load or
    // clearProgram() drops a build still running. The program is let go once its path is built.
    void loadProgram(std::shared_ptr<const GcodeProgram> program);
    // Removes the G-code mode's drawing; its memory comes back once the event loop has run.
    void clearProgram();
    bool showGcodeMode();
    bool showPcbMode();
    bool showStlMode();
    bool refresh();

    MillingTable *table() { return &m_table; }
    PcbRenderHelper *pcbLayers() { return &m_pcbLayers; }
    HeightMapSurface *heightMap() { return &m_heightMap; }
    Gcoderenderhelper *gcodePath() { return &m_gcodePath; }
    Gcoderenderhelper *stlPath() { return &m_stlPath; }
    ToolMarker *toolMarker() const { return m_toolMarker; }
    Qt3DExtras::Qt3DWindow *window() const;
    QWidget *container() const { return m_container; }
    Qt3DRender::QCamera *camera() const;
    MillCamController *cameraController() const { return m_cameraController; }
    Qt3DCore::QEntity *root() const;

public Q_SLOTS:
    void setCameraSettings(float table_x, float table_y, float gridx, float gridy);
    void setCameraSettings(const QVector3D &position, const QVector3D &viewcenter);
    // The machine's reported position in millimetres, drawn as the tool over the G-code mode's program
    // (both in machine coordinates); the marker shows from the first report on, in the G-code mode.
    void setToolPosition(float x, float y, float z);
    // The G-code mode's program has run up to this line (1-based, as its progress counts lines; 0 for
    // none): the path up to the line's end is drawn in the executed colour.
    void setExecutedLine(qint64 programLine);

Q_SIGNALS:
    void programDrawn();

private:
    void placeGcodePath();
    void placeToolMarker();
    void showToolMarker(bool gcodeMode);
    void buildFrameGraph();
    void setUpLens();
    void placeCameraFromDatabase();
    void addLights();
    void addCameraController();

    Gcoderenderhelper m_gcodePath;
    LatestWork<std::shared_ptr<PathVertices>> m_gcodePathBuild{this};
    // Kept for a path still being built, which shows it once drawn.
    qint64 m_executedLine = 0;
    PcbRenderHelper m_pcbLayers;
    HeightMapSurface m_heightMap;
    Gcoderenderhelper m_stlPath;
    QWidget *m_container = nullptr;
    // The window belongs to its container widget and takes the root into its own scene once shown.
    QPointer<Qt3DExtras::Qt3DWindow> m_window;
    QPointer<Qt3DCore::QEntity> m_root;
    QPointer<Qt3DRender::QCamera> m_camera;
    MillingTable m_table;
    Qt3DExtras::QForwardRenderer *m_forwardRenderer = nullptr;
    MillCamController *m_cameraController = nullptr;
    // A child of the root, which may go with the window's scene.
    QPointer<ToolMarker> m_toolMarker;
    QVector3D m_toolPosition;
    bool m_toolPositionKnown = false;
    bool m_gcodeModeShown = false;
};
