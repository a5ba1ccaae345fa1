#include "DesktopNotice.h"

#include <QDBusConnection>
#include <QVariantMap>

namespace {

const int kAnswerMilliseconds = 3000;

} // namespace

QDBusMessage DesktopNotice::notifyCall(const QString& summary, const QString& body, const QStringList& actions)
{
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/Notifications"),
                                                       service, QStringLiteral("Notify"));
    // The application's name, no notice to replace, its icon, the texts,
    // the actions, the desktop entry it comes from, and the service's own
    // time on screen.
    call << QStringLiteral("Quillmere") << uint(0) << QStringLiteral("quillmere") << summary << body << actions
         << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("quillmere")}} << int(-1);
    return call;
}

bool DesktopNotice::show(const QString& summary, const QString& body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected()
        && bus.call(notifyCall(summary, body), QDBus::Block, kAnswerMilliseconds).type() == QDBusMessage::ReplyMessage;
}
