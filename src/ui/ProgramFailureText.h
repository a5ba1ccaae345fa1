#pragma once

#include <QString>

#include <optional>
#include <string>

// The failures of the job's programs (php, expect, zipcloak), which the log
// tells in the program's own English, as the window's details say them.
class ProgramFailureText {
public:
    // Japanese for such a failure; nullopt for any other text, which is the
    // system's own answer and is shown as it is.
    static std::optional<QString> inJapanese(const std::string& description);

private:
    // "exited with status 1", "was killed by signal 9", "could not be
    // started (...)" as the end of a Japanese sentence.
    static QString howItEnded(const std::string& exit);
};
