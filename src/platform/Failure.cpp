#include "Failure.h"

#include <cerrno>
#include <cstring>

std::string describeErrno(int error, const std::string& path)
{
    return std::string(std::strerror(error)) + ": " + path;
}

bool isSystemLimit(int error)
{
    return error == EMFILE || error == ENFILE || error == ENOMEM;
}
