#pragma once

#include "Notification.h"
#include "SettingStatus.h"

#include <functional>
#include <string>

class QWidget;

// What the window uses but does not decide, filled in by main and by tests.
// A service left empty does nothing: no update check, no notification, no
// file manager; an empty quit question lets the window close.
struct ViewServices {
    // Asks the update service once: when the first job has started, or two
    // seconds after the window has loaded, whichever comes first.
    std::function<void()> checkForUpdate;
    // Shows the delivered archive in the file manager.
    std::function<void(const std::string& archivePath)> showInFileManager;
    std::function<void(const Notification& notification)> notify;
    // Asks over window whether to quit while jobs run; true to quit.
    std::function<bool(QWidget* window)> confirmQuit;
    // The remembered options: read once when the window loads, written
    // whenever an option changes. Empty: the settings file alone. The
    // options loaded say encryptUnknown when they could not be relied on to
    // say whether to encrypt. A save that fails returns false and has said
    // why on standard output.
    std::function<SettingStatus()> loadOptions;
    std::function<bool(const SettingStatus& options)> saveOptions;
    // Where the password the window shows is (or would be) remembered.
    std::function<PasswordPlace(const SettingStatus& options)> passwordPlace;
};
