#include "link/stayawake.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QProcess>
#include <QtTest>

#include <poll.h>
#include <unistd.h>

// logind's Manager, as far as the inhibitor goes: every lock is the write end of a pipe whose read end
// it keeps, so the test sees when the last holder closed it.
class FakeLogind : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    ~FakeLogind() override
    {
        for (int fd : qAsConst(readEnds))
            ::close(fd);
    }
    QStringList lastRequest;
    QList<int> readEnds;

    bool lockReleased(int index) const
    {
        pollfd watched{readEnds.at(index), POLLIN, 0};
        return ::poll(&watched, 1, 0) == 1 && (watched.revents & (POLLHUP | POLLIN));
    }

public Q_SLOTS:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &who, const QString &why, const QString &mode)
    {
        lastRequest = QStringList{what, who, why, mode};
        int ends[2];
        if (::pipe(ends) != 0)
            return {};
        readEnds << ends[0];
        QDBusUnixFileDescriptor lock(ends[1]);
        ::close(ends[1]);
        return lock;
    }
};

// The sleep inhibitor against a private bus standing in for the system bus.
class TestStayAwake : public QObject
{
    Q_OBJECT

private:
    QProcess m_bus;
    FakeLogind m_logind;

private Q_SLOTS:
    void initTestCase()
    {
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        if (!m_bus.waitForStarted(3000))
            QSKIP("no dbus-daemon to stand in for the system bus");
        QVERIFY(m_bus.waitForReadyRead(3000));
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus.readLine().trimmed());
        QDBusConnection bus = QDBusConnection::systemBus();
        QVERIFY(bus.isConnected());
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.login1")));
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &m_logind, QDBusConnection::ExportAllSlots));
    }
    void cleanupTestCase()
    {
        m_bus.kill();
        m_bus.waitForFinished(3000);
    }

    void lockFollowsTheRequest_data()
    {
        QTest::addColumn<bool>("withdrawnAtOnce");
        QTest::newRow("held while busy") << false;
        QTest::newRow("withdrawn before logind answered") << true;
    }
    void lockFollowsTheRequest()
    {
        QFETCH(bool, withdrawnAtOnce);
        StayAwake awake;
        const int locks = m_logind.readEnds.size();
        awake.setAwake(true);
        awake.setAwake(!withdrawnAtOnce);   // a request repeated while one is pending takes no second lock
        QTRY_COMPARE(m_logind.readEnds.size(), locks + 1);
        QCOMPARE(m_logind.lastRequest, (QStringList{"sleep:idle", "Korvex", "The milling machine is being fed", "block"}));
        if (!withdrawnAtOnce) {
            QTRY_VERIFY(awake.isHeld());
            QCOMPARE(m_logind.readEnds.size(), locks + 1);
            QVERIFY(!m_logind.lockReleased(locks));
            awake.setAwake(false);
        }
        QTRY_VERIFY(m_logind.lockReleased(locks));
        QVERIFY(!awake.isHeld());
    }
};

QTEST_GUILESS_MAIN(TestStayAwake)
#include "tst_stayawake.moc"
