#pragma once

#include <QProcessEnvironment>

#include <optional>
#include <string>

// php loads every extension its system configuration folder names before it
// runs a line: twenty on Debian (opcache, ffi, phar, ...) and whatever else
// the machine has added since, a debugger perhaps. The writer uses two of
// them, zip and iconv. Pointed at a folder of its own that names only those,
// php is ready about a third sooner, and no extension added to the system
// can slow the writer down or write into its output.
//
// That folder is used only once php has been seen to start with it cleanly
// (both extensions loaded, not a word written); the check is made again for
// any other php found on the PATH (another version, an update). Until then,
// and wherever the check failed, php starts with the system's configuration,
// as it always did. The archive comes out byte for byte the same.
class PhpStartup {
public:
    static constexpr const char* kVariable = "PHP_INI_SCAN_DIR";
    static constexpr const char* kSettingsName = "quillmere.ini";
    static constexpr const char* kCheckName = "checked";

    // folder: where the configuration and the check's result are kept.
    explicit PhpStartup(std::string folder);
    // In the user's cache folder.
    static PhpStartup ofCurrentUser();

    // "PHP_INI_SCAN_DIR=<folder>" when the php found now on the PATH was
    // checked and starts cleanly with the folder; nothing otherwise.
    std::optional<std::string> environmentEntry() const;
    // Checks the php found now, unless it was checked before: takes as long
    // as php needs to start, so never on the window's thread. True when the
    // folder is then to be used.
    bool checkIfNew() const;

    const std::string& folder() const { return m_folder; }

    // Runs php -r program; true when php ended by itself with status 0
    // within seconds, and had nothing to say where silently is set.
    static bool runs(const char* program, const QProcessEnvironment& environment, bool silently);

private:
    // The php the shell would start, as its real path, size and time; empty
    // when there is none.
    static std::string identityOfPhp();
    std::optional<bool> recordedVerdict(const std::string& identity) const;
    bool startsCleanly() const;
    bool writeFile(const std::string& name, const std::string& text) const;

    std::string m_folder;
};
