#pragma once

#include <string>

// A benchmark that is interrupted (Ctrl-C, kill) leaves its temporary
// folder behind, with the tmpfs mounted on its runtime folder and perhaps
// on a tree. Each run notes its process in its folder; the next one
// unmounts and removes the folders of runs whose process has gone.
class StaleRuns {
public:
    static constexpr const char* kPrefix = "quillmere-bench-";

    // Notes this process as the owner of root.
    static void own(const std::string& root);
    // Unmounts and removes the folders named kPrefix... in tempFolder whose
    // owner has gone; folders without an owner are left alone. Says on
    // standard error what it removed.
    static void removeIn(const std::string& tempFolder);
};
