#pragma once

#include "Notification.h"

#include <QDBusConnection>
#include <QObject>

#include <functional>
#include <map>

// Desktop notifications: through the notification server on the session bus
// (org.freedesktop.Notifications), with the notification's action as a
// button where the server offers actions; without a server through
// notify-send, without the action; otherwise a line on standard output.
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifier(QDBusConnection bus, QObject* parent = nullptr);

    // Returns at once; the server is asked in the background.
    void notify(const Notification& notification);

signals:
    // The notification has been handed on: "server", "notify-send" or "none".
    void handed(const QString& how);

private slots:
    void onActionInvoked(uint id, const QString& key);
    void onClosed(uint id, uint reason);

private:
    void notifyOnBus(const Notification& notification, const QStringList& capabilities);
    void notifyWithCommand(const Notification& notification);

    QDBusConnection m_bus;
    // The actions of the notifications still shown, by the server's id.
    std::map<uint, std::function<void()>> m_actions;
};
