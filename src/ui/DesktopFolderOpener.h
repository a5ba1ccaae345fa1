#pragma once

#include <functional>
#include <string>

class QUrl;

// Opens folders with the desktop's file manager, through the desktop's
// launcher (xdg-open). The launcher finds the file manager in its own time
// and may fail only then: its answer comes later, and nothing waits for it.
class DesktopFolderOpener {
public:
    // Called once, with false when the launcher could not be started or
    // ended with a failure.
    using Done = std::function<void(bool opened)>;

    // A launcher may stay until the file manager it started closes: still
    // running after this long, it has opened the folder.
    static constexpr int kLauncherPatienceMs = 3000;

    static void openFolder(const std::string& folder, Done done);
    // As openFolder, with patienceMs in place of kLauncherPatienceMs.
    static void openFolderWithin(const std::string& folder, int patienceMs, Done done);

    // The folder's file URL, built from its bytes so that names that are not
    // valid UTF-8 still lead to the right folder.
    static QUrl urlFor(const std::string& folder);
};
