#pragma once

#include <string>

// A library of the program's own that the executable loads only when it is
// wanted (the window's, the session bus's): beside the executable in the
// build folder, or where the package puts it.
class ModuleLibrary {
public:
    // The library's path; empty when neither place holds it.
    static std::string path(const std::string& executableDir, const char* fileName);
    // Loads the library, never to be unloaded (its objects and Qt's plugins
    // live until exit), and returns its entry; nullptr, with error saying
    // why, when it is missing or cannot be loaded.
    static void* entry(const std::string& executableDir, const char* fileName, const char* entryName,
                       std::string& error);
};
