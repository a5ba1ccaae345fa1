#pragma once

#include "ZipAction.h"

#include <QPointer>

#include <memory>
#include <vector>

// A job that only records how it was started; the test drives its phases and
// its end. The factory keeps every job it made in a shared list.
class RecordingZipAction : public ZipAction {
    Q_OBJECT
public:
    struct Call {
        bool selectDir = false;
        Paths paths;
        std::string destDir;
        bool isEncrypt = false;
        std::string password;
    };
    using Made = std::vector<QPointer<RecordingZipAction>>;

    // A factory for JobQueue that adds each new job to made.
    static std::function<ZipAction*()> factory(Made& made);

    void createZip(const Paths& paths, const std::string& destDir, bool isEncrypt,
                   const std::string& password) override;
    void selectDirAndCreateZip(const Paths& paths, const std::string& destDir, bool isEncrypt,
                               const std::string& password) override;

    const std::vector<Call>& calls() const { return m_calls; }
    void enterPhase(JobPhase phase);
    // Ends the job the way a real one does: reports, then goes away.
    void finishWith(const JobOutcome& outcome);

private:
    std::vector<Call> m_calls;
};
