#pragma once

#include "SettingStatus.h"

#include <string>
#include <vector>

// Stateless operations shared by the window, the application and the job.
class Util {
public:
    // Builds, inside the staging folder, the content folder
    // stagingPath/outputDirName/archive holding the staged tree with
    // Windows-safe names.
    static void fixProhibitedCharacters(const std::string& stagingPath, const std::string& outputDirName);

    // name with every prohibited character replaced by "_".
    static std::string replaceProhibitedCharacters(const std::string& name);

    // Removes the item at relativePath below the content folder when its
    // path still holds a prohibited character.
    static void removeUnnecessaryFile(const std::string& relativePath, const std::string& stagingPath,
                                      const std::string& outputDirName,
                                      const std::vector<std::string>& prohibitedCharacters);

    // The nine characters Windows refuses in names, as UTF-8 byte sequences.
    static std::vector<std::string> prohibitedCharacters();

    // length characters drawn uniformly from a-z and 0-9 with the operating
    // system's secure random source. length must be at least 1.
    static std::string randomPassword(int length);

    // The stored options, or (false, "", false) when none are stored.
    static SettingStatus loadSettingStatus();
    // Replaces the stored options; true when they reached the disk.
    static bool saveSettingStatus(const SettingStatus& status);
};
