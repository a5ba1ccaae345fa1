#include "FakeDesktop.h"

#include <QDBusMessage>

bool FakeFileManager::registerOn(QDBusConnection bus)
{
    return bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), this, QDBusConnection::ExportAllSlots)
        && bus.registerService(QStringLiteral("org.freedesktop.FileManager1"));
}

void FakeFileManager::ShowItems(const QStringList& uris, const QString&)
{
    shown << uris;
}

bool FakeNotificationServer::registerOn(QDBusConnection bus)
{
    m_bus = bus;
    return bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllSlots)
        && bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

void FakeNotificationServer::chooseAction(const QString& key)
{
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                     QStringLiteral("org.freedesktop.Notifications"),
                                                     QStringLiteral("ActionInvoked"));
    signal << uint(7) << key;
    m_bus.send(signal);
}

QStringList FakeNotificationServer::GetCapabilities()
{
    return m_capabilities;
}

uint FakeNotificationServer::Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                                    const QStringList& actions, const QVariantMap&, int)
{
    received << Received{summary, body, actions};
    return 7;
}
