#pragma once

#include <string>

// The expect script that encrypts the finished archive with zipcloak,
// answering its two password prompts, and then moves it with mv to
// target in the destination folder. Given to "/usr/bin/expect -c".
class EncryptScript {
public:
    // Exit statuses of the script besides 0 (encrypted and moved).
    static constexpr int kZipcloakFailed = 1;
    static constexpr int kMoveFailed = 2;
    // The script itself stopped: a program it spawns could not be started.
    static constexpr int kScriptFailed = 3;

    // The script reads the password from this variable of its environment
    // and takes it out before it starts anything: an argument list can be
    // read by every user of the machine, an environment only by its owner.
    // The variable holds the password's bytes as hexadecimal digits
    // (hexOf), so that no locale changes them on their way to zipcloak. Its
    // name is not the one a batch job takes the password from, which the
    // application removes from its own environment at once.
    static constexpr const char* kPasswordVariable = "QUILLMERE_ZIPCLOAK_PASSWORD_HEX";
    // How the script starts mv; expect repeats it as the line that begins
    // mv's part, once zipcloak has ended well.
    static constexpr const char* kMoveCommand = "spawn -ignore HUP mv -n ";

    static std::string text(const std::string& archivePath, const std::string& target);
    // The value of kPasswordVariable for password's bytes.
    static std::string hexOf(const std::string& password);
};
