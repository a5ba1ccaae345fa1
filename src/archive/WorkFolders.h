#pragma once

#include <string>

// The fixed folders of every job below the work root (home + "/.quillmere"):
// the staging folder, the output folder inside it and the content folder
// "archive" inside that.
class WorkFolders {
public:
    static constexpr const char* STAGING_DIR_NAME = "34a928f190f714d60756129ad55f14f51de0867b22344d7bf3d6f77805b31225";
    static constexpr const char* OUTPUT_DIR_NAME = "17A83E501F804A8551D27619DA0CF23C04474FC6946073962B915FFE86421A56";

    static std::string tmpDirectory(const std::string& homeDirectory) { return homeDirectory + "/.quillmere"; }
    static std::string stagingFolder(const std::string& tmpDirectory)
    {
        return tmpDirectory + "/" + STAGING_DIR_NAME;
    }
    static std::string outputFolder(const std::string& tmpDirectory, const std::string& outputDirName)
    {
        return stagingFolder(tmpDirectory) + "/" + outputDirName;
    }
    static std::string archivePath(const std::string& tmpDirectory, const std::string& outputDirName,
                                   const std::string& archiveName)
    {
        return outputFolder(tmpDirectory, outputDirName) + "/" + archiveName;
    }
};
