#pragma once

#include "OptionStore.h"

#include <QFuture>

#include <chrono>

// What a start with a window and a start for one batch job both do.
class AppStart {
public:
    // How long the start waits for the keyring's answer before the password
    // goes to the settings file for this run, and how long the end waits
    // for password writes still running.
    static constexpr std::chrono::milliseconds kKeyringReadLimit{1500};
    static constexpr std::chrono::milliseconds kKeyringWriteLimit{2000};

    // The names the settings, the keyring entry and --version go by; may
    // be called before the application object exists.
    static void nameApplication(const char* version);

    // Before anything else opens a descriptor: standard input, output and
    // error closed by the caller ("2>&-") are opened on /dev/null, so that
    // no descriptor of ours takes their numbers and receives what is
    // written there (standard output for reading only, so that writing
    // the text asked for still fails). A reader of our output that goes
    // away ("| head") makes writes fail instead of ending the process: the
    // job goes on and cleans up after itself. (The programs a job starts
    // get the default back.)
    static void keepStandardStreams();

    // What jobs of an earlier run left behind when they were killed goes,
    // off the main thread.
    static QFuture<void> removeLeftovers();

    // Whether the settings file can be read and asks for encryption: only
    // then does a job that its command line leaves to the stored options
    // use the stored password.
    static bool storedOptionsEncrypt();
};
