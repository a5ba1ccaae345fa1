#pragma once

#include <string>

// The window's options, as shown by its controls or as stored.
struct SettingStatus {
    bool isEncrypt = false;
    std::string password;
    bool isSelectDir = false;
    // Name the archive after the single item given, or after the folder
    // that holds several, instead of "archive".
    bool nameAfterItems = false;
    // The window does not know whether to encrypt: the stored options
    // could not be read, and the user has not chosen since. isEncrypt is
    // then false, and no job may go by it.
    bool encryptUnknown = false;

    bool operator==(const SettingStatus&) const = default;
};

// Where a remembered password is kept, for the note under the field.
enum class PasswordPlace {
    Keyring,      // the desktop's Secret Service
    SettingsFile, // no Secret Service answered: the settings file, readable only by the user
    OpenSettingsFile, // the settings file, which could not be made readable by the user alone
    Unsaved,      // the settings file should keep it but could not be written: it is not remembered
    NotStored,    // nothing to remember (empty, or a password that cannot be used)
};
