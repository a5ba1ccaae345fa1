#pragma once

#include "Notifier.h"

#include <QIcon>

class QSystemTrayIcon;

// Notifications through the system tray where there is one, otherwise
// through notify-send where it is installed.
class DesktopNotifier : public Notifier {
public:
    explicit DesktopNotifier(QIcon icon);
    ~DesktopNotifier() override;

    void notify(const QString& title, const QString& text) override;

private:
    void notifyInTray(const QString& title, const QString& text);
    static bool notifyWithCommand(const QString& title, const QString& text);

    QIcon m_icon;
    QSystemTrayIcon* m_trayIcon = nullptr;
};
