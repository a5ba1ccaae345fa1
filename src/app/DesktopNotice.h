#pragma once

#include <QString>

// A notice on the desktop, through the notification service of the session
// bus, for a failure that has no window to be told in.
class DesktopNotice {
public:
    // False when there is no session bus, or no notification service
    // answered within a few seconds.
    static bool show(const QString& summary, const QString& body);
};
