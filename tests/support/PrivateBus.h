#pragma once

#include <QProcess>
#include <QString>

// A session bus of a test's own (dbus-daemon), listening in a folder of the
// test's and starting no services but those of an empty folder: nothing is
// on it but what the test puts there. It ends with the object.
class PrivateBus {
public:
    explicit PrivateBus(const QString& folder);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Empty when dbus-daemon did not start.
    const QString& address() const { return m_address; }

    // Ends a program a test started: asked first, killed when it will not.
    static void stop(QProcess& process);

private:
    QProcess m_daemon;
    QString m_address;
};
