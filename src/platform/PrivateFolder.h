#pragma once

#include "Failure.h"

#include <string>

// A folder only this user can enter: the work folder, which holds links to
// the user's files, and the instance channel, where anyone who could enter
// could take the user's place or hand the instance files to archive.
class PrivateFolder {
public:
    // Creates the folder (its parent must exist) with mode 0700, or checks
    // the one that is there: it must be a real folder, not a symbolic link,
    // and belong to this user; access for others is taken away. Returns the
    // reason when the folder cannot be used; systemError, when given, takes
    // the errno of the call that failed (no space, no permission), or 0 when
    // the folder was refused for what it is.
    static Failure make(const std::string& path, int* systemError = nullptr);
    // The same checks on the folder that is there, changing nothing: a
    // folder open to others is refused.
    static Failure check(const std::string& path);
};
