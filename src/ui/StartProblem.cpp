#include "StartProblem.h"

#include <QAbstractButton>
#include <QMessageBox>

#include <memory>

QMessageBox* StartProblem::make(const QString& sentence, const QString& advice)
{
    auto* box = new QMessageBox;
    box->setObjectName(QStringLiteral("startProblem"));
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QStringLiteral("Quillmere"));
    box->setText(sentence);
    box->setInformativeText(advice);
    box->setAccessibleName(sentence);
    box->setAccessibleDescription(advice);
    box->setStandardButtons(QMessageBox::Close);
    if (QAbstractButton* close = box->button(QMessageBox::Close)) {
        close->setText(QStringLiteral("閉じる"));
        close->setAccessibleName(QStringLiteral("閉じる"));
    }
    return box;
}

void StartProblem::tell(const QString& sentence, const QString& advice)
{
    const std::unique_ptr<QMessageBox> box(make(sentence, advice));
    box->exec();
}
