#pragma once

#include <QObject>

class QSerialPort;
class SerialPort;

// Companion of the connection that knows its port; the writing itself is done by the send queue.
class SerialPortWriter : public QObject
{
    Q_OBJECT
public:
    explicit SerialPortWriter(SerialPort *connection, QObject *parent = nullptr);

    void setPort(QSerialPort *port) { m_port = port; }
    QSerialPort *port() const { return m_port; }
    SerialPort *connection() const { return m_connection; }

private:
    SerialPort *m_connection;
    QSerialPort *m_port = nullptr;
};
