#pragma once

#include "JobReport.h"

#include <optional>
#include <string>

// How Windows compares and accepts the names it extracts.
class WindowsName {
public:
    // Names that Windows takes for the same file give the same key: letter
    // case is ignored, full-width letters included, and so are trailing
    // dots and blanks. utf8 is the name as Windows will show it.
    static std::string sameFileKey(const std::string& utf8);

    // name with " (n)" added: before the extension for a file, at the end
    // for a folder.
    static std::string numbered(const std::string& name, int n, bool isFolder);

    // name made one Windows can create: a device name (CON, PRN, AUX, NUL,
    // COM1-9, LPT1-9, COM¹²³, LPT¹²³, any case, with or without an
    // extension) gets "_" after its stem, each trailing dot or blank
    // becomes "_", and an empty name or one of dots alone becomes "_". Any
    // other name comes back as it is.
    static std::string creatable(const std::string& name);

    // Why Windows may refuse the component name (UTF-8), if it does.
    static std::optional<WindowsWarning> componentWarning(const std::string& name);

    // Windows' classic limit on a path's length, in UTF-16 units, and the
    // length taken for the folder a receiver extracts into, such as
    // "C:\Users\<name>\Downloads\<archive>\".
    static constexpr int kMaxPath = 260;
    static constexpr int kExtractionFolder = 60;
    // The path's length in UTF-16 units.
    static int length(const std::string& utf8Path);
    // True when the path, below a typical extraction folder, reaches the
    // limit.
    static bool isTooLong(const std::string& utf8Path);
};
