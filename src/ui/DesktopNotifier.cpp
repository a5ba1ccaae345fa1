#include "DesktopNotifier.h"

#include "Log.h"

#include <QProcess>
#include <QStandardPaths>
#include <QSystemTrayIcon>

namespace {

const int kMessageMilliseconds = 10000;

} // namespace

DesktopNotifier::DesktopNotifier(QIcon icon)
    : m_icon(std::move(icon))
{
}

DesktopNotifier::~DesktopNotifier()
{
    delete m_trayIcon;
}

void DesktopNotifier::notify(const QString& title, const QString& text)
{
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        notifyInTray(title, text);
        return;
    }
    if (!notifyWithCommand(title, text))
        Log::line("no desktop notification could be shown: " + text.toStdString());
}

void DesktopNotifier::notifyInTray(const QString& title, const QString& text)
{
    // A tray message needs a visible tray icon; it is made on first use and
    // stays until the application ends.
    if (!m_trayIcon) {
        m_trayIcon = new QSystemTrayIcon(m_icon);
        m_trayIcon->setToolTip(QStringLiteral("Quillmere"));
    }
    m_trayIcon->show();
    m_trayIcon->showMessage(title, text, QSystemTrayIcon::Information, kMessageMilliseconds);
}

bool DesktopNotifier::notifyWithCommand(const QString& title, const QString& text)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("notify-send"));
    if (program.isEmpty())
        return false;
    // The text goes in as one argument after "--": it can never be taken
    // for an option of notify-send.
    return QProcess::startDetached(program, {QStringLiteral("--app-name=Quillmere"), QStringLiteral("--icon=quillmere"),
                                             QStringLiteral("--"), title, text});
}
