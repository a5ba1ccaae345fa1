#include "PlainCharacter.h"

#include <string_view>

bool PlainCharacter::is(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return std::string_view("/._-+,@%=:").find(c) != std::string_view::npos;
}
