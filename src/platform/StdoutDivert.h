#pragma once

#include "UniqueFd.h"

#include <string>

// While it lives, what the process and the programs it starts write to
// standard output goes to standard error instead, so that the original
// standard output carries one result a script can read whole.
class StdoutDivert {
public:
    StdoutDivert();
    ~StdoutDivert();
    StdoutDivert(const StdoutDivert&) = delete;
    StdoutDivert& operator=(const StdoutDivert&) = delete;

    // Writes text to the original standard output; false when it refused.
    bool writeOriginal(const std::string& text) const;

private:
    UniqueFd m_original;
};
