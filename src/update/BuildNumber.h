#pragma once

#include <QtGlobal>

#include <optional>
#include <string_view>

// The running build number as written into the build: base 10, an optional
// leading "+" or "-", then digits only, within the signed 64-bit range.
class BuildNumber
{
public:
    static std::optional<qint64> parse(std::string_view text);
};
