#pragma once

#include <string>
#include <vector>

// Starts one program as the benchmark's child and measures it: the wall
// time from just before fork to its end (or to a file's arrival), and the
// resources wait4 reports for it and the programs it waited for.
class ProcessTimer {
public:
    struct Command {
        std::vector<std::string> arguments; // program first; found on PATH unless it holds a "/"
        std::string workingFolder;
        // "NAME=value" entries put over the benchmark's own environment.
        std::vector<std::string> environment;
        // Standard output and error of this run go here, never to the table.
        std::string logFile = "/dev/null";
        // Standard input of this run.
        std::string inputFile = "/dev/null";
    };

    struct Result {
        bool ok = false;
        double seconds = 0;
        double userSeconds = 0;
        double systemSeconds = 0;
        // ru_maxrss of wait4: the largest of the process and every child it
        // waited for, in KiB.
        long peakWithChildrenKb = 0;
        // VmHWM of the process itself, read when the awaited file arrived;
        // 0 when the process was run to its end.
        long peakOwnKb = 0;
        std::string failure;
    };

    // Runs the command to its end; ok when it exits with status 0.
    static Result run(const Command& command);

    // Runs the command until a file named fileName is moved or written into
    // folder, which is the end of the measured time; then lets the process
    // end by itself (a minute at most: whatever it does after delivering
    // must not fall on the next run) and otherwise ends it (SIGTERM, SIGKILL
    // after five seconds). ok when the file came.
    static Result runUntilFileArrives(const Command& command, const std::string& folder,
                                      const std::string& fileName, double timeoutSeconds);
};
