#pragma once

#include <QObject>
#include <QVector3D>

namespace Qt3DCore { class QComponent; class QEntity; class QTransform; }
namespace Qt3DRender { class QMaterial; }

// The static furniture of the preview: the table plate with its grid, the PCB blank, the probe, the
// material block with its screws for 3D work, and a tiny cube toggled to force a redraw.
class MillingTable : public QObject
{
    Q_OBJECT
public:
    explicit MillingTable(QObject *parent = nullptr);

    void buildScene(Qt3DCore::QEntity *root);

    void setMaterialThickness(float height);
    void setPcbBlankTranslucent(float alpha);
    void showPcbParts(bool on);
    void showStockParts(bool on);
    bool refresh();

    int gridBarCount() const;
    Qt3DCore::QTransform *tableTransform() const { return m_tableTransform; }
    Qt3DCore::QTransform *pcbTransform() const { return m_pcbTransform; }
    Qt3DCore::QTransform *probeTransform() const { return m_probeTransform; }
    Qt3DCore::QEntity *pcbBlank() const { return m_pcbBlank; }
    Qt3DCore::QEntity *refreshCube() const { return m_refreshCube; }

public Q_SLOTS:
    void changeTable(float x, float y, float grid_x, float grid_y);
    void changePCBPosition(float x, float y, float z);
    void changePCBSize(float x, float y, float z);
    void changeProbePosition(float x, float y, float z);

private:
    Qt3DCore::QEntity *addEntity(Qt3DCore::QEntity *parent, Qt3DCore::QComponent *mesh,
                                 Qt3DRender::QMaterial *material, Qt3DCore::QTransform *transform);
    void buildProbe();
    void buildTablePlate();
    void rebuildGrid(float tableX, float tableY, float gridX, float gridY);
    void buildRefreshCube();
    void buildMaterialBlock();
    void buildPcbBlank();

    Qt3DCore::QEntity *m_root = nullptr;
    Qt3DCore::QEntity *m_grid = nullptr;
    Qt3DCore::QEntity *m_tablePlate = nullptr;
    Qt3DCore::QTransform *m_tableTransform = nullptr;
    Qt3DCore::QEntity *m_pcbBlank = nullptr;
    Qt3DCore::QTransform *m_pcbTransform = nullptr;
    Qt3DRender::QMaterial *m_pcbOpaque = nullptr;
    Qt3DRender::QMaterial *m_pcbTranslucent = nullptr;
    Qt3DCore::QEntity *m_probe = nullptr;
    Qt3DCore::QTransform *m_probeTransform = nullptr;
    Qt3DCore::QEntity *m_materialBlock = nullptr;
    Qt3DCore::QTransform *m_materialTransform = nullptr;
    Qt3DCore::QEntity *m_screws = nullptr;
    Qt3DCore::QTransform *m_screwsTransform = nullptr;
    Qt3DCore::QEntity *m_refreshCube = nullptr;
    bool m_refreshFlag = true;
};
