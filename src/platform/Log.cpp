#include "Log.h"

#include <cerrno>
#include <unistd.h>

void Log::line(const std::string& text)
{
    std::string whole = text;
    whole += '\n';
    const char* data = whole.data();
    size_t left = whole.size();
    while (left > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return; // nowhere left to report to
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
}
