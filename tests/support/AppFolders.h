#pragma once

#include "AppProcess.h"

#include <QTemporaryDir>

#include <string>

// Folders for running the real application without touching the user's own,
// all below one temporary folder: a home folder whose path is at least 120 bytes long
// and holds blanks and quotes (the single-instance socket used to live below
// it and could not be reached from such a path), a runtime folder with mode
// 0700 as the session makes it, a configuration folder, a folder for the
// user's items and one for the marks of stand-in programs.
class AppFolders {
public:
    AppFolders();

    std::string home() const { return m_home; }
    std::string runtime() const { return base("run"); }
    std::string config() const { return base("config"); }
    std::string items() const { return base("items"); }
    std::string marks() const { return base("marks"); }
    // The application's work folder below the home folder.
    std::string workFolder() const { return m_home + "/.quillmere"; }

    // True while an instance listens in the runtime folder.
    bool channelIsOpen() const;

    // The setting for AppProcess, tagged with a text no other test uses.
    AppProcess::Setting setting(const std::string& standInFolder = {}) const;

    // An item in the items folder; returns its path.
    std::string writeItem(const std::string& name, const std::string& content) const;
    // Stores the options the application reads for files opened with it.
    void storeOptions(bool isEncrypt, const std::string& password) const;

private:
    std::string base(const std::string& name) const;

    QTemporaryDir m_base;
    std::string m_home;
};
