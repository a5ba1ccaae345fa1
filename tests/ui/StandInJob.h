#pragma once

#include "JobQueue.h"
#include "JobStatusView.h"
#include "ViewController.h"
#include "ZipAction.h"

#include <QMimeData>
#include <QTest>
#include <QUrl>

#include <string>
#include <tuple>
#include <vector>

// A job that does nothing by itself: it records how it was started, the
// test tells it its phases and its progress, and ends it with finished().
struct StandInJob : ZipAction {
    using Call = std::tuple<Paths, std::string, SettingStatus>;
    std::vector<Call> calls;
    void createZip(const Paths& p, const std::string& to, bool e, const std::string& pw) override
    {
        calls.push_back({p, to, {e, pw, false}});
    }
    void selectDirAndCreateZip(const Paths& p, const std::string& to, bool e, const std::string& pw) override
    {
        calls.push_back({p, to, {e, pw, true}});
    }
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

// The window over a queue of stand-in jobs, whose quit question answers
// with quit and counts how often it was asked, whose update check notes
// whether a job was running when it was asked, and whose notifications are
// kept.
struct StandInWindow {
    int asked = 0;
    bool quit = false;
    std::vector<bool> busyAtUpdateCheck;
    std::vector<Notification> notified;
    std::vector<StandInJob*> made;
    JobQueue jobs{[this] { return made.emplace_back(new StandInJob); }};
    ViewController view{jobs, services()};
    JobStatusView& status = *view.jobStatusView;

    ViewServices services()
    {
        ViewServices services;
        services.confirmQuit = [this](QWidget*) { ++asked; return quit; };
        services.checkForUpdate = [this] { busyAtUpdateCheck.push_back(jobs.isBusy()); };
        services.notify = [this](const Notification& notification) { notified.push_back(notification); };
        return services;
    }

    // Starts a job for /data/item whose archive goes into destination.
    StandInJob& start(const std::string& item = "資料", const std::string& destination = "/data")
    {
        jobs.enqueue({"/data/" + item}, destination, SettingStatus());
        return running();
    }
    StandInJob& running() { return *made.back(); }
    // False when the window, shown, never appeared.
    bool shown()
    {
        view.show();
        return QTest::qWaitForWindowExposed(&view);
    }
    // False when the window, shown and given the focus, never had it.
    bool active()
    {
        if (!shown())
            return false;
        view.activateWindow();
        return QTest::qWaitForWindowActive(&view);
    }
    // The file dropped on the window, as a file manager drops it.
    void drop(const QString& path)
    {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        view.onDrop(&data);
    }
};
