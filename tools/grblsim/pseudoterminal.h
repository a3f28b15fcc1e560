#pragma once

#include <QString>

// The master side of a pseudo-terminal pair whose slave side looks like a raw serial device.
// The slave is kept open here as well, so the master never sees a hang-up while no client is attached.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool open(QString *error);
    void close();
    bool isOpen() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }

    // A symbolic link to the slave, removed again on close().
    bool makeLink(const QString &linkPath, QString *error);

    // A descriptor that becomes readable when someone opens the slave (-1 if that cannot be watched).
    int watchOpens();
    int takeOpenEvents();               // how many opens happened since the last call
    void discardUnreadOutput();         // what the master wrote and no client has read yet

private:
    int m_master = -1;
    int m_slave = -1;
    int m_openWatch = -1;
    QString m_slavePath;
    QString m_linkPath;
};
