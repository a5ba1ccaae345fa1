#pragma once

#include <string>

// The expect script that encrypts the finished archive with zipcloak,
// answering its two password prompts, and then moves it into the
// destination folder. Given to "/usr/bin/expect -c".
class EncryptScript {
public:
    // Exit statuses of the script besides 0 (encrypted and delivered).
    static constexpr int kZipcloakFailed = 1;
    static constexpr int kMoveFailed = 2;

    static std::string text(const std::string& destDir, const std::string& password,
                            const std::string& tmpDirectory, const std::string& archiveName,
                            const std::string& outputDirName);
};
