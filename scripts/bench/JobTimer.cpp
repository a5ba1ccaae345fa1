#include "JobTimer.h"

#include "FileManager.h"
#include "PathText.h"
#include "ZipAction.h"

#include <QEventLoop>
#include <QProcess>

#include <chrono>
#include <fcntl.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The job's log lines and its children's messages would drown the figures:
// they go to /dev/null.
class QuietOutput {
public:
    QuietOutput() : m_savedOut(::dup(STDOUT_FILENO)), m_savedErr(::dup(STDERR_FILENO))
    {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::close(null);
    }
    ~QuietOutput()
    {
        ::dup2(m_savedOut, STDOUT_FILENO);
        ::dup2(m_savedErr, STDERR_FILENO);
        ::close(m_savedOut);
        ::close(m_savedErr);
    }

private:
    int m_savedOut;
    int m_savedErr;
};

} // namespace

double JobTimer::runJob(const std::string& item, bool encrypt)
{
    const std::string destDir = PathText::parentFolder(item);
    QuietOutput quiet;
    QEventLoop loop;
    JobOutcome result;
    const auto start = Clock::now();
    auto* job = new ZipAction();
    QObject::connect(job, &ZipAction::finished, &loop, [&](const JobOutcome& outcome) {
        result = outcome;
        loop.quit();
    });
    job->createZip({item}, destDir, encrypt, "benchpassword1");
    loop.exec();
    const double seconds = secondsSince(start);
    if (result.kind != JobOutcome::Kind::Delivered)
        return -1;
    FileManager::removeItem(result.archivePath);
    return seconds;
}

double JobTimer::runZip(const std::string& item, bool encrypt)
{
    const std::string folder = PathText::parentFolder(item);
    const std::string archive = folder + "/reference.zip";
    QStringList arguments{"-qr"};
    if (encrypt)
        arguments << "-P" << "benchpassword1";
    arguments << QString::fromStdString(archive) << QString::fromStdString(PathText::lastComponent(item));
    QProcess zip;
    zip.setWorkingDirectory(QString::fromStdString(folder));
    const auto start = Clock::now();
    zip.start("zip", arguments);
    zip.waitForFinished(-1);
    const double seconds = secondsSince(start);
    FileManager::removeItem(archive);
    return zip.exitCode() == 0 ? seconds : -1;
}
