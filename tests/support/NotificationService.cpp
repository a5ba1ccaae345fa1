#include "NotificationService.h"

#include <QDBusMessage>

NotificationService::NotificationService(QStringList capabilities)
    : m_capabilities(std::move(capabilities))
{
}

bool NotificationService::registerOn(QDBusConnection connection)
{
    return connection.registerService("org.freedesktop.Notifications")
        && connection.registerVirtualObject("/org/freedesktop/Notifications", this);
}

bool NotificationService::handleMessage(const QDBusMessage& message, const QDBusConnection& connection)
{
    if (message.member() == "GetCapabilities")
        return connection.send(message.createReply(m_capabilities));
    if (message.member() != "Notify" || message.arguments().size() != 8)
        return false;
    const QList<QVariant> arguments = message.arguments();
    received.push_back({arguments.at(3).toString(), arguments.at(4).toString(), arguments.at(5).toStringList()});
    return connection.send(message.createReply(QVariant::fromValue(uint(received.size()))));
}
