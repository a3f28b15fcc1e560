#pragma once

#include <QPointer>

#include <functional>

#include "link/serialmessage.h"

// One line of a PCB job. A line may carry an operator prompt (a tool change): its answer pauses the
// PCB mode and has the carrier ask the window for the tool change prompt. Progress goes through the
// process-wide carrier; the last line's answer reports completion to the PCB mode.
class PCBSerialMessage : public SerialMessage
{
    Q_OBJECT
public:
    // An empty prompt text means no prompt. The type selects the prompt's picture.
    PCBSerialMessage(const QString &promptText, int promptType);

    // The carrier of the progress and prompt signals; created on first use, never queued, alive until the end.
    static PCBSerialMessage *instance();

    // Called once from the PCB mode's constructor. The mode needs the slots setProgressBar(qint64)
    // and complete(), and a setPaused(bool) that shows the play button (the shared job-mode state).
    // Only the mode type is known here, so the link stays free of the mode classes.
    template<class Mode>
    static void registerPcbMode(Mode *mode)
    {
        connect(instance(), &PCBSerialMessage::setProgress, mode, &Mode::setProgressBar, Qt::QueuedConnection);
        const QPointer<Mode> guard(mode);
        rememberPcbMode(
            [guard] {
                if (guard)
                    guard->setPaused(true);
            },
            [guard](PCBSerialMessage *message) {
                if (guard)
                    connect(message, &PCBSerialMessage::millFinished, guard.data(), &Mode::complete,
                            Qt::QueuedConnection);
            });
    }

    QString promptText() const { return m_promptText; }
    int promptType() const { return m_promptType; }

    bool handleResponse(QString line) override;

Q_SIGNALS:
    void millFinished();
    void setProgress(qint64 line_nr);
    // Emitted by the carrier: show the tool change prompt.
    void openQTMessageBox(QString text, int type);

private:
    static void rememberPcbMode(std::function<void()> pauseMode,
                                std::function<void(PCBSerialMessage *)> connectCompletion);

    QString m_promptText;
    int m_promptType;
};
