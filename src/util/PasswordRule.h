#pragma once

#include <string>

// What zipcloak and the expect dialogue can carry as a password: the rule
// is checked before a job starts and as the user types.
class PasswordRule {
public:
    // zipcloak reads at most this many characters.
    static constexpr std::size_t kMaxLength = 80;

    enum class Problem {
        None,
        Empty,
        TooLong,
        ControlCharacter, // a line feed, a tab, ... cannot be typed at zipcloak's prompt
    };

    // The problem that keeps password from encrypting an archive.
    static Problem check(const std::string& password);

    // True when the password holds characters outside printable ASCII:
    // allowed, but Windows' own extractor may not open the archive with it.
    static bool mayFailOnWindows(const std::string& password);
};
