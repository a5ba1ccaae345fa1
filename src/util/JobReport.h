#pragma once

#include <ctime>
#include <string>
#include <vector>

// An item whose name in the archive differs from its own name.
struct RenamedItem {
    // A given item's whole path (a given folder's content: its path below the
    // folder the given folder is in), as on disk.
    std::string original;
    std::string inArchive; // its entry's path ("archive/..."), as UTF-8 text
    bool replacedCharacters = false; // characters Windows refuses became "_"
    bool transliterated = false;     // characters outside code page 932 became look-alikes or "_"
    bool numbered = false;           // " (2)", " (3)", ... keeps it apart from a sibling
    bool substituted = false;        // characters outside code page 932 got their usual stand-in
    bool madeCreatable = false;      // a device name, or trailing dots or blanks, got "_"
    bool readAsJapanese = false;     // bytes that are no UTF-8, read as Windows' Japanese (code page 932)
    bool shortened = false;          // grown past 255 bytes by the above, its stem was cut
    bool keptFromExclusion = false;  // ".DS_Store" in a name of the user's own became "_DS_Store"
};

enum class LeftOutReason {
    Missing,     // the item is gone
    Unreadable,  // no permission to read the file or folder
    DanglingLink,
    LinkLoop,
    SpecialFile, // a device, socket or pipe: nothing to archive
    CopyFailed,  // could not be staged (for example no space in the work folder)
    ExcludedName, // its path holds ".DS_Store", which the archive leaves out
    SameItem,     // given twice: it is in the archive once
    LinkToFolder, // a link to a folder inside a given folder: the archive holds no links
    SystemItem,   // below /proc, /sys or /dev: the running system, not the user's files
    PathTooLong,  // its path in the archive is longer than the writer can open
    NameTooLong,  // its name, made fit for Windows and cut, is still longer than a name can be
    WorkFolder,   // in this program's own work folders
    PartFile,     // the hidden archive a job of this program delivers (or a killed one left)
    EmptyFolderTakenForPattern, // an empty folder that "[...]" in its path makes the writer take for a full one
};

// An item the user gave, or one inside a given folder, that is not in the
// archive.
struct LeftOutItem {
    std::string path; // the user's path, as on disk
    LeftOutReason reason = LeftOutReason::Unreadable;
    std::string detail; // the system's description
};

enum class WindowsWarning {
    ControlCharacter,
    PathTooLong, // reaches 260 characters below a typical extraction folder
    DateOutOfRange, // its time is outside the years a ZIP header holds
};

// An entry that Windows may not extract as the item was: a name kept as it
// is that Windows may refuse, or a time the archive could not keep.
struct WarnedItem {
    std::string inArchive; // its entry's path ("archive/..."), as UTF-8 text
    WindowsWarning warning = WindowsWarning::ControlCharacter;
    int length = 0; // inArchive in UTF-16 characters
    std::time_t modified = 0; // DateOutOfRange: the item's own time
};

// What a job put into the archive, and what it changed or left out.
struct JobReport {
    int fileCount = 0;
    int folderCount = 0;
    std::vector<RenamedItem> renamed;
    std::vector<LeftOutItem> leftOut;
    std::vector<WarnedItem> warnings;
};
