#pragma once

#include "JobOutcome.h"

#include <functional>
#include <string>
#include <vector>

class FolderChooser;

// Runs one real archive job (a new ZipAction) to its end while capturing
// standard output, and keeps what a test looks at afterwards. Assertions
// come after the run: while the capture is on, a failure message would go
// into it instead of the test log.
class JobRun {
public:
    struct Request {
        std::vector<std::string> paths;
        std::string destDir;
        bool isEncrypt = false;
        std::string password;
        bool selectDir = false;
        FolderChooser* chooser = nullptr;
        // Called (on the thread that reports it) as the job enters a phase.
        std::function<void(JobPhase)> onPhase;
        int timeoutMs = 120000;
    };

    explicit JobRun(const Request& request);

    bool finished = false;
    int finishedCount = 0;
    bool deleted = false;
    JobOutcome outcome;
    std::vector<JobPhase> phases;
    // Whether the staging folder was still there when finished() came.
    bool stagingExistedAtFinish = false;
    std::string output;
    std::vector<std::string> lines;

    std::string stagingFolder;
    std::string outputFolder;

    // Output lines written by the application itself: the transcript of
    // child processes run under a pseudo-terminal (expect) ends in "\r".
    std::vector<std::string> applicationLines() const;
    std::string report() const;
};
