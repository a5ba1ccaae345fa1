#pragma once

#include <string>

// Quoting for "/bin/sh".
class ShellWord {
public:
    // word unchanged when it holds only letters, digits and / . _ - + , @ % = :
    // otherwise word in single quotes, so the shell reads it as one word and
    // expands nothing in it.
    static std::string quoteIfNeeded(const std::string& word);
};
