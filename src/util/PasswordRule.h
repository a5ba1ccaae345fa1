#pragma once

#include <optional>
#include <string>

// What zipcloak and the expect dialogue can carry as a password: the rule
// is checked before a job starts and as the user types. The password is
// typed at zipcloak in code page 932, the bytes Japanese Windows derives
// the key from when the receiver types the same characters.
class PasswordRule {
public:
    // zipcloak reads at most this many bytes.
    static constexpr std::size_t kMaxLength = 80;

    enum class Problem {
        None,
        Empty,
        OutsideCp932,     // a character Japanese Windows cannot type as code page 932, an emoji say
        TooLong,          // more than kMaxLength bytes in code page 932
        ControlCharacter, // a line feed, a tab, ... cannot be typed at zipcloak's prompt
        NotUtf8,          // bytes that are no UTF-8 text, from a script's environment say
    };

    // The problem that keeps password (UTF-8) from encrypting an archive.
    static Problem check(const std::string& password);

    // Why, in a log line.
    static const char* describe(Problem problem);

    // The code page 932 bytes of password (UTF-8), as zipcloak is to get
    // them; nullopt when a character has none. ASCII stays as it is; a
    // password that converts only once composed (kana as a Mac writes them,
    // "か" and a sound mark) gives the one character the receiver types.
    static std::optional<std::string> windowsBytes(const std::string& password);

    // True when the receiver types characters outside ASCII: opening the
    // archive then takes Japanese Windows, where they are typed as they
    // are. Characters that give no bytes (a byte-order mark) do not count;
    // a password that cannot be used counts any such character.
    static bool needsJapaneseWindows(const std::string& password);
};
