#pragma once

#include <QString>

#include <string>

// The system's descriptions as the user can follow them: a path into the
// work folder ~/.quillmere (a job's staging, output and content folders)
// means nothing to the user and is cut down to what the user knows.
class WorkPathText {
public:
    // Each such path becomes the item's path inside the archive
    // ("アーカイブ内の 資料/見積書.txt"), or the work folder itself.
    static QString withoutWorkPaths(const std::string& description);
};
