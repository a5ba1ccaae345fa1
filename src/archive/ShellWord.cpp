#include "ShellWord.h"

#include "PlainCharacter.h"

#include <algorithm>

std::string ShellWord::quoteIfNeeded(const std::string& word)
{
    if (!word.empty() && std::all_of(word.begin(), word.end(), PlainCharacter::is))
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
