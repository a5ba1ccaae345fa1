#include "QuitQuestion.h"

#include <QMessageBox>
#include <QPushButton>

QMessageBox* QuitQuestion::make(QWidget* window)
{
    auto* box = new QMessageBox(window);
    box->setObjectName(QLatin1String(kObjectName));
    box->setIcon(QMessageBox::Question);
    box->setWindowTitle(QStringLiteral("Quillmere"));
    const QString question = QStringLiteral("アーカイブを作成しています。終了しますか？");
    const QString consequence = QStringLiteral("終了すると、作成中と待機中のアーカイブは作成されません。");
    box->setText(question);
    box->setInformativeText(consequence);
    // A screen reader announces the dialog by its name when it opens, then
    // the focused button: the question has to be that name, not the title.
    box->setAccessibleName(question);
    box->setAccessibleDescription(consequence);
    QPushButton* quitButton = box->addButton(QStringLiteral("終了する"), QMessageBox::DestructiveRole);
    QPushButton* stayButton = box->addButton(QStringLiteral("作成を続ける"), QMessageBox::RejectRole);
    quitButton->setObjectName(QStringLiteral("quit"));
    stayButton->setObjectName(QStringLiteral("stay"));
    quitButton->setAccessibleName(QStringLiteral("終了する"));
    stayButton->setAccessibleName(QStringLiteral("作成を続ける"));
    box->setDefaultButton(stayButton);
    box->setEscapeButton(stayButton);
    return box;
}

bool QuitQuestion::ask(QWidget* window)
{
    QMessageBox* box = make(window);
    box->exec();
    QAbstractButton* clicked = box->clickedButton();
    const bool quit = clicked && clicked->objectName() == QLatin1String("quit");
    delete box;
    return quit;
}
