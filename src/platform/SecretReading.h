#pragma once

#include <string>

// What asking the desktop's keyring for a secret gave.
struct SecretReading {
    enum class Result {
        Found,
        Absent,      // the keyring answered and holds nothing under the name
        Unreachable, // no keyring, or none answered in time
    };
    Result result = Result::Unreachable;
    std::string secret; // when Found
};
