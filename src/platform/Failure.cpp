#include "Failure.h"

#include <cstring>

std::string describeErrno(int error, const std::string& path)
{
    return std::string(std::strerror(error)) + ": " + path;
}
