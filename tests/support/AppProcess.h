#pragma once

#include <QProcess>

#include <string>
#include <vector>

// The real application, started as the desktop starts it but in a private
// setting: a home, runtime and configuration folder of the test's, stand-in
// programs ahead of the real ones when asked, and a tag in its environment
// that every program it starts inherits (see TaggedProcesses). It is killed
// if it still runs when this goes.
class AppProcess {
public:
    struct Setting {
        std::string home;
        std::string runtimeFolder;
        std::string configFolder;
        // Searched before $PATH; empty for the real programs only.
        std::string standInFolder;
        // Where stand-ins leave their marks ($QUILLMERE_TEST_MARKS).
        std::string marksFolder;
        // "NAME=value", put into the environment as it is.
        std::string tag;
    };

    AppProcess(const std::string& program, const Setting& setting);
    ~AppProcess();
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    // Starts the program in workingFolder with arguments as bytes.
    void start(const std::string& workingFolder, const std::vector<std::string>& arguments);

    bool waitForEnd(int milliseconds);
    bool isRunning() const;
    // Ended by returning from main or calling exit, not by a signal.
    bool endedNormally() const;
    int exitCode() const;
    // What it and its programs wrote so far.
    std::string output();

    void sendSignal(int signalNumber) const;

private:
    QProcess m_process;
    QString m_program;
    std::string m_output;
};
