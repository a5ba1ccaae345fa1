#include "WindowLayout.h"

#include "AlertAccessible.h"
#include "FileDragDropTopLayerView.h"
#include "JobStatusView.h"
#include "PictureView.h"
#include "SecondaryText.h"
#include "ViewController.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

// Wide enough for an 80-character password to scroll comfortably, narrow
// enough not to stretch across a wide window.
const int kPasswordFieldWidth = 190;
// The width the window asks for: room for the password row and for the
// notes to wrap into a few lines.
const int kPreferredWidth = 600;

void makeNote(QLabel* label)
{
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

} // namespace

void WindowLayout::build(ViewController& view)
{
    view.setWindowTitle(QStringLiteral("Quillmere"));
    view.setWindowIcon(QIcon(QStringLiteral(":/icons/quillmere.svg")));
    view.scrollArea->setWidget(buildContent(view));
    view.scrollArea->setWidgetResizable(true);
    view.scrollArea->setFrameShape(QFrame::NoFrame);
    view.scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Tab goes from control to control; the scroll area follows the focus.
    view.scrollArea->setFocusPolicy(Qt::NoFocus);
    auto* layout = new QVBoxLayout(&view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view.scrollArea);
}

QWidget* WindowLayout::buildContent(ViewController& view)
{
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("windowContent"));
    auto* separator = new QFrame(content);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);

    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(20, 16, 20, 8);
    layout->setSpacing(10);
    layout->addWidget(buildDropArea(view, content), 1);
    layout->addLayout(buildChooseRow(view));
    layout->addLayout(buildOptions(view));
    layout->addWidget(separator);
    layout->addWidget(view.jobStatusView);
    layout->addLayout(buildAboutRow(view));
    return content;
}

QWidget* WindowLayout::buildDropArea(ViewController& view, QWidget* parent)
{
    view.imageView->setImageNamed(QStringLiteral("drop"));
    view.imageView->setCaption(QStringLiteral("ここにファイルやフォルダをドロップ"));
    // The drop layer lies over the picture, in the same cell, on top of it.
    auto* area = new QWidget(parent);
    auto* grid = new QGridLayout(area);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(view.imageView, 0, 0);
    grid->addWidget(view.fileDragDropTopLayerView, 0, 0);
    view.fileDragDropTopLayerView->raise();
    return area;
}

QLayout* WindowLayout::buildChooseRow(ViewController& view)
{
    view.chooseFilesButton->setToolTip(QStringLiteral("ファイルを選んでアーカイブを作成します（Ctrl+O）"));
    view.chooseFolderButton->setToolTip(QStringLiteral("フォルダを選んでアーカイブを作成します"));
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(view.chooseFilesButton);
    row->addWidget(view.chooseFolderButton);
    row->addStretch(1);
    return row;
}

QLayout* WindowLayout::buildPasswordRow(ViewController& view)
{
    auto* passwordLabel = new QLabel(QStringLiteral("パスワード"));
    passwordLabel->setBuddy(view.passwordTextField);
    view.passwordTextField->setPlaceholderText(QStringLiteral("パスワードを入力"));
    view.passwordTextField->setEchoMode(QLineEdit::Password);
    view.passwordTextField->setMinimumWidth(kPasswordFieldWidth);
    view.passwordTextField->setMaximumWidth(2 * kPasswordFieldWidth);
    // Files dropped on the field make an archive like anywhere else, instead
    // of their paths becoming the password.
    view.passwordTextField->setAcceptDrops(false);
    view.showPasswordButton->setCheckable(true);
    view.randomButton->setToolTip(QStringLiteral("16 文字のランダムなパスワードを入れます"));
    view.copyPasswordButton->setToolTip(QStringLiteral("パスワードをクリップボードにコピーします"));
    view.showPasswordButton->setToolTip(QStringLiteral("パスワードの表示と非表示を切り替えます"));

    auto* row = new QHBoxLayout;
    row->addWidget(passwordLabel);
    row->addWidget(view.passwordTextField, 1);
    row->addWidget(view.showPasswordButton);
    row->addWidget(view.copyPasswordButton);
    row->addWidget(view.randomButton);
    row->addStretch(1);
    return row;
}

QLayout* WindowLayout::buildOptions(ViewController& view)
{
    makeNote(view.passwordNoteLabel);
    // Two lines are always kept for the note, and the storage note's line,
    // also while they are hidden, so that their appearing and going as the
    // password is typed does not move the rest of the window (and the
    // field, where the window scrolls).
    makeNote(view.passwordStorageLabel);
    SecondaryText::apply(view.passwordStorageLabel);
    for (QLabel* note : {view.passwordNoteLabel, view.passwordStorageLabel}) {
        // Measured on Japanese text: its glyphs come from a font of their
        // own, with taller lines than the label's font has.
        const QString text = note->text();
        note->setText(QStringLiteral("あ\nあ"));
        note->setMinimumHeight(note->sizeHint().height());
        note->setText(text);
        QSizePolicy keptWhenHidden = note->sizePolicy();
        keptWhenHidden.setRetainSizeWhenHidden(true);
        note->setSizePolicy(keptWhenHidden);
    }
    makeNote(view.receiverHintLabel);
    makeNote(view.optionsNoteLabel);
    view.optionsNoteLabel->hide();
    view.selectDirCheckBox->setToolTip(QStringLiteral("オフのときは、最初の項目と同じフォルダに保存します"));
    view.nameAfterItemsCheckBox->setToolTip(
        QStringLiteral("オンのときは、1 つの項目ならその名前（見積書.zip）、いくつかならそれを入れたフォルダの名前"
                       "（見積書フォルダ.zip）にします。オフのときは archive.zip です"));

    // The password rows are indented under their checkbox: they belong to it.
    auto* passwordRows = new QVBoxLayout;
    passwordRows->setContentsMargins(24, 0, 0, 0);
    passwordRows->setSpacing(2);
    passwordRows->addLayout(buildPasswordRow(view));
    passwordRows->addWidget(view.passwordNoteLabel);
    passwordRows->addWidget(view.passwordStorageLabel);
    passwordRows->addWidget(view.receiverHintLabel);

    auto* options = new QVBoxLayout;
    options->setSpacing(6);
    options->addWidget(view.encryptCheckBox);
    options->addLayout(passwordRows);
    options->addWidget(view.selectDirCheckBox);
    options->addWidget(view.nameAfterItemsCheckBox);
    options->addWidget(view.optionsNoteLabel);
    return options;
}

QLayout* WindowLayout::buildAboutRow(ViewController& view)
{
    // Not flat: a flat button shows no keyboard focus.
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(view.aboutButton);
    return row;
}

void WindowLayout::setAccessibility(ViewController& view)
{
    // Read out when it appears, wherever the focus is.
    AlertAccessible::markAsAlert(view.optionsNoteLabel);
    view.imageView->setAccessibleName(QStringLiteral("ドロップ領域"));
    view.chooseFilesButton->setAccessibleName(QStringLiteral("ファイルを選択"));
    view.chooseFilesButton->setAccessibleDescription(view.chooseFilesButton->toolTip());
    view.chooseFolderButton->setAccessibleName(QStringLiteral("フォルダを選択"));
    view.chooseFolderButton->setAccessibleDescription(view.chooseFolderButton->toolTip());
    view.encryptCheckBox->setAccessibleName(QStringLiteral("パスワードで暗号化する"));
    view.encryptCheckBox->setAccessibleDescription(
        QStringLiteral("オンのときは、下のパスワードで保護したアーカイブを作成します"));
    view.passwordTextField->setAccessibleName(QStringLiteral("パスワード"));
    view.passwordTextField->setAccessibleDescription(QStringLiteral("暗号化に使うパスワード"));
    view.showPasswordButton->setAccessibleName(QStringLiteral("パスワードを表示"));
    view.showPasswordButton->setAccessibleDescription(view.showPasswordButton->toolTip());
    view.copyPasswordButton->setAccessibleName(QStringLiteral("パスワードをコピー"));
    view.copyPasswordButton->setAccessibleDescription(view.copyPasswordButton->toolTip());
    view.randomButton->setAccessibleName(QStringLiteral("パスワードを自動生成"));
    view.randomButton->setAccessibleDescription(view.randomButton->toolTip());
    view.selectDirCheckBox->setAccessibleName(QStringLiteral("保存先を選択する"));
    view.selectDirCheckBox->setAccessibleDescription(view.selectDirCheckBox->toolTip());
    view.nameAfterItemsCheckBox->setAccessibleName(QStringLiteral("項目の名前を付ける"));
    view.nameAfterItemsCheckBox->setAccessibleDescription(view.nameAfterItemsCheckBox->toolTip());
    view.aboutButton->setAccessibleName(QStringLiteral("バージョン情報"));
    view.aboutButton->setToolTip(QStringLiteral("Quillmere のバージョンとビルド番号を表示します"));
    view.aboutButton->setAccessibleDescription(view.aboutButton->toolTip());
    view.scrollArea->setAccessibleName(QStringLiteral("Quillmere のウィンドウ"));

    QWidget::setTabOrder(view.chooseFilesButton, view.chooseFolderButton);
    QWidget::setTabOrder(view.chooseFolderButton, view.encryptCheckBox);
    QWidget::setTabOrder(view.encryptCheckBox, view.passwordTextField);
    QWidget::setTabOrder(view.passwordTextField, view.showPasswordButton);
    QWidget::setTabOrder(view.showPasswordButton, view.copyPasswordButton);
    QWidget::setTabOrder(view.copyPasswordButton, view.randomButton);
    QWidget::setTabOrder(view.randomButton, view.selectDirCheckBox);
    QWidget::setTabOrder(view.selectDirCheckBox, view.nameAfterItemsCheckBox);
}

void WindowLayout::fitToScreen(ViewController& view)
{
    QWidget* content = view.scrollArea->widget();
    content->layout()->activate();
    const int width = std::max(kPreferredWidth, content->minimumSizeHint().width());
    // Wrapped notes grow taller as the window gets narrower.
    const int height = std::max(content->layout()->totalHeightForWidth(width), content->minimumSizeHint().height());
    QSize wanted(width, height);
    if (const QScreen* screen = view.screen()) {
        const QSize room = roomOn(screen);
        if (height > room.height())
            wanted.rwidth() += view.scrollArea->verticalScrollBar()->sizeHint().width();
        wanted = wanted.boundedTo(room);
    }
    view.resize(wanted);
}

QSize WindowLayout::roomOn(const QScreen* screen)
{
    if (!screen)
        return {QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
    // The title bar and the borders need room too; across, the borders
    // alone, so that a screen of 640 logical pixels (1280 at 200 %) needs
    // no sideways scrolling.
    const QSize available = screen->availableGeometry().size();
    return {available.width() * 97 / 100, available.height() * 9 / 10};
}
