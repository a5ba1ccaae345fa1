#pragma once

#include "Failure.h"

#include <string>

// A folder only this user can enter, for the instance lock and its socket:
// anyone who could enter it could take the user's place in the channel, or
// hand the user's instance files to archive where others can read the result.
class PrivateFolder {
public:
    // Creates the folder (its parent must exist) with mode 0700, or checks
    // the one that is there: it must be a real folder, not a symbolic link,
    // and belong to this user; access for others is taken away. Returns the
    // reason when the folder cannot be used.
    static Failure make(const std::string& path);
};
