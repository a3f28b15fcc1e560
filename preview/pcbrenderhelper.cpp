#include "preview/pcbrenderhelper.h"

#include "preview/layoutdisplayconverter.h"
#include "preview/moveableobject.h"

namespace {
constexpr float BottomStockMargin = 10.0f;
}

PcbRenderHelper::PcbRenderHelper(QObject *parent)
    : QObject(parent)
{
}

// The four layers in the order they are searched for the board's position.
QVector<const Gcoderenderhelper *> PcbRenderHelper::layers() const
{
    return {&m_topLayout, &m_drill, &m_outline, &m_bottomLayout};
}

QVector<Gcoderenderhelper *> PcbRenderHelper::layers()
{
    return {&m_topLayout, &m_drill, &m_outline, &m_bottomLayout};
}

QVector<Gcoderenderhelper *> PcbRenderHelper::allDrawings()
{
    return layers() << &m_stockHolder;
}

void PcbRenderHelper::setRoot(Qt3DCore::QEntity *root)
{
    for (auto *drawing : allDrawings())
        drawing->setRoot(root);
}

void PcbRenderHelper::show()
{
    for (auto *drawing : allDrawings())
        drawing->show();
}

void PcbRenderHelper::hide()
{
    for (auto *drawing : allDrawings())
        drawing->hide();
}

void PcbRenderHelper::loadOutline(const QStringList &lines)
{
    m_outline.build(lines);
    relayout();
}

void PcbRenderHelper::loadDrill(const QStringList &lines)
{
    m_drill.build(lines);
    relayout();
}

void PcbRenderHelper::loadTopLayout(const QStringList &lines)
{
    m_topLines = displayForm(lines);
    m_topLayout.build(m_topLines);
    relayout();
}

void PcbRenderHelper::loadBottomLayout(const QStringList &lines)
{
    m_bottomLines = displayForm(lines);
    m_bottomLayout.build(m_bottomLines);
    m_bottomPresent = true;
    relayout();
}

QStringList PcbRenderHelper::displayForm(const QStringList &lines)
{
    QVector<GcodeLine> parsed;
    parsed.reserve(lines.size());
    for (const QString &line : lines) {
        if (!line.isEmpty())
            parsed.append(GcodeLine(line));
    }
    LayoutDisplayConverter converter;
    converter.convert(parsed);
    return converter.output();
}

void PcbRenderHelper::clearTop()
{
    m_topLayout.clear();
    relayout();
}

void PcbRenderHelper::clearDrill()
{
    m_drill.clear();
    relayout();
}

void PcbRenderHelper::clearOutline()
{
    m_outline.clear();
    relayout();
}

void PcbRenderHelper::clearBottom()
{
    m_bottomLayout.clear();
    m_bottomPresent = false;
    relayout();
}

void PcbRenderHelper::pcbPositionChanged(float x, float y, float)
{
    m_pcbOffset = QVector3D(x, m_boardThickness + 0.2f, -y);
}

void PcbRenderHelper::pcbSizeChanged(float, float, float z)
{
    m_boardThickness = z;
    m_pcbOffset.setY(z);
}

QVector3D PcbRenderHelper::boardTranslation() const
{
    if (m_topLayout.translation() != QVector3D())
        return m_topLayout.translation();
    for (const auto *layer : layers().mid(1)) {
        if (layer->translation() != QVector3D())
            return layer->translation();
    }
    return QVector3D();
}

PathGeometry::Extent PcbRenderHelper::layersExtent() const
{
    PathGeometry::Extent extent = PathGeometry::Extent::empty();
    for (const auto *layer : layers())
        extent.unite(layer->extent());
    return extent;
}

void PcbRenderHelper::relayout()
{
    m_stockHolder.build(m_holderProgram);
    for (auto *drawing : allDrawings())
        drawing->setTranslation(m_pcbOffset);
    PathGeometry::Extent stock = layersExtent();
    if (m_bottomPresent) {
        mirrorBottom();
        const QVector3D t = m_bottomLayout.translation();
        m_bottomLayout.setTranslation(QVector3D(t.x(), t.y() + 0.1f - m_boardThickness, t.z()));
        if (!stock.isEmpty())
            stock = {stock.minX - BottomStockMargin, stock.minY - BottomStockMargin,
                     stock.maxX + BottomStockMargin, stock.maxY + BottomStockMargin};
    }
    m_stockHolder.setStockPlate(stock);
}

// Turning the drawing over about the scene's z axis maps [minX, maxX] onto [-maxX, -minX]; the
// translation shifts it back onto its own X range.
void PcbRenderHelper::mirrorBottom()
{
    const PathGeometry::Extent extent = m_bottomLayout.extent();
    for (const auto &entity : m_bottomLayout.entities()) {
        if (!entity)
            continue;
        const QVector3D t = entity->translation();
        entity->setRotationZ(180.0f);
        entity->setTranslation(QVector3D(t.x() + extent.maxX + extent.minX, t.y(), t.z()));
    }
}
