#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// Which special response a queued message waits for. The numbers travel with the messages and are fixed.
enum MessageKind : qint32 {
    Ordinary = 0,
    Probe = 1,
    StatusQuery = 4,
    Vendor = 5,
};

// One line for the controller together with the bookkeeping the send queue and the reader need.
class SerialMessage : public QObject
{
    Q_OBJECT
public:
    explicit SerialMessage(QObject *parent = nullptr);

    QString content() const { return m_content; }
    // Bytes the content takes when written (its encoded length).
    int length() const { return m_length; }
    // One of GRBL's real-time command characters alone: acted on at once, never stored in the
    // controller's receive buffer and never answered with "ok".
    bool isRealtime() const;
    void setContent(const QString &content);
    quint32 lineNumber() const { return m_lineNumber; }
    void setLineNumber(quint32 lineNumber) { m_lineNumber = lineNumber; }
    bool isSent() const { return m_sent; }
    void setLast(bool last) { m_last = last; }
    bool isLast() const { return m_last; }
    void setPriority(bool priority) { m_priority = priority; }
    bool isPriority() const { return m_priority; }
    void setCheckRun(bool checkRun) { m_checkRun = checkRun; }
    bool isCheckRun() const { return m_checkRun; }
    qint32 kind() const { return m_kind; }
    void setKind(qint32 kind) { m_kind = kind; }

    virtual QByteArray toBytes();
    virtual bool handleResponse(QString line);

protected:
    void markSent() { m_sent = true; }

private:
    QString m_content;
    int m_length = 0;
    quint32 m_lineNumber = 0;
    bool m_sent = false;
    bool m_last = false;
    bool m_priority = false;
    bool m_checkRun = false;
    qint32 m_kind = Ordinary;
};
