#include "preview/mousedrag.h"

#include <Qt3DCore/QEntity>
#include <Qt3DInput/QAction>
#include <Qt3DInput/QActionInput>
#include <Qt3DInput/QAnalogAxisInput>
#include <Qt3DInput/QAxis>
#include <Qt3DInput/QLogicalDevice>
#include <Qt3DInput/QMouseDevice>

namespace {
Qt3DInput::QAxis *mouseAxis(Qt3DCore::QEntity *owner, Qt3DInput::QMouseDevice *mouse, Qt3DInput::QMouseDevice::Axis axis)
{
    auto *input = new Qt3DInput::QAnalogAxisInput(owner);
    input->setSourceDevice(mouse);
    input->setAxis(axis);
    auto *result = new Qt3DInput::QAxis(owner);
    result->addInput(input);
    return result;
}
} // namespace

MouseDrag MouseDrag::create(Qt3DCore::QEntity *owner, Qt3DInput::QMouseEvent::Buttons button)
{
    auto *mouse = new Qt3DInput::QMouseDevice(owner);
    auto *buttonInput = new Qt3DInput::QActionInput(owner);
    buttonInput->setSourceDevice(mouse);
    buttonInput->setButtons({button});

    MouseDrag drag;
    drag.button = new Qt3DInput::QAction(owner);
    drag.button->addInput(buttonInput);
    drag.axisX = mouseAxis(owner, mouse, Qt3DInput::QMouseDevice::X);
    drag.axisY = mouseAxis(owner, mouse, Qt3DInput::QMouseDevice::Y);

    auto *device = new Qt3DInput::QLogicalDevice(owner);
    device->addAction(drag.button);
    device->addAxis(drag.axisX);
    device->addAxis(drag.axisY);
    drag.frameAction = new Qt3DLogic::QFrameAction(owner);
    owner->addComponent(device);
    owner->addComponent(drag.frameAction);
    return drag;
}
