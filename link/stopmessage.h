#pragma once

#include <QPointer>

#include <functional>

#include "link/serialmessage.h"

// An empty line queued just before a program pause: its answer means the controller has reached the
// pause, so the job mode shows its play button from then on.
class StopMessage : public SerialMessage
{
    Q_OBJECT
public:
    // The mode needs a setPaused(bool) (the shared job-mode state); nothing else of it is used.
    template<class Mode>
    explicit StopMessage(Mode *mode)
        : StopMessage(std::function<void()>([guard = QPointer<Mode>(mode)] {
            if (guard)
                guard->setPaused(true);
        }))
    {
    }

    bool handleResponse(QString line) override;

private:
    explicit StopMessage(std::function<void()> pauseMode);

    std::function<void()> m_pauseMode;
};
