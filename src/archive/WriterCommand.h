#pragma once

#include <string>

class WorkFolders;

// The shell command that writes the archive: it changes into the job's
// output folder and runs php with a short ZipArchive program. Given to
// "/bin/sh -c".
class WriterCommand {
public:
    static std::string text(const WorkFolders& folders, const std::string& archiveName);
};
