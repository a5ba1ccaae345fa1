#include "JobStatusText.h"

#include "FileManager.h"

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
        const std::string name = FileManager::lastComponent(outcome.archivePath);
        QString text = QStringLiteral("作成しました: ") + QFile::decodeName(QByteArray::fromStdString(name));
        if (outcome.encrypted)
            text += QStringLiteral("（暗号化済み）");
        return text;
    }
    case JobOutcome::Kind::Failed:
        return QStringLiteral("作成できませんでした: ") + QString::fromStdString(outcome.step) + QStringLiteral(" — ")
            + QString::fromStdString(outcome.description);
    case JobOutcome::Kind::Cancelled:
        return {};
    }
    return {};
}
