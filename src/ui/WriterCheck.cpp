#include "WriterCheck.h"

#include "BackgroundTask.h"
#include "Log.h"
#include "LogPrefix.h"
#include "PhpStartup.h"
#include "WriterStep.h"

#include <QFutureWatcher>
#include <QStandardPaths>

namespace {

// The command on a line of its own, so that it is not broken where it wraps.
const char* const kInstall = "端末で次のコマンドを実行してインストールしてください:\nsudo apt install php-cli php-zip";

} // namespace

WriterCheck::WriterCheck(QObject* parent)
    : QObject(parent)
{
}

WriterCheck::~WriterCheck()
{
    m_check.waitForFinished();
    m_startupCheck.waitForFinished();
}

void WriterCheck::start()
{
    // Starting php takes as long as php needs: not on the window's thread.
    auto* watcher = new QFutureWatcher<Answer>(this);
    connect(watcher, &QFutureWatcher<Answer>::finished, this, [this, watcher] {
        watcher->deleteLater();
        tell(watcher->result());
    });
    m_check = BackgroundTask::run([] {
        Answer answer;
        answer.phpFound = !QStandardPaths::findExecutable(QStringLiteral("php")).isEmpty();
        answer.canWrite = answer.phpFound && WriterStep::phpCanWriteArchives();
        return answer;
    });
    watcher->setFuture(m_check);
}

void WriterCheck::tell(const Answer& answer)
{
    // So that the first job already finds php checked; the window does not
    // wait for it.
    if (answer.canWrite && !m_startupCheck.isValid())
        m_startupCheck = BackgroundTask::run([] { return PhpStartup::ofCurrentUser().checkIfNew(); });
    const QString problem = problemText(answer.canWrite, answer.phpFound);
    if (!problem.isEmpty())
        Log::line(LogPrefix::kWriter + std::string(answer.phpFound ? "php has no ZipArchive" : "php is not installed"));
    emit checked(problem);
}

QString WriterCheck::problemText(bool canWrite, bool phpFound)
{
    if (canWrite)
        return {};
    if (!phpFound)
        return QStringLiteral("PHP がインストールされていないため、アーカイブを作成できません。") + QString::fromUtf8(kInstall);
    return QStringLiteral("PHP の ZIP 拡張（php-zip）がないため、アーカイブを作成できません。") + QString::fromUtf8(kInstall);
}
