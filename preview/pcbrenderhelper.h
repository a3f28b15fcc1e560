#pragma once

#include <QObject>
#include <QStringList>
#include <QVector3D>

#include "preview/gcoderenderhelper.h"

namespace Qt3DCore { class QEntity; }

// The drawings of a PCB job on the blank: top layout, drill, outline and the bottom layout (turned
// over and mirrored within its own X range), plus a holder that carries the stock plate under them.
class PcbRenderHelper : public QObject
{
    Q_OBJECT
public:
    explicit PcbRenderHelper(QObject *parent = nullptr);

    void setRoot(Qt3DCore::QEntity *root);
    void show();
    void hide();

    void loadOutline(const QStringList &lines);
    void loadDrill(const QStringList &lines);
    void loadTopLayout(const QStringList &lines);
    void loadBottomLayout(const QStringList &lines);
    void clearTop();
    void clearDrill();
    void clearOutline();
    void clearBottom();

    QVector3D boardTranslation() const;
    PathGeometry::Extent layersExtent() const;

    const Gcoderenderhelper &topLayout() const { return m_topLayout; }
    const Gcoderenderhelper &drill() const { return m_drill; }
    const Gcoderenderhelper &outline() const { return m_outline; }
    const Gcoderenderhelper &bottomLayout() const { return m_bottomLayout; }
    const Gcoderenderhelper &stockHolder() const { return m_stockHolder; }

public Q_SLOTS:
    void pcbPositionChanged(float x, float y, float z);
    void pcbSizeChanged(float x, float y, float z);

private:
    static QStringList displayForm(const QStringList &lines);
    void relayout();
    void mirrorBottom();
    QVector<Gcoderenderhelper *> layers();
    QVector<const Gcoderenderhelper *> layers() const;
    QVector<Gcoderenderhelper *> allDrawings();

    Gcoderenderhelper m_topLayout;
    Gcoderenderhelper m_drill;
    Gcoderenderhelper m_outline;
    Gcoderenderhelper m_bottomLayout;
    Gcoderenderhelper m_stockHolder;
    const QStringList m_holderProgram{QStringLiteral("G0 X0 Y0 Z0")};
    QStringList m_topLines;
    QStringList m_bottomLines;
    QVector3D m_pcbOffset;
    float m_boardThickness = 0.0f;
    bool m_bottomPresent = false;
};
