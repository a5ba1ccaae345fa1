#pragma once

#include <QDBusMessage>
#include <QString>
#include <QStringList>

// A notice through the notification service of the session bus
// (org.freedesktop.Notifications), as this application gives it.
class DesktopNotice {
public:
    // The service's Notify call for a notice with summary and body, and the
    // actions as the service takes them (pairs of a key and its label).
    static QDBusMessage notifyCall(const QString& summary, const QString& body, const QStringList& actions = {});

    // Gives the notice and waits for the service's answer, for a failure
    // that has no window to be told in. False when there is no session bus,
    // or no service answered within a few seconds.
    static bool show(const QString& summary, const QString& body);
};
