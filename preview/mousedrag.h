#pragma once

#include <Qt3DInput/QMouseEvent>
#include <Qt3DLogic/QFrameAction>

namespace Qt3DCore { class QEntity; }
namespace Qt3DInput { class QAction; class QAxis; }

// The input set shared by the camera controller and the draggable drawings: one mouse button as an
// action, the mouse's X and Y axes, both on a logical device, and a per-frame tick. Every part is a
// child or component of the entity given to create().
struct MouseDrag
{
    Qt3DInput::QAction *button = nullptr;
    Qt3DInput::QAxis *axisX = nullptr;
    Qt3DInput::QAxis *axisY = nullptr;
    Qt3DLogic::QFrameAction *frameAction = nullptr;

    static MouseDrag create(Qt3DCore::QEntity *owner, Qt3DInput::QMouseEvent::Buttons button);
};
