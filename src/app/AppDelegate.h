#pragma once

#include <QObject>

#include <string>
#include <vector>

class JobQueue;

// Turns files and folders opened with the application (the desktop entry
// passes them on the command line) into archive jobs with the stored
// options, without going through the window.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(JobQueue& jobs, QObject* parent = nullptr);

    // The open-files handler. Relative paths are taken from the working
    // folder; the archive goes beside the first item.
    void openFiles(const std::vector<std::string>& paths);

private:
    JobQueue& m_jobs;
};
