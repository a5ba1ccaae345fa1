#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>

// A D-Bus session bus of the test's own: a dbus-daemon started for the
// test and ended with it, so fake desktop services never meet the real
// desktop's. connect() gives a new connection to it under a name of its own.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool isRunning() const { return !m_address.isEmpty(); }
    QDBusConnection connect(const QString& name) const;

private:
    QProcess m_daemon;
    QString m_address;
};
