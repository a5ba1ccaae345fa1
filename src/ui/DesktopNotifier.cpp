#include "DesktopNotifier.h"

#include "DesktopNotice.h"
#include "Log.h"
#include "LogPrefix.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QProcess>
#include <QStandardPaths>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kActionKey = QStringLiteral("show");
const int kCallTimeoutMs = 5000;

QDBusMessage methodCall(const QString& method)
{
    return QDBusMessage::createMethodCall(kService, kPath, kService, method);
}

} // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
    if (!m_bus.isConnected())
        return;
    m_bus.connect(QString(), kPath, kService, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(QString(), kPath, kService, QStringLiteral("NotificationClosed"), this, SLOT(onClosed(uint, uint)));
}

void DesktopNotifier::notify(const Notification& notification)
{
    if (!m_bus.isConnected()) {
        notifyWithCommand(notification);
        return;
    }
    // The capabilities decide whether the action can be offered and whether
    // the body would be read as markup.
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(methodCall(QStringLiteral("GetCapabilities")),
                                                                kCallTimeoutMs),
                                                this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, notification] {
        watcher->deleteLater();
        const QDBusPendingReply<QStringList> capabilities = *watcher;
        if (capabilities.isError())
            notifyWithCommand(notification);
        else
            notifyOnBus(notification, capabilities.value());
    });
}

void DesktopNotifier::notifyOnBus(const Notification& notification, const QStringList& capabilities)
{
    const bool withAction = notification.action && capabilities.contains(QStringLiteral("actions"));
    QStringList actions;
    if (withAction)
        actions << QStringLiteral("default") << notification.actionLabel << kActionKey << notification.actionLabel;
    // Folder names may hold "<" or "&": escaped where the server reads markup.
    const QString body = capabilities.contains(QStringLiteral("body-markup")) ? notification.text.toHtmlEscaped()
                                                                              : notification.text;
    const QDBusMessage call = DesktopNotice::notifyCall(notification.title, body, actions);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeoutMs), this);
    const std::function<void()> action = withAction ? notification.action : std::function<void()>();
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, notification, action] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> id = *watcher;
        if (id.isError()) {
            Log::line(LogPrefix::kNotification + id.error().message().toStdString());
            notifyWithCommand(notification);
            return;
        }
        if (action)
            m_actions[id.value()] = action;
        emit handed(QStringLiteral("server"));
    });
}

void DesktopNotifier::notifyWithCommand(const Notification& notification)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("notify-send"));
    // The text goes in as one argument after "--": it can never be taken
    // for an option of notify-send.
    if (!program.isEmpty()
        && QProcess::startDetached(program, {QStringLiteral("--app-name=Quillmere"), QStringLiteral("--icon=quillmere"),
                                             QStringLiteral("--"), notification.title, notification.text})) {
        emit handed(QStringLiteral("notify-send"));
        return;
    }
    Log::line(LogPrefix::kNoNotification + notification.title.toStdString() + " "
              + notification.text.toStdString());
    emit handed(QStringLiteral("none"));
}

void DesktopNotifier::onActionInvoked(uint id, const QString& key)
{
    const auto found = m_actions.find(id);
    if (found == m_actions.end())
        return;
    if (key == kActionKey || key == QLatin1String("default"))
        found->second();
}

void DesktopNotifier::onClosed(uint id, uint)
{
    m_actions.erase(id);
}
