#pragma once

#include <string>
#include <vector>

// A job's own output lines, in the three parts it writes them: the
// "tmpDirectory: " line, the lines of staging (copies and name rules), the
// poll's line pairs, and what comes after the last pair.
class JobLog {
public:
    JobLog(const std::vector<std::string>& applicationLines, const std::string& archivePath);

    std::string firstLine;
    std::vector<std::string> staging;
    int pollPairs = 0;
    std::vector<std::string> after;
    // Empty when every poll line came in its pair and nothing came between.
    std::string problem;

    // The name rules' lines for items staged under these relative paths
    // (staging folder listing), in no particular order:
    // - an item below a copied folder whose own name needs no fixing was
    //   already copied with its folder: "on fixProhibitedCharacters error:";
    // - an item below a folder whose staged name was removed after fixing
    //   cannot be removed again: "move unnecessary file error".
    static std::vector<std::string> nameRuleLines(const std::vector<std::string>& stagedPaths,
                                                  const std::string& contentFolder);
    // Every relative path below a user's item, the item's own name first.
    static std::vector<std::string> stagedPathsOf(const std::string& item);
    static std::string fixed(const std::string& name);
    static bool hasProhibited(const std::string& name);
};
