#pragma once

#include <string>

class QUrl;

// Opens folders with the desktop's file manager.
class DesktopFolderOpener {
public:
    // False when the folder could not be handed to the file manager.
    static bool openFolder(const std::string& folder);

    // The folder's file URL, built from its bytes so that names that are not
    // valid UTF-8 still lead to the right folder.
    static QUrl urlFor(const std::string& folder);
};
