#include "DesktopNotice.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace {

const int kAnswerMilliseconds = 3000;

} // namespace

bool DesktopNotice::show(const QString& summary, const QString& body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage notify = QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                                         "org.freedesktop.Notifications", "Notify");
    // The application's name, no notice to replace, its icon, the texts,
    // no actions, the desktop entry it comes from, and the service's own
    // time on screen.
    const QVariantMap hints{{"desktop-entry", QString("quillmere")}};
    notify << QString("Quillmere") << 0u << QString("quillmere") << summary << body << QStringList() << hints << -1;
    return bus.call(notify, QDBus::Block, kAnswerMilliseconds).type() == QDBusMessage::ReplyMessage;
}
