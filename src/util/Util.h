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
    // Stops early when abandoned says so.
    static StagedContent fixProhibitedCharacters(const WorkFolders& folders, const std::vector<std::string>& items,
                                                 const std::function<bool()>& abandoned);

    // name with every prohibited character replaced by "_".
    static std::string replaceProhibitedCharacters(const std::string& name);

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
