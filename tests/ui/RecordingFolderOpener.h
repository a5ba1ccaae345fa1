#pragma once

#include "FolderOpener.h"

#include <string>
#include <vector>

// Remembers the folders it was asked to open.
class RecordingFolderOpener : public FolderOpener {
public:
    bool openFolder(const std::string& folder) override
    {
        opened.push_back(folder);
        return true;
    }

    std::vector<std::string> opened;
};
