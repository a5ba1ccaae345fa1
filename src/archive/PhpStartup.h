#pragma once

#include "ShortProgram.h"

#include <optional>
#include <string>
#include <vector>

// php loads every extension its system configuration folder names before it
// runs a line: twenty on Debian (opcache, ffi, phar, ...) and whatever else
// the machine has added since, a debugger perhaps. The writer uses two of
// them, zip and iconv. Pointed at a folder of its own that names only those,
// php is ready a quarter sooner (13 of 53 ms, measured on Debian 12), and
// no extension added to the system can slow the writer down or write into
// its output.
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

    // folder: where the configuration and the check's result are kept; an
    // empty or relative one, or one whose name is not text, is never used.
    explicit PhpStartup(std::string folder);
    // In the user's cache folder ($XDG_CACHE_HOME, else ~/.cache): none
    // where there is no home folder to hold it.
    static PhpStartup ofCurrentUser();

    // "PHP_INI_SCAN_DIR=<folder>" when the php found now on the PATH was
    // checked and starts cleanly with the folder; nothing otherwise.
    std::optional<std::string> environmentEntry() const;
    // Checks the php found now, unless it was checked before: takes as long
    // as php needs to start, so never on the window's thread. True when the
    // folder is then to be used. A check that got no answer (php killed,
    // or silent for seconds) leaves no verdict: the next job asks again.
    bool checkIfNew() const;
    // A writer that failed with the folder may have failed for it (another
    // php behind the same command, say): the verdict goes, and the next
    // jobs start php as configured until it is checked again.
    void forgetVerdict() const;

    const std::string& folder() const { return m_folder; }

    // What php -r program answers, started with environment ("NAME=value"
    // texts in place of this process's own): true when php ends by itself
    // with status 0 within seconds (having said nothing, where silently is
    // set), false when it ends by itself otherwise; nothing when it cannot
    // start, is killed or has not ended within seconds.
    static std::optional<bool> answer(const char* program, const std::vector<std::string>& environment,
                                      bool silently);
    // The status php -r program ends with by itself within seconds;
    // nothing when it cannot start, is killed or has not ended by then.
    static std::optional<int> status(const char* program, const std::vector<std::string>& environment = {});

private:
    // The php the shell would start, as its real path, size and time; empty
    // when there is none.
    static std::string identityOfPhp();
    static std::optional<ShortProgram::Ended> run(const char* program, const std::vector<std::string>& environment);
    std::optional<bool> recordedVerdict(const std::string& identity) const;
    std::optional<bool> startsCleanly() const;
    bool isUsable() const;
    void removeUnfinished() const;
    bool writeFile(const std::string& name, const std::string& text) const;

    std::string m_folder;
};
