#include "JobQueue.h"

#include "FileManager.h"
#include "Log.h"
#include "LogPrefix.h"
#include "ReportLines.h"
#include "PathText.h"
#include "PasswordRule.h"
#include "ZipAction.h"

JobQueue::JobFactory JobQueue::archiveJobs(ChooseFolder chooseFolder)
{
    return [chooseFolder] { return new ZipAction(chooseFolder); };
}

JobQueue::JobQueue(JobFactory factory, QObject* parent)
    : QObject(parent)
    , m_factory(std::move(factory))
{
}

void JobQueue::enqueue(const Paths& paths, const std::string& destDir, const SettingStatus& options)
{
    if (paths.empty())
        return;
    if (std::optional<JobOutcome> refused = refusal(options)) {
        refused->firstItem = PathText::lastComponent(paths.front());
        Log::line(ReportLines::refused(*refused));
        emit jobFinished(*refused);
        return;
    }
    m_waiting.push_back({paths, destDir, options});
    if (m_running)
        emit changed();
    else
        startNext();
}

std::optional<JobOutcome> JobQueue::refusal(const SettingStatus& options)
{
    if (options.encryptUnknown)
        return JobOutcome::failed(JobPhase::Encrypting,
                                  "the stored options cannot be read and whether to encrypt has not been chosen since",
                                  FailureCause::OptionsUnreadable);
    const PasswordRule::Problem problem =
        options.isEncrypt ? PasswordRule::check(options.password) : PasswordRule::Problem::None;
    if (problem != PasswordRule::Problem::None)
        return JobOutcome::failed(JobPhase::Encrypting, PasswordRule::describe(problem), FailureCause::PasswordRefused);
    return std::nullopt;
}

void JobQueue::startNext()
{
    if (m_running || m_waiting.empty())
        return;
    const Request request = m_waiting.front();
    m_waiting.pop_front();
    m_runningName = PathText::lastComponent(request.paths.front());
    m_running = m_factory();
    // The queue owns the running job: when the application quits, the job
    // and the programs it started go with the queue.
    if (!m_running->parent())
        m_running->setParent(this);
    connect(m_running, &ZipAction::phaseChanged, this, &JobQueue::phaseChanged);
    connect(m_running, &ZipAction::progressChanged, this, &JobQueue::progressChanged);
    connect(m_running, &ZipAction::finished, this, &JobQueue::onJobFinished);
    emit changed();
    m_running->setNameAfterItems(request.options.nameAfterItems);
    if (request.options.isSelectDir)
        m_running->selectDirAndCreateZip(request.paths, request.destDir, request.options.isEncrypt,
                                         request.options.password);
    else
        m_running->createZip(request.paths, request.destDir, request.options.isEncrypt, request.options.password);
}

void JobQueue::onJobFinished(const JobOutcome& ended)
{
    disconnect(m_running, nullptr, this, nullptr);
    m_running = nullptr;
    JobOutcome outcome = ended;
    outcome.firstItem = m_runningName;
    emit jobFinished(outcome);
    emit changed();
    startNext();
}

std::vector<std::string> JobQueue::waitingNames() const
{
    std::vector<std::string> names;
    for (const Request& request : m_waiting)
        names.push_back(PathText::lastComponent(request.paths.front()));
    return names;
}

std::vector<JobQueue::Paths> JobQueue::waitingItems() const
{
    std::vector<Paths> items;
    for (const Request& request : m_waiting)
        items.push_back(request.paths);
    return items;
}

void JobQueue::cancelRunning()
{
    if (m_running)
        m_running->stop();
}

void JobQueue::endAll()
{
    // The waiting first: a stopped job starts the next.
    for (const Request& request : m_waiting)
        Log::line(LogPrefix::kNotStarted + request.paths.front());
    m_waiting.clear();
    cancelRunning();
    emit changed();
}

void JobQueue::removeWaiting(int index)
{
    if (index < 0 || index >= waitingCount())
        return;
    m_waiting.erase(m_waiting.begin() + index);
    emit changed();
}
