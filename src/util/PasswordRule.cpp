#include "PasswordRule.h"

#include <algorithm>

namespace {

bool isControl(unsigned char byte)
{
    return byte < 0x20 || byte == 0x7F;
}

} // namespace

PasswordRule::Problem PasswordRule::check(const std::string& password)
{
    if (password.empty())
        return Problem::Empty;
    // zipcloak counts bytes: a Japanese character takes three of them.
    if (password.size() > kMaxLength)
        return Problem::TooLong;
    if (std::any_of(password.begin(), password.end(), [](char c) { return isControl(static_cast<unsigned char>(c)); }))
        return Problem::ControlCharacter;
    return Problem::None;
}

bool PasswordRule::mayFailOnWindows(const std::string& password)
{
    return std::any_of(password.begin(), password.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}
