#include "ShellWord.h"

#include <algorithm>

namespace {

bool isSafe(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return std::string_view("/._-+,@%=:").find(c) != std::string_view::npos;
}

} // namespace

std::string ShellWord::quoteIfNeeded(const std::string& word)
{
    if (!word.empty() && std::all_of(word.begin(), word.end(), isSafe))
        return word;
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += "'";
    return quoted;
}
