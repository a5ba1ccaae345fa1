#pragma once

#include <functional>
#include <string>

// Asks the user for a destination folder without blocking the caller.
// Implementations show folders only and offer no way to create one.
class FolderChooser {
public:
    // accepted is false when the user cancelled; folder is empty when the
    // chooser was confirmed without yielding a folder.
    using Done = std::function<void(bool accepted, const std::string& folder)>;

    virtual ~FolderChooser() = default;
    virtual void chooseFolder(Done done) = 0;
};
