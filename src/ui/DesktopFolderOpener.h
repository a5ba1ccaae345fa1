#pragma once

#include "FolderOpener.h"

class QUrl;

// Opens folders with the desktop's file manager.
class DesktopFolderOpener : public FolderOpener {
public:
    bool openFolder(const std::string& folder) override;

    // The folder's file URL, built from its bytes so that names that are not
    // valid UTF-8 still lead to the right folder.
    static QUrl urlFor(const std::string& folder);
};
