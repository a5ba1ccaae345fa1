#pragma once

#include "Cp932Name.h"
#include "StagedContent.h"
#include "WorkFolders.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

// Builds the content folder in one pass: every readable item the user gave
// is linked (or copied) once, under the name it will have in the archive.
// Names get the nine characters Windows refuses replaced by "_"; a name
// that Windows would take for an earlier sibling's gets " (2)", " (3)", ...
// Items that cannot be archived are left out and reported.
class ContentBuilder {
public:
    ContentBuilder(const WorkFolders& folders, std::function<bool()> abandoned);

    // items are absolute paths, in the user's order.
    StagedContent build(const std::vector<std::string>& items);

private:
    struct Item {
        std::string source;   // the user's path
        std::string original; // path below the folder of the dropped item, for the report
        std::string ownName;
        bool isFolder = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
    };
    struct Placed {
        std::string fixedName;   // on disk in the content folder
        std::string shownName;   // as Windows will show it
        int number = 1;          // > 1 when numbered apart from a sibling
    };
    using FolderIds = std::set<std::pair<dev_t, ino_t>>;

    std::optional<Item> examine(const std::string& source, const std::string& original,
                                const std::string& ownName, const FolderIds& ancestors);
    bool isWorkFolder(const struct stat& info) const;
    std::vector<Item> listFolder(const Item& folder, const FolderIds& ancestors);
    std::vector<Placed> placeNames(const std::vector<Item>& siblings) const;
    // relative is the folder's path below the content folder as staged,
    // relativeShown the same as Windows will show it.
    void stageAll(const std::vector<Item>& siblings, const std::string& relative, const std::string& relativeShown,
                  const FolderIds& ancestors);
    void stageOne(const Item& item, const Placed& placed, const std::string& relative,
                  const std::string& relativeShown, const FolderIds& ancestors);
    void noteName(const Item& item, const Placed& placed, const std::string& pathShown);
    void expectEmptyFolderEntry(const std::string& relative);
    void leaveOut(const std::string& path, LeftOutReason reason, const std::string& detail);
    std::string shown(const std::string& name) const;

    WorkFolders m_folders;
    std::function<bool()> m_abandoned;
    Cp932Name m_converter;
    StagedContent m_content;
    // The work folder's identity, taken once per build.
    std::pair<dev_t, ino_t> m_workFolder{};
};
