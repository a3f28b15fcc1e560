#pragma once

#include "link/serialmessage.h"

// One line of a G-code job. Every line reports through the process-wide carrier instance, so the
// G-code mode and the check dialog connect once and hear every line of every run. Like every job
// signal, they arrive queued: answers are handled inside the reader, and a receiver that shows a
// message box must not run its event loop there.
class GcodeSerialMessage : public SerialMessage
{
    Q_OBJECT
public:
    GcodeSerialMessage();

    // The carrier of the job signals; created on first use, never queued, alive until the end.
    static GcodeSerialMessage *instance();

    // Called once from the G-code mode's constructor. The mode needs the slots
    // setProgressBar(qint64) and lastMsgComplete().
    template<class Mode>
    static void registerGcodeMode(Mode *mode)
    {
        connect(instance(), &GcodeSerialMessage::setProgress, mode, &Mode::setProgressBar, Qt::QueuedConnection);
        connect(instance(), &GcodeSerialMessage::allMSGsSent, mode, &Mode::lastMsgComplete, Qt::QueuedConnection);
    }

    // Called once from the check dialog's constructor; it receives the lines marked as check run.
    template<class Dialog>
    static void registerCheckDialog(Dialog *dialog)
    {
        connect(instance(), &GcodeSerialMessage::setTestProgress, dialog, &Dialog::setProgressBar, Qt::QueuedConnection);
        connect(instance(), &GcodeSerialMessage::allTestMSGsSent, dialog, &Dialog::lastMsgComplete, Qt::QueuedConnection);
    }

    // "ok" and "error" advance the job alike; the reader reports the error itself.
    bool handleResponse(QString line) override;

Q_SIGNALS:
    void setProgress(qint64 line_nr);
    void setTestProgress(qint64 line_nr);
    void allMSGsSent();
    void allTestMSGsSent();
};
