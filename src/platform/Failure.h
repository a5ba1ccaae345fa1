#pragma once

#include <optional>
#include <string>

// The outcome of an operation that can fail: nothing on success, otherwise
// a readable description that names what was concerned
// ("No such file or directory: /a/b").
using Failure = std::optional<std::string>;

// The description of the system error number error for path.
std::string describeErrno(int error, const std::string& path);

// The system's own limits (open files, memory), not the user's file.
bool isSystemLimit(int error);
