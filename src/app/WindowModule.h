#pragma once

#include <string>
#include <vector>

// The window's half of the program lives in a library of its own, loaded
// only when a window is wanted: a batch job then starts without the
// libraries of the window, the network and the graphics stack, whose
// loading would otherwise be most of its start.
class WindowModule {
public:
    // What the library gives: runs the window (or hands the items to the
    // running one) until the application ends, and returns the exit status.
    using Entry = int (*)(char* argv[], const std::vector<std::string>& items);
    static constexpr const char* kEntryName = "quillmere_run_window";
    static constexpr const char* kFileName = "quillmere-window.so";

    // Loads the library (see ModuleLibrary) and runs its window; when it
    // cannot be loaded, one line says why, a desktop notice says so in
    // Japanese, and the status is 1.
    static int run(const std::string& executableDir, char* argv[], const std::vector<std::string>& items);

private:
    static int fail(const std::string& executableDir, char* argv[], const std::string& reason);
};
