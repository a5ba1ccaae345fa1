#pragma once

#include <string>

// The shell command that writes the archive: it changes into the job's
// output folder and runs php with a short ZipArchive program. Given to
// "/bin/sh -c".
class WriterCommand {
public:
    static std::string text(const std::string& tmpDirectory, const std::string& archiveName);
};
