#pragma once

#include <string>

// Shows a folder in the user's file manager. An interface so tests can see
// which folder would have been opened.
class FolderOpener {
public:
    virtual ~FolderOpener() = default;
    // False when the folder could not be handed to the file manager.
    virtual bool openFolder(const std::string& folder) = 0;
};
