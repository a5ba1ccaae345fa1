#pragma once

#include "SettingStatus.h"

#include <QObject>

#include <functional>
#include <string>
#include <vector>

class JobQueue;

// Turns files and folders opened with the application (the desktop entry
// passes them on the command line) into archive jobs, without going
// through the window's drop.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    // storedOptions gives the options at each request (main gives those
    // the window shows); by default the settings file's.
    using StoredOptions = std::function<SettingStatus()>;
    explicit AppDelegate(JobQueue& jobs, StoredOptions storedOptions = {}, QObject* parent = nullptr);

    // The open-files handler, for absolute paths: the archive goes beside
    // the first item.
    void openFiles(const std::vector<std::string>& paths);

    // The files and folders named on the command line, made absolute from
    // the working folder (a running instance that takes them over has a
    // working folder of its own), without "." and ".." parts: "." is the
    // working folder under its own name; a "file:" address stands for its
    // local path. Empty arguments, which would stand for the working folder,
    // are left out.
    static std::vector<std::string> absolutePaths(const std::vector<std::string>& arguments);

private:
    JobQueue& m_jobs;
    StoredOptions m_storedOptions;
};
