#pragma once

#include "JobQueue.h"
#include "JobStatusView.h"
#include "ViewController.h"
#include "ZipAction.h"

#include <string>
#include <vector>

// A job that does nothing by itself: the test tells it its phases and its
// progress, and ends it with finished().
struct StandInJob : ZipAction {
    void createZip(const Paths&, const std::string&, bool, const std::string&) override {}
    void selectDirAndCreateZip(const Paths&, const std::string&, bool, const std::string&) override {}
    void tell(JobPhase phase, double fraction, bool encrypted, const std::string& item = {})
    {
        emit progressChanged({phase, fraction, item, encrypted});
    }
    void enter(JobPhase phase, bool encrypted)
    {
        emit phaseChanged(phase);
        tell(phase, 0, encrypted);
    }
};

// The window over a queue of stand-in jobs.
struct StandInWindow {
    std::vector<StandInJob*> made;
    JobQueue jobs{[this] { return made.emplace_back(new StandInJob); }};
    ViewController view{jobs};
    JobStatusView& status = *view.jobStatusView;

    // Starts a job for /data/資料 whose archive goes into destination.
    StandInJob& start(const std::string& destination = "/data")
    {
        jobs.enqueue({"/data/資料"}, destination, SettingStatus());
        return *made.back();
    }
};
