#pragma once

#include <iconv.h>

#include <optional>
#include <string>

// Converts names exactly as the archive writer does: from the decomposed
// UTF-8 of file names ("UTF-8-MAC") to code page 932 with transliteration,
// through the same iconv converter module. Also reads code page 932 back
// as UTF-8, to show the user the name Windows will show. One instance per
// thread.
class Cp932Name {
public:
    Cp932Name();
    ~Cp932Name();
    Cp932Name(const Cp932Name&) = delete;
    Cp932Name& operator=(const Cp932Name&) = delete;

    // False when the converter module cannot be found.
    bool isAvailable() const;

    // The code page 932 bytes of name; nullopt when the converter refuses
    // it (a name cut in the middle of a character).
    std::optional<std::string> fromFileName(const std::string& name) const;
    // The UTF-8 text of code page 932 bytes.
    std::string toUtf8(const std::string& cp932) const;
    // A file name as text: name itself when it is UTF-8, or UTF-8 but for
    // stray bytes. One that is no UTF-8 at all but reads whole as code page
    // 932, and looks Japanese that way, most often came from Windows so, out
    // of an archive unpacked with its names as they were: Windows reads it
    // as that text again, and it comes back as UTF-8, which may be longer
    // than a name can be (a kana takes three bytes there, two in code page
    // 932). So does one that reads whole as EUC-JP, as names from older
    // Linux and Unix systems are, and reads so as kana or as characters no
    // half-width katakana of code page 932 make. Any other comes back as it
    // is.
    std::string readable(const std::string& name) const;

private:
    // Opened at the first name that may be EUC-JP: most jobs have none.
    iconv_t eucJpToUtf8() const;

    iconv_t m_toCp932;
    iconv_t m_toUtf8;
    mutable std::optional<iconv_t> m_eucJpToUtf8;
};
