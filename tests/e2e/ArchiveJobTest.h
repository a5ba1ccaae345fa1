#pragma once

#include "JobRun.h"
#include "TestHome.h"
#include "ZipReader.h"

#include <QObject>

#include <memory>
#include <string>
#include <vector>

// What the end-to-end tests share: a fresh temporary home folder per test
// with the user's files in home/user, and the checks every finished job
// must pass.
class ArchiveJobTest : public QObject {
    Q_OBJECT
protected:
    void makeHome();
    void dropHome();

    std::string user(const std::string& relative = {}) const;
    std::string tmpDirectory() const;
    std::string contentFolder() const;
    JobRun runJob(const std::vector<std::string>& paths, const std::string& destDir, bool isEncrypt = false,
                  const std::string& password = {});

    // Expected staging lines for these items: the name rules' lines of
    // their staged paths plus any extra lines (copy failures).
    std::vector<std::string> expectedStagingLines(const std::vector<std::string>& items,
                                                  const std::vector<std::string>& extra = {}) const;

    std::unique_ptr<TestHome> m_home;
};

// Both sides sorted, for lines whose order follows the file system's.
std::vector<std::string> sorted(std::vector<std::string> lines);
std::string joined(const std::vector<std::string>& lines);
// The lines only one side has, for a failure message.
std::string lineDifferences(const std::vector<std::string>& got, const std::vector<std::string>& expected);
