#include "link/serialportwriter.h"

SerialPortWriter::SerialPortWriter(SerialPort *connection, QObject *parent)
    : QObject(parent)
    , m_connection(connection)
{
}
