#pragma once

#include "Cp932Name.h"
#include "OpenFolder.h"
#include "StagedContent.h"
#include "WorkFolders.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

// Stages items into the content folder under the names they will have in
// the archive, one folder's worth at a time. Each folder it makes is handed
// on as a FolderTask, so that several stagers can fill the tree side by
// side; each keeps its own account of what it staged.
class FolderStager {
public:
    using FolderIds = std::set<std::pair<dev_t, ino_t>>;
    // A folder made in the content folder whose content is still to come.
    // It holds paths, not open folders, so that waiting tasks hold no
    // descriptors.
    struct FolderTask {
        std::string source;   // the user's folder
        std::string original; // its path below the folder of the dropped item
        std::string target;   // the folder made for it in the content folder
        std::string relative; // target below the content folder
        std::string relativeShown; // the same as Windows will show it
        FolderIds inside;     // the folders above it, itself included
        mode_t mode = 0;      // the user's folder's, for its entry if it gets one
        std::time_t modified = 0;
    };
    using Schedule = std::function<void(FolderTask)>;
    // Given the errno and the line that tells of it, which is the caller's
    // to write.
    using WorkFolderFailed = std::function<void(int error, const std::string& line)>;

    // abandoned says when to stop; workFolderFailed is called when the
    // content folder itself fails, which ends the building for every stager.
    // anchorCount numbers the anchors of all stagers of one content folder.
    FolderStager(const WorkFolders& folders, FolderIds workFolders, std::function<bool()> abandoned,
                 Schedule schedule, WorkFolderFailed workFolderFailed, std::atomic<unsigned>& anchorCount);

    // The folder beside the content folder that holds the anchors: links to
    // the user's folders whose files are staged as symbolic links. A link
    // to a file goes through its folder's anchor: "../../.links/7/name" is
    // shorter than a whole path, and a file system stores a short link in
    // its inode, where a long one takes a block of its own.
    static constexpr const char* kAnchorFolder = ".links";

    // The items the user gave (absolute paths, in the user's order) go
    // into content, the open content folder.
    void stageGiven(const std::vector<std::string>& items, const OpenFolder& content);
    // The content of a folder made before.
    void stageContent(const FolderTask& task);

    // What it staged, taken: the stager holds nothing afterwards.
    StagedContent takeContent() { return std::move(m_content); }
    // Settles the folder entries that waited for the whole tree to be
    // staged: each is expected where glob() finds no visible name.
    static void settlePendingFolderEntries(StagedContent& content);

private:
    struct Item {
        std::shared_ptr<const OpenFolder> parent; // the folder it is in
        std::string at;       // its name in parent (a whole path for a given item)
        std::string source;   // the user's path
        std::string original; // path below the folder of the dropped item, for the report
        std::string ownName;
        bool given = false;   // the user named it
        bool isFolder = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        mode_t mode = 0;
        struct timespec modified {}; // its seconds are the time the archive gives it
    };
    struct Placed {
        std::string fixedName;   // on disk in the content folder
        std::string shownName;   // as Windows will show it
        int number = 1;          // > 1 when numbered apart from a sibling
        bool changed = false;    // shownName is not the item's own name
        bool replacedCharacters = false;
        bool substituted = false;
        bool madeCreatable = false;
        bool transliterated = false;
        bool readAsJapanese = false;
        bool shortened = false;
        bool keptFromExclusion = false;
    };

    // given: the user named the item itself, so a link there is followed;
    // inside a folder, a link to a folder is not.
    std::optional<Item> examine(Item item, const FolderIds& ancestors, bool given);
    // True for an item the user gave from /proc, /sys or /dev.
    static bool isSystemItem(const std::string& path);
    // True when path, below the content folder, is too long for the writer
    // to open once it is joined to the folder the writer works in.
    bool isTooLongForWriter(const std::string& path) const;
    // True when info's mode alone shows that this process may use the item
    // in folder as access (R_OK, X_OK) asks; false when the kernel must say.
    bool ownerMayRead(const OpenFolder& folder, const struct stat& info, int access) const;
    std::vector<Item> listFolder(const FolderTask& task);
    // Sorts a folder's items into the order in which they claim names.
    static void inPlacingOrder(std::vector<Item>& siblings);
    // The name the staging rules give givenName, before any number.
    Placed nameFor(const std::string& givenName) const;
    // The rules for a name read as ownName, whatever its length.
    Placed ruledName(const std::string& ownName) const;
    // ownName's stem cut short enough for its ruled name to fit NAME_MAX.
    Placed shortenedName(const std::string& ownName) const;
    // Names that need no change keep them; a changed name is numbered
    // only when it meets one already placed.
    std::vector<Placed> placeNames(const std::vector<Item>& siblings) const;
    // target is the folder in the content folder they go to. True when one
    // of them was placed under a name that does not begin with ".".
    bool stageAll(const std::vector<Item>& siblings, const OpenFolder& target, const std::string& relative,
                  const std::string& relativeShown, const FolderIds& ancestors);
    // Each true when the item was placed.
    bool stageFolder(const Item& item, const Placed& placed, const OpenFolder& target, const std::string& path,
                     const std::string& pathShown, const FolderIds& ancestors);
    bool stageFile(const Item& item, const Placed& placed, const OpenFolder& target, const std::string& path,
                   const std::string& pathShown);
    // An empty file for one the writer leaves out, so that its folder is no
    // emptier than the user's; true when it was made.
    bool placeExcluded(const OpenFolder& target, const std::string& fixedName);
    void noteName(const Item& item, const Placed& placed, const std::string& pathShown);
    // The folder gets an entry of its own when the writer will find no
    // visible name in it; hasVisible says a visible name was placed there.
    // The entry is to carry the folder's time and mode.
    void expectEmptyFolderEntry(const FolderTask& folder, bool hasVisible);
    // Expects the entry where glob() finds no visible name in its folder.
    static void settle(StagedContent& content, StagedContent::PendingFolderEntry pending);
    // A time the entry's headers cannot hold is clamped, and warned.
    void stampEntry(const std::string& entry, const std::string& pathShown, std::time_t modified,
                    std::optional<uint32_t> attributes);
    StagedContent::PendingFolderEntry stamped(const std::string& entry, const std::string& pathShown,
                                              std::time_t modified, std::optional<uint32_t> attributes) const;
    void leaveOut(const std::string& path, LeftOutReason reason, const std::string& detail);
    // An item that cannot be read for the system's own limits (too many
    // open files, no memory) fails the job: nothing is wrong with the item,
    // and trying again with fewer programs open will do. True then.
    bool failsAtSystemLimit(int error, const std::string& source);
    // An item found a moment before and gone now (error ENOENT or ENOTDIR)
    // was removed or renamed while the job ran: the job fails, rather than
    // leave a gap in the archive. False for any other error.
    bool tellIfGone(const std::string& source, int error);
    // The content folder refused something: the job cannot go on.
    void failWorkFolder(int error, const std::string& description, const std::string& line);
    std::string shown(const std::string& name) const;
    // What a symbolic link to item, staged as entry, is to hold: the way
    // through the anchor of item's folder (made the first time it is
    // needed); empty where the absolute path is as short, or for an item
    // given by its whole path.
    std::string linkTextFor(const Item& item, const std::string& entry);

    WorkFolders m_folders;
    // Asked of every file: the output folder's path does not change.
    size_t m_outputFolderSize;
    FolderIds m_workFolders; // the work root and the memory root
    std::function<bool()> m_abandoned;
    Schedule m_schedule;
    WorkFolderFailed m_workFolderFailed;
    Cp932Name m_converter;
    uid_t m_user = ::geteuid();
    StagedContent m_content;
    std::atomic<unsigned>& m_anchorCount;
    std::shared_ptr<const OpenFolder> m_anchored; // the user's folder m_anchor leads to
    std::string m_anchor; // below the output folder; empty when it could not be made
};
