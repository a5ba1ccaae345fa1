#include "ProcessText.h"

#include <algorithm>
#include <unistd.h>

std::vector<std::string> ProcessText::environmentWith(const std::vector<std::string>& overrides)
{
    std::vector<std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('=') + 1);
        const bool replaced = std::any_of(overrides.begin(), overrides.end(),
                                          [&](const std::string& own) { return own.starts_with(name); });
        if (!replaced)
            result.push_back(text);
    }
    result.insert(result.end(), overrides.begin(), overrides.end());
    return result;
}

std::vector<char*> ProcessText::pointersTo(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}
