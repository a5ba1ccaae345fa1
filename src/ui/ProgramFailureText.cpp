#include "ProgramFailureText.h"

#include "EncryptStep.h"
#include "WriterStep.h"

#include <csignal>

namespace {

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

QString number(const std::string& text, const std::string& before)
{
    return QString::fromStdString(text.substr(before.size()));
}

} // namespace

std::optional<QString> ProgramFailureText::inJapanese(const std::string& description)
{
    if (description == EncryptStep::kNotEncrypted)
        return QStringLiteral("zipcloak がアーカイブを暗号化できませんでした");
    if (description == EncryptStep::kNotMoved)
        return QStringLiteral("暗号化したアーカイブを保存先のフォルダへ移せませんでした");
    if (description == EncryptStep::kNotPlaced)
        return QStringLiteral("アーカイブを保存先のフォルダへ、空いている名前で移せませんでした");
    const std::string writer = WriterStep::kEnded, wroteNothing = WriterStep::kNoArchive;
    if (description.starts_with(writer) && endsWith(description, wroteNothing)) {
        const std::string exit = description.substr(writer.size(), description.size() - writer.size() - wroteNothing.size());
        return QStringLiteral("アーカイブを書く php が%1。アーカイブはできていません").arg(howItEnded(exit));
    }
    const std::string expect = EncryptStep::kExpect;
    if (description.starts_with(expect))
        return QStringLiteral("暗号化を進める expect が%1").arg(howItEnded(description.substr(expect.size())));
    return std::nullopt;
}

QString ProgramFailureText::howItEnded(const std::string& exit)
{
    const std::string status = "exited with status ", signal = "was killed by signal ", notStarted = "could not be started";
    if (exit.starts_with(status))
        return QStringLiteral("終了コード %1 で終わりました").arg(number(exit, status));
    if (exit.starts_with(signal)) {
        const QString stopped = QStringLiteral("シグナル %1 で止められました").arg(number(exit, signal));
        // The two the system itself sends when a limit is reached.
        if (exit == signal + std::to_string(SIGKILL))
            return stopped + QStringLiteral("（メモリが足りなくなったときなどに、システムが強制的に終了させます）");
        if (exit == signal + std::to_string(SIGXFSZ))
            return stopped + QStringLiteral("（ファイルの大きさの上限（ulimit -f）に達しました）");
        return stopped;
    }
    if (exit.starts_with(notStarted))
        return QStringLiteral("起動できませんでした") + QString::fromStdString(exit.substr(notStarted.size()));
    return QString::fromStdString(exit);
}
