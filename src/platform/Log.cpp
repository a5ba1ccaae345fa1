#include "Log.h"

#include "UniqueFd.h"

#include <unistd.h>

void Log::line(const std::string& text)
{
    std::string whole = text;
    whole += '\n';
    // Nowhere is left to report a failure to.
    UniqueFd::writeAll(STDOUT_FILENO, whole.data(), whole.size());
}
