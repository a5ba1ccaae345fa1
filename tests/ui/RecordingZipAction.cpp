#include "RecordingZipAction.h"

std::function<ZipAction*()> RecordingZipAction::factory(Made& made)
{
    return [&made] {
        auto* job = new RecordingZipAction;
        made.emplace_back(job);
        return job;
    };
}

void RecordingZipAction::createZip(const Paths& paths, const std::string& destDir, bool isEncrypt,
                                   const std::string& password)
{
    m_calls.push_back({false, paths, destDir, isEncrypt, password});
}

void RecordingZipAction::selectDirAndCreateZip(const Paths& paths, const std::string& destDir, bool isEncrypt,
                                               const std::string& password)
{
    m_calls.push_back({true, paths, destDir, isEncrypt, password});
}

void RecordingZipAction::enterPhase(JobPhase phase)
{
    emit phaseChanged(phase);
}

void RecordingZipAction::finishWith(const JobOutcome& outcome)
{
    emit finished(outcome);
    deleteLater();
}
