#pragma once

#include "JobReport.h"

#include <optional>
#include <string>

// How Windows compares and accepts the names it extracts.
class WindowsName {
public:
    // Names that Windows takes for the same file give the same key: letter
    // case is ignored, full-width letters included. utf8 is the name as
    // Windows will show it.
    static std::string sameFileKey(const std::string& utf8);

    // name with " (n)" added: before the extension for a file, at the end
    // for a folder.
    static std::string numbered(const std::string& name, int n, bool isFolder);

    // Why Windows may refuse the component name (UTF-8), if it does.
    static std::optional<WindowsWarning> componentWarning(const std::string& name);

    // Windows' classic limit on a path's length, in UTF-16 units.
    static constexpr int kMaxPath = 260;
    static bool isTooLong(const std::string& utf8Path);
};
