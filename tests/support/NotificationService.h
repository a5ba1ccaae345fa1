#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QStringList>

#include <vector>

// The desktop's notification service, for a test's private bus: it offers
// the capabilities it is given, records each notice and answers as the
// service does, with a notice id of its own.
class NotificationService : public QDBusVirtualObject {
public:
    struct Notice {
        QString summary;
        QString body;
        QStringList actions;
    };

    explicit NotificationService(QStringList capabilities = {});
    // Takes the service's name and path on connection; false when it cannot.
    bool registerOn(QDBusConnection connection);

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

    std::vector<Notice> received;

private:
    QStringList m_capabilities;
};
