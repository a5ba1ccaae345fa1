#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

// The file manager's org.freedesktop.FileManager1 on a test's bus: records
// the items it is asked to show.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    bool registerOn(QDBusConnection bus);
    QList<QStringList> shown;

public slots:
    void ShowItems(const QStringList& uris, const QString& startupId);
};

// A notification server (org.freedesktop.Notifications) on a test's bus
// with the given capabilities; records each notification, answers id 7,
// and can report that the user chose an action.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    explicit FakeNotificationServer(QStringList capabilities)
        : m_capabilities(std::move(capabilities))
    {
    }
    bool registerOn(QDBusConnection bus);
    // Sends ActionInvoked for notification 7 as the server would.
    void chooseAction(const QString& key);

    struct Received {
        QString summary;
        QString body;
        QStringList actions;
    };
    QList<Received> received;

public slots:
    QStringList GetCapabilities();
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int timeout);

private:
    QStringList m_capabilities;
    QDBusConnection m_bus{QString()};
};
