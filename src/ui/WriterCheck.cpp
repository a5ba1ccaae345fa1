#include "WriterCheck.h"

#include "Log.h"
#include "LogPrefix.h"
#include "PhpStartup.h"
#include "WriterStep.h"

#include <QFutureWatcher>
#include <QStandardPaths>
#include <QThreadPool>
#include <QtConcurrent>

namespace {

struct Answer {
    bool canWrite = false;
    bool phpFound = false;
};

// The command on a line of its own, so that it is not broken where it wraps.
const char* const kInstall = "端末で次のコマンドを実行してインストールしてください:\nsudo apt install php-cli php-zip";

} // namespace

WriterCheck::WriterCheck(QObject* parent)
    : QObject(parent)
{
}

void WriterCheck::start()
{
    // Starting php takes as long as php needs: not on the window's thread.
    auto* watcher = new QFutureWatcher<Answer>(this);
    connect(watcher, &QFutureWatcher<Answer>::finished, this, [this, watcher] {
        watcher->deleteLater();
        const Answer answer = watcher->result();
        const QString problem = problemText(answer.canWrite, answer.phpFound);
        if (!problem.isEmpty())
            Log::line(LogPrefix::kWriter + std::string(answer.phpFound ? "php has no ZipArchive" : "php is not installed"));
        emit checked(problem);
    });
    watcher->setFuture(QtConcurrent::run([] {
        Answer answer;
        answer.phpFound = !QStandardPaths::findExecutable(QStringLiteral("php")).isEmpty();
        answer.canWrite = answer.phpFound && WriterStep::phpCanWriteArchives();
        // So that the first job already finds php checked; the window does
        // not wait for it.
        if (answer.canWrite)
            QThreadPool::globalInstance()->start([] { PhpStartup::ofCurrentUser().checkIfNew(); });
        return answer;
    }));
}

QString WriterCheck::problemText(bool canWrite, bool phpFound)
{
    if (canWrite)
        return {};
    if (!phpFound)
        return QStringLiteral("PHP がインストールされていないため、アーカイブを作成できません。") + QString::fromUtf8(kInstall);
    return QStringLiteral("PHP の ZIP 拡張（php-zip）がないため、アーカイブを作成できません。") + QString::fromUtf8(kInstall);
}
