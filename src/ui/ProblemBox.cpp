#include "ProblemBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>

#include <memory>

QMessageBox* ProblemBox::make(const QString& sentence, const QString& advice, QWidget* window)
{
    auto* box = new QMessageBox(window);
    box->setObjectName(QStringLiteral("problemBox"));
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QStringLiteral("Quillmere"));
    // Plain text, set before the texts: an address may come from the
    // network, and taken as markup it could make Qt read local files.
    box->setTextFormat(Qt::PlainText);
    box->setText(sentence);
    box->setInformativeText(advice);
    // Both texts can be reached with Tab and selected, so that the keyboard
    // alone can copy them; the close button keeps the focus it starts with.
    for (QLabel* label : box->findChildren<QLabel*>()) {
        if (label->text().isEmpty())
            continue; // the icon
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        label->setFocusPolicy(Qt::StrongFocus);
    }
    box->setAccessibleName(sentence);
    box->setAccessibleDescription(advice);
    box->setStandardButtons(QMessageBox::Close);
    box->setDefaultButton(QMessageBox::Close);
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

QMessageBox* ProblemBox::showOver(QWidget* window, const QString& sentence, const QString& advice)
{
    QMessageBox* box = make(sentence, advice, window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Where the user was, typically the button that asked for what failed.
    const QPointer<QWidget> before = window && QApplication::focusWidget()
            && window->isAncestorOf(QApplication::focusWidget())
        ? QApplication::focusWidget()
        : nullptr;
    QObject::connect(box, &QDialog::finished, box, [window = QPointer<QWidget>(window), before] {
        if (!window || !window->isVisible())
            return;
        window->activateWindow();
        if (before && before->isVisible() && before->isEnabled())
            before->setFocus(Qt::OtherFocusReason);
    });
    // Window-modal: the rest of the program (a job's progress, say) goes
    // on while it is read.
    box->open();
    return box;
}
