#pragma once

#include <optional>
#include <string>
#include <vector>

// Checks on delivered archives with programs and knowledge of their own:
// unzip's test, the converter module's presence, code page 932 names.
class ArchiveTools {
public:
    struct Result {
        int status = -1;
        std::string output;
    };

    // unzip -t, with -P password when one is given.
    static Result unzipTest(const std::string& archive, const std::optional<std::string>& password = {});

    // The module that teaches php's iconv "UTF-8-MAC" is built into
    // <build>/gconv; until it is, entry names cannot be converted.
    static bool converterModuleBuilt();
    static std::string converterModuleMissingReason();

    // name (UTF-8, composed or not) as code page 932 bytes, the way the
    // writer's conversion gives it for characters the code page has.
    static std::string cp932(const std::string& utf8);

    // The entry names the writer's program gives for contentFolder
    // ("archive/..."), in the order its directory walk finds them: each
    // folder's entries as the file system lists them, "." and ".."
    // included, a folder entry where ".." of a folder without visible
    // names comes, files (or links to files) unless ".DS_Store" is in the
    // path, nothing for links to folders, dangling links or other files.
    static std::vector<std::string> writerEntryOrder(const std::string& contentFolder);

    static std::string readFile(const std::string& path);
    static void writeFile(const std::string& path, const std::string& content);
};
