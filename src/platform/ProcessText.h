#pragma once

#include <string>
#include <vector>

// What execve takes, made before a fork: after it, in a process with other
// threads, nothing may allocate.
class ProcessText {
public:
    // This process's environment with the given "NAME=value" texts in place
    // of any of the same names.
    static std::vector<std::string> environmentWith(const std::vector<std::string>& overrides);
    // The texts as a null-terminated array of pointers into them.
    static std::vector<char*> pointersTo(std::vector<std::string>& texts);
};
