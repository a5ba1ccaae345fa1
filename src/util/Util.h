#pragma once

#include "SettingStatus.h"
#include "StagedContent.h"

#include <functional>
#include <string>
#include <vector>

class WorkFolders;

// Stateless operations shared by the window, the application and the job.
class Util {
public:
    // Builds the content folder of folders from the items (absolute paths,
    // in the user's order) with Windows-safe names, and tells what it holds.
    // Stops early when abandoned says so. inMemory: the job's memory folder
    // is made, and the content goes there where it can.
    static StagedContent fixProhibitedCharacters(const WorkFolders& folders, const std::vector<std::string>& items,
                                                 const std::function<bool()>& abandoned, bool inMemory = false);

    // name with every prohibited character replaced by "_".
    static std::string replaceProhibitedCharacters(const std::string& name);

    // The nine characters Windows refuses in names, as UTF-8 byte sequences.
    static std::vector<std::string> prohibitedCharacters();

    // length characters drawn uniformly from a-z and 0-9 with the operating
    // system's secure random source. length must be at least 1.
    static std::string randomPassword(int length);

    // The options in the settings file, the defaults where none are stored.
    // The file holds a password only where no keyring keeps it (OptionStore).
    static SettingStatus loadSettingStatus();
    // The same; where the settings file exists but cannot be read, the
    // defaults, and unreadable says which file and the system's reason.
    // Where it holds an isEncrypt that is neither true nor false, encryption
    // off and the other options as stored, and unreadable says so. Empty
    // otherwise.
    static SettingStatus loadSettingStatusChecked(std::string& unreadable);
    // Replaces the options in the settings file (created for its owner
    // alone); true when they reached the disk. A password that cannot
    // encrypt an archive, an empty one too, is left out.
    // keyringStale marks that the keyring may hold a password the user has
    // replaced or cleared since.
    static bool saveSettingStatus(const SettingStatus& status, bool keyringStale = false);
    // Whether the settings file holds a password entry, an empty one too.
    static bool settingsHoldPassword();
    // Whether the settings file marks the keyring's password as stale.
    static bool settingsKeyringStale();
    // Makes the settings file readable and writable by its owner alone;
    // true when it is (or does not exist), else why says the system's reason.
    static bool makeSettingsPrivate(std::string& why);
};
