#include "preview/gcoderender.h"

#include "preview/machineinterpreter.h"
#include "preview/maschine.h"
#include "preview/millcamcontroller.h"
#include "preview/moveableobject.h"
#include "toolpath/gcodeprogram.h"

#include <QLabel>
#include <QOpenGLContext>
#include <QSqlDatabase>
#include <QSqlQueryModel>
#include <QSqlRecord>
#include <QStackedWidget>
#include <Qt3DCore/QTransform>
#include <Qt3DExtras/QForwardRenderer>
#include <Qt3DExtras/Qt3DWindow>
#include <Qt3DRender/QCamera>
#include <Qt3DRender/QDirectionalLight>
#include <Qt3DRender/QPointLight>
#include <Qt3DRender/QRenderSettings>
#include <Qt3DRender/QSortPolicy>

namespace {
const QVector3D DrawingLift(0.0f, 50.0f, 0.0f);
constexpr float CameraTiltDegrees = 20.0f;
}

GcodeRender::GcodeRender(QObject *parent)
    : QObject(parent)
    , m_root(new Qt3DCore::QEntity)
{
    m_table.buildScene(m_root);
    m_gcodePath.setInterpretation(PathGeometry::Interpretation::Machine);
    m_gcodePath.setRoot(m_root);
    m_pcbLayers.setRoot(m_root);
    m_heightMap.setRoot(m_root);
    m_stlPath.setRoot(m_root);
    m_toolMarker = new ToolMarker(m_root);
    m_toolMarker->setEnabled(false);
    Maschine::instance()->setRender(this);
}

GcodeRender::~GcodeRender()
{
    if (Maschine::instance()->render() == this)
        Maschine::instance()->setRender(nullptr);
    if (m_root)
        m_root->deleteLater();
    if (m_window)
        m_window->deleteLater();
}

Qt3DExtras::Qt3DWindow *GcodeRender::window() const
{
    return m_window;
}

Qt3DRender::QCamera *GcodeRender::camera() const
{
    return m_camera;
}

Qt3DCore::QEntity *GcodeRender::root() const
{
    return m_root;
}

// Qt3D needs OpenGL. Without it (no driver, or a platform without one) it draws nothing, never
// tears its scene down and can hang at shutdown, so the page says why the preview is missing instead.
static bool openGLAvailable()
{
    QOpenGLContext context;
    return context.create();
}

void GcodeRender::createWindow(QStackedWidget *stack)
{
    if (!openGLAvailable()) {
        auto *notice = new QLabel(QStringLiteral("3D preview unavailable: OpenGL could not be started"));
        notice->setAlignment(Qt::AlignCenter);
        m_container = notice;
        stack->addWidget(m_container);
        return;
    }
    m_window = new Qt3DExtras::Qt3DWindow;
    // Qt3D's renderer waits for a native surface: a window destroyed before it ever got one (a main
    // page that was never shown) would hang the shutdown.
    m_window->create();
    m_window->renderSettings()->setRenderPolicy(Qt3DRender::QRenderSettings::OnDemand);
    m_camera = m_window->camera();
    buildFrameGraph();

    m_container = QWidget::createWindowContainer(m_window);
    m_container->setMinimumSize(200, 100);
    m_container->setMaximumSize(1920, 1080);
    // Qt3DWindow registers its own input aspect; a second one would read the mouse twice.

    setUpLens();
    placeCameraFromDatabase();
    addLights();
    addCameraController();

    m_window->setRootEntity(m_root);
    stack->addWidget(m_container);
    m_container->show();
}

void GcodeRender::buildFrameGraph()
{
    auto *sortPolicy = new Qt3DRender::QSortPolicy;
    sortPolicy->setSortTypes(QVector<Qt3DRender::QSortPolicy::SortType>{Qt3DRender::QSortPolicy::Material});
    m_forwardRenderer = new Qt3DExtras::QForwardRenderer(sortPolicy);
    m_forwardRenderer->setCamera(m_camera);
    m_forwardRenderer->setSurface(m_window);
    m_forwardRenderer->setClearColor(QColor(240, 240, 240));
    m_forwardRenderer->setFrustumCullingEnabled(false);
    m_window->setActiveFrameGraph(sortPolicy);
}

void GcodeRender::setUpLens()
{
    m_camera->lens()->setPerspectiveProjection(45.0f, 16.0f / 9.0f, 0.1f, 3000.0f);
}

void GcodeRender::placeCameraFromDatabase()
{
    if (!QSqlDatabase::database().isOpen())
        return;
    QSqlQueryModel model;
    model.setQuery(QStringLiteral("SELECT * FROM  maschine_settings where machine_name = \"current\""));
    if (model.rowCount() != 1)
        return;
    const QSqlRecord row = model.record(0);
    setCameraSettings(row.value(QStringLiteral("table_size_x")).toFloat(),
                      row.value(QStringLiteral("table_size_y")).toFloat(), 0.0f, 0.0f);
}

void GcodeRender::addLights()
{
    auto *lights = new Qt3DCore::QEntity(m_root);
    auto *pointLight = new Qt3DRender::QPointLight(lights);
    pointLight->setColor(QColor(QStringLiteral("white")));
    pointLight->setIntensity(0.2f);
    auto *lightTransform = new Qt3DCore::QTransform(lights);
    lightTransform->setTranslation(m_camera->position());
    auto *sunLight = new Qt3DRender::QDirectionalLight(lights);
    sunLight->setColor(QColor(QStringLiteral("white")));
    sunLight->setIntensity(0.8f);
    sunLight->setWorldDirection(QVector3D(0.0f, -1.0f, 0.0f));
    lights->addComponent(pointLight);
    lights->addComponent(lightTransform);
    lights->addComponent(sunLight);
}

void GcodeRender::addCameraController()
{
    m_cameraController = new MillCamController(m_root);
    m_window->installEventFilter(m_cameraController);
    m_cameraController->setCamera(m_camera);
    MoveableObject::setSceneCamera(m_camera);
}

void GcodeRender::setCameraSettings(float table_x, float table_y, float, float)
{
    if (!m_camera)
        return;
    const float behind = 0.6f * std::abs(table_y) + (table_y < 0.0f ? -table_y : 0.0f);
    m_camera->setPosition(QVector3D(table_x / 2, 0.0f, behind));
    m_camera->setViewCenter(QVector3D(table_x / 2, 0.0f, -table_y / 2));
    m_camera->setUpVector(QVector3D(0.0f, 1.0f, 0.0f));
    m_camera->tiltAboutViewCenter(CameraTiltDegrees);
}

void GcodeRender::setCameraSettings(const QVector3D &position, const QVector3D &viewcenter)
{
    if (!m_camera)
        return;
    m_camera->setViewCenter(viewcenter);
    m_camera->setPosition(position);
}

void GcodeRender::loadGcode(const QStringList &lines, int type)
{
    switch (type) {
    case GcodeTarget:
        clearProgram();
        m_gcodePath.build(lines);
        placeGcodePath();
        break;
    case StlTarget:
        m_stlPath.buildWithStock(lines);
        m_stlPath.setTranslation(DrawingLift);
        break;
    case OutlineTarget:
        m_pcbLayers.loadOutline(lines);
        break;
    case DrillTarget:
        m_pcbLayers.loadDrill(lines);
        break;
    case TopLayoutTarget:
        m_pcbLayers.loadTopLayout(lines);
        break;
    case BottomLayoutTarget:
        m_pcbLayers.loadBottomLayout(lines);
        m_table.setPcbBlankTranslucent(0.5f);
        break;
    default:
        break;
    }
}

void GcodeRender::loadProgram(std::shared_ptr<const GcodeProgram> program)
{
    clearProgram();
    if (!program)
        return;
    m_gcodePathBuild.start(
        [program](const std::atomic<bool> &cancelled) {
            MachineInterpreter interpreter;
            return std::make_shared<PathVertices>(PathVertices::traced(*program, interpreter, cancelled));
        },
        [this](const std::shared_ptr<PathVertices> &path) {
            m_gcodePath.draw(std::move(*path));
            placeGcodePath();
            emit programDrawn();
        });
}

void GcodeRender::clearProgram()
{
    m_gcodePathBuild.cancel();
    m_gcodePath.clear();
    m_executedLine = 0;
    placeToolMarker();
}

// A drawing that arrives while another mode is shown stays hidden until the G-code mode returns.
void GcodeRender::placeGcodePath()
{
    m_gcodePath.setTranslation(DrawingLift);
    if (!m_gcodeModeShown)
        m_gcodePath.hide();
    // The tool stays on the program when the user drags the drawing.
    connect(m_gcodePath.entities().first()->transform(), &Qt3DCore::QTransform::translationChanged, this,
            &GcodeRender::placeToolMarker);
    m_gcodePath.setExecutedLine(m_executedLine);
    placeToolMarker();
}

bool GcodeRender::showGcodeMode()
{
    m_table.showPcbParts(false);
    m_table.showStockParts(false);
    m_gcodePath.show();
    m_pcbLayers.hide();
    m_heightMap.hide();
    m_stlPath.hide();
    showToolMarker(true);
    return refresh();
}

bool GcodeRender::showPcbMode()
{
    m_table.showPcbParts(true);
    m_table.showStockParts(false);
    m_gcodePath.hide();
    m_pcbLayers.show();
    m_heightMap.show();
    m_stlPath.hide();
    showToolMarker(false);
    return refresh();
}

bool GcodeRender::showStlMode()
{
    m_table.showPcbParts(false);
    m_table.showStockParts(true);
    m_gcodePath.hide();
    m_pcbLayers.hide();
    m_heightMap.hide();
    m_stlPath.show();
    showToolMarker(false);
    return refresh();
}

bool GcodeRender::refresh()
{
    return m_table.refresh();
}

void GcodeRender::setToolPosition(float x, float y, float z)
{
    m_toolPosition = QVector3D(x, y, z);
    m_toolPositionKnown = true;
    placeToolMarker();
    showToolMarker(m_gcodeModeShown);
}

void GcodeRender::setExecutedLine(qint64 programLine)
{
    m_executedLine = programLine;
    m_gcodePath.setExecutedLine(programLine);
}

void GcodeRender::placeToolMarker()
{
    if (!m_toolMarker)
        return;
    // Before the first program the marker stands where a program would be drawn.
    const QVector3D origin = m_gcodePath.entities().isEmpty() ? DrawingLift : m_gcodePath.translation();
    m_toolMarker->setTip(origin + PathVertices::toScene(m_toolPosition));
}

void GcodeRender::showToolMarker(bool gcodeMode)
{
    m_gcodeModeShown = gcodeMode;
    if (m_toolMarker)
        m_toolMarker->setEnabled(gcodeMode && m_toolPositionKnown);
}
