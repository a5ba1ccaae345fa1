#include "JobStatusText.h"

#include "FileManager.h"
#include "PathText.h"

#include <QFile>

QString JobStatusText::phase(JobPhase phase)
{
    switch (phase) {
    case JobPhase::ChoosingFolder:
        return QStringLiteral("保存先を選択しています…");
    case JobPhase::Copying:
        return QStringLiteral("コピーしています…");
    case JobPhase::Writing:
        return QStringLiteral("アーカイブを作成しています…");
    case JobPhase::Encrypting:
        return QStringLiteral("暗号化しています…");
    case JobPhase::Verifying:
        return QStringLiteral("確認しています…");
    case JobPhase::Delivering:
        return QStringLiteral("保存しています…");
    }
    return {};
}

QString JobStatusText::failure(JobPhase phase)
{
    switch (phase) {
    case JobPhase::ChoosingFolder:
        return QStringLiteral("保存先を選べませんでした");
    case JobPhase::Copying:
        return QStringLiteral("ファイルをコピーできませんでした");
    case JobPhase::Writing:
        return QStringLiteral("アーカイブを作成できませんでした");
    case JobPhase::Encrypting:
        return QStringLiteral("暗号化できませんでした。暗号化されていないアーカイブは保存していません");
    case JobPhase::Verifying:
        return QStringLiteral("作成したアーカイブを確認できませんでした。保存していません");
    case JobPhase::Delivering:
        return QStringLiteral("アーカイブを保存先に移動できませんでした");
    }
    return {};
}

QString JobStatusText::ready()
{
    return QStringLiteral("準備完了");
}

QString JobStatusText::waiting(int count)
{
    return QStringLiteral("待機中: %1 件").arg(count);
}

QString JobStatusText::outcome(const JobOutcome& outcome)
{
    switch (outcome.kind) {
    case JobOutcome::Kind::Delivered: {
        const std::string name = PathText::lastComponent(outcome.archivePath);
        QString text = QStringLiteral("作成しました: ") + QFile::decodeName(QByteArray::fromStdString(name));
        if (outcome.encrypted)
            text += QStringLiteral("（暗号化済み）");
        return text;
    }
    case JobOutcome::Kind::Failed:
        return failure(outcome.failedIn) + QStringLiteral("（") + QString::fromStdString(outcome.description)
            + QStringLiteral("）");
    case JobOutcome::Kind::Cancelled:
        return {};
    case JobOutcome::Kind::Stopped:
        return QStringLiteral("キャンセルしました");
    }
    return {};
}
