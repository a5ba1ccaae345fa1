#pragma once

#include <QString>

#include <optional>
#include <string>

// The read-back's findings about the archive php or zipcloak made, which
// the log tells in English with the entry's name as stored (code page
// 932), as the window's details say them.
class ReadBackText {
public:
    // Japanese for such a finding; nullopt for any other text.
    static std::optional<QString> inJapanese(const std::string& description);

private:
    // The finding about one entry: "entry <name><what><path>".
    static std::optional<QString> aboutEntry(const std::string& description);
};
