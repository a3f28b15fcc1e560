#include "toolpath/tcpsender.h"

#include "app/infodialog.h"
#include "toolpath/tcprequest.h"

#include <QTcpSocket>

namespace {
constexpr int connectTimeoutMs = 1000;
constexpr int maxRetries = 3;  // after the first attempt: four attempts in all
}

const char *const TcpSender::networkErrorText = "Network error\nKein Internet oder Server offline\n";

TcpSender::TcpSender(QObject *parent)
    : QObject(parent)
    , m_address(QStringLiteral(KORVEX_CALC_SERVER))
{
}

TcpSender::~TcpSender()
{
    // A socket closed by its destructor still signals; this object must not hear it half-destroyed.
    if (m_socket)
        m_socket->disconnect(this);
    qDeleteAll(m_queue);
}

void TcpSender::setServer(const QHostAddress &address, quint16 port)
{
    m_address = address;
    m_port = port;
}

QString TcpSender::pcbRequestText(qint32 kind, float boardThickness, const QString &fileText)
{
    QString thickness;
    QString layer;
    switch (kind) {
    case PcbLayout:
        thickness = QString::number(boardThickness);
        layer = QStringLiteral("Layout");
        break;
    case PcbBotLayout:
        thickness = QString::number(boardThickness);
        layer = QStringLiteral("BotLayout");
        break;
    case PcbDrill:
        // The drill goes 0.4 mm and the outline 0.2 mm deeper than the board is thick.
        thickness = QString::number(boardThickness + 0.4f);
        layer = QStringLiteral("Drill");
        break;
    case PcbOutline:
        thickness = QString::number(double(boardThickness) + 0.2);
        layer = QStringLiteral("Outline");
        break;
    default:
        return QString();
    }
    return QStringLiteral("PCB\n") + thickness + QLatin1Char('\n') + layer + QLatin1Char('\n')
        + QString::number(fileText.size()) + QLatin1Char('\n') + fileText;
}

void TcpSender::enqueueRequest(qint32 kind, const QString &text)
{
    enqueueRequest(kind, text.toUtf8());
}

void TcpSender::enqueueRequest(qint32 kind, const QByteArray &bytes)
{
    m_queue.append(new TcpRequest(kind, bytes));
    if (m_queue.size() == 1)
        connectHead();
}

void TcpSender::connectHead()
{
    // Blocks the window for at most a second per attempt, four attempts in all.
    for (;;) {
        m_socket = createSocket();
        m_socket->connectToHost(m_address, m_port, QIODevice::ReadWrite);
        if (m_socket->waitForConnected(connectTimeoutMs)) {
            m_retries = 0;
            return;
        }
        if (m_retries >= maxRetries)
            break;
        ++m_retries;
    }
    m_retries = 0;
    reportToUser(QString::fromLatin1(networkErrorText));
    const qint32 kind = m_queue.first()->kind();
    dropHead();
    Q_EMIT requestDropped(kind);
    // A dropped request must not block the queue: whatever waits behind it gets its own attempts.
    startNextRequest();
}

QTcpSocket *TcpSender::createSocket()
{
    // An attempt that timed out may still connect later; it must not write or answer for the next one.
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
    }
    auto *socket = new QTcpSocket(this);
    connect(socket, &QTcpSocket::connected, this, &TcpSender::connected);
    connect(socket, &QTcpSocket::disconnected, this, &TcpSender::disconnected);
    connect(socket, &QTcpSocket::readyRead, this, &TcpSender::readyRead);
    connect(socket, &QTcpSocket::bytesWritten, this, &TcpSender::bytesWritten);
    connect(socket, &QTcpSocket::errorOccurred, this, &TcpSender::error);
    return socket;
}

void TcpSender::dropHead()
{
    if (!m_queue.isEmpty())
        delete m_queue.takeFirst();
}

void TcpSender::startNextRequest()
{
    if (!m_queue.isEmpty())
        connectHead();
}

void TcpSender::connected()
{
    if (!m_queue.isEmpty())
        m_socket->write(m_queue.first()->bytes());
}

void TcpSender::readyRead()
{
    m_answer += QString::fromUtf8(m_socket->readAll());
}

void TcpSender::disconnected()
{
    if (m_queue.isEmpty())
        return;
    m_answer += QString::fromUtf8(m_socket->readAll());
    const QString answer = m_answer;
    m_answer.clear();
    const qint32 kind = m_queue.first()->kind();
    dropHead();
    deliverAnswer(kind, answer);
    startNextRequest();
}

void TcpSender::bytesWritten(qint64)
{
}

void TcpSender::error(QAbstractSocket::SocketError er)
{
    if (er == QAbstractSocket::RemoteHostClosedError)
        return;
    reportToUser(m_socket->errorString() + QLatin1Char('\n'));
}

void TcpSender::deliverAnswer(qint32 kind, const QString &answer)
{
    switch (kind) {
    case PcbLayout:
        Q_EMIT PcbLayoutfileRec(answer);
        break;
    case PcbOutline:
        Q_EMIT PcbOutlinefileRec(answer);
        break;
    case PcbDrill:
        Q_EMIT PcbDrillfileRec(answer);
        break;
    case PcbBotLayout:
        Q_EMIT PcbLayoutBotfileRec(answer);
        break;
    case Stl:
        Q_EMIT STLfileRec(answer);
        break;
    case Dxf:
        Q_EMIT DXFfileRec(answer);
        break;
    default:
        break;
    }
}

void TcpSender::reportToUser(const QString &text)
{
    InfoDialog::instance()->appendInfo(text);
}
