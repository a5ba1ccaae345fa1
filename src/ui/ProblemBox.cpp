#include "ProblemBox.h"

#include <QAbstractButton>
#include <QMessageBox>

#include <memory>

QMessageBox* ProblemBox::make(const QString& sentence, const QString& advice)
{
    auto* box = new QMessageBox;
    box->setObjectName(QStringLiteral("problemBox"));
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QStringLiteral("Quillmere"));
    box->setText(sentence);
    box->setInformativeText(advice);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box->setAccessibleName(sentence);
    box->setAccessibleDescription(advice);
    box->setStandardButtons(QMessageBox::Close);
    if (QAbstractButton* close = box->button(QMessageBox::Close)) {
        close->setText(QStringLiteral("閉じる"));
        close->setAccessibleName(QStringLiteral("閉じる"));
    }
    return box;
}

void ProblemBox::tell(const QString& sentence, const QString& advice)
{
    const std::unique_ptr<QMessageBox> box(make(sentence, advice));
    box->exec();
}
