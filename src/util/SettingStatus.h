#pragma once

#include <string>

// The window's three options, as shown by its controls or as stored.
struct SettingStatus {
    bool isEncrypt = false;
    std::string password;
    bool isSelectDir = false;

    bool operator==(const SettingStatus&) const = default;
};
