#pragma once

#include <QAbstractSocket>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

class QTcpSocket;
class TcpRequest;

// Client of the calculation server: requests are queued and sent one at a time, each over a fresh
// connection; the answer is everything the server writes before it closes that connection.
class TcpSender : public QObject
{
    Q_OBJECT
public:
    // The job part a request belongs to; it picks the signal that delivers the answer.
    enum Kind : qint32 {
        PcbLayout = 0,
        PcbOutline = 1,
        PcbDrill = 2,
        PcbBotLayout = 3,
        Stl = 4,
        Dxf = 5,
    };

    static constexpr quint16 defaultPort = 2223;
    static const char *const networkErrorText;

    explicit TcpSender(QObject *parent = nullptr);
    ~TcpSender() override;

    // Takes the request over; it is sent as soon as every request queued before it has been answered.
    void enqueueRequest(qint32 kind, const QString &text);
    // A request whose design file goes as its bytes, unchanged (a binary STL file has no text form).
    void enqueueRequest(qint32 kind, const QByteArray &bytes);

    // Request text of one PCB layer (kinds 0 to 3) for a board of the given thickness in mm.
    static QString pcbRequestText(qint32 kind, float boardThickness, const QString &fileText);

    // Where the server is reached; the build-time address on port 2223 unless a test points elsewhere.
    void setServer(const QHostAddress &address, quint16 port);
    int pendingRequests() const { return m_queue.size(); }

Q_SIGNALS:
    void PcbOutlinefileRec(QString file_content);
    void STLfileRec(QString file_content);
    void PcbLayoutfileRec(QString file_content);
    void PcbDrillfileRec(QString file_content);
    void PcbLayoutBotfileRec(QString file_content);
    void DXFfileRec(QString file_content);
    // The server could not be reached: this request gets no answer.
    void requestDropped(qint32 kind);

public Q_SLOTS:
    void connected();
    void disconnected();
    void bytesWritten(qint64 bytes);
    void readyRead();
    void error(QAbstractSocket::SocketError er);

private:
    void connectHead();
    QTcpSocket *createSocket();
    void dropHead();
    void startNextRequest();
    void deliverAnswer(qint32 kind, const QString &answer);
    void reportToUser(const QString &text);

    QTcpSocket *m_socket = nullptr;
    QString m_answer;
    QList<TcpRequest *> m_queue;
    qint32 m_retries = 0;
    QHostAddress m_address;
    quint16 m_port = defaultPort;
};
