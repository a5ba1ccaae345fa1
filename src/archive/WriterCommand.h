#pragma once

#include <string>

class WorkFolders;

// The writer: a shell command that changes into the job's output folder and
// starts php, and the short ZipArchive program that php then reads from its
// standard input. php starts up (a few tens of milliseconds) before it reads
// a line of it, so the command can start while the content is still being
// staged, and the program follow once it is staged and the archive's name
// is known.
class WriterCommand {
public:
    // Given to "/bin/sh -c".
    static std::string text(const WorkFolders& folders);
    // What php reads: the program, which packs the content folder into
    // archiveName in the output folder.
    static std::string program(const std::string& archiveName);
};
