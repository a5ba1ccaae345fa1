#pragma once

#include "DesktopServices.h"

#include <memory>
#include <string>

// Loads the session bus's library (see DesktopServices) for a start without
// a window, which needs it only for a stored password or a notice: a batch
// job that needs neither starts without QtDBus, libdbus and the keyring's
// libraries, a few milliseconds of every start.
class DesktopModule {
public:
    // nullptr when the library cannot be loaded, after one line that says
    // why.
    static std::unique_ptr<DesktopServices> load(const std::string& executableDir);
    // The keyring as the store sees it where the library is missing: it
    // never answers, as on a desktop without one.
    static OptionStore::Keyring unreachableKeyring();
};
