#pragma once

#include "link/serialmessage.h"

// One line of an STL or DXF job, reporting progress and completion through the process-wide carrier.
class STLSerialMessage : public SerialMessage
{
    Q_OBJECT
public:
    // The text and number are kept for the producer's own bookkeeping; they change no behaviour.
    STLSerialMessage(const QString &text, int number);

    // The carrier of the job signals; created on first use, never queued, alive until the end.
    static STLSerialMessage *instance();

    // Called once from the STL mode's constructor. The mode needs the slots complete() and
    // setProgressBar(qint64).
    template<class Mode>
    static void registerStlMode(Mode *mode)
    {
        connect(instance(), &STLSerialMessage::millFinished, mode, &Mode::complete, Qt::QueuedConnection);
        connect(instance(), &STLSerialMessage::setProgress, mode, &Mode::setProgressBar, Qt::QueuedConnection);
    }

    QString text() const { return m_text; }
    int number() const { return m_number; }

    bool handleResponse(QString line) override;

Q_SIGNALS:
    void millFinished();
    void setProgress(qint64 line_nr);

private:
    QString m_text;
    int m_number;
};
