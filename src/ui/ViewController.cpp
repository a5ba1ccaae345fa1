#include "ViewController.h"

#include "AboutBox.h"
#include "AccessibleRoles.h"
#include "AccessibleText.h"
#include "AlertAccessible.h"
#include "AlertColour.h"
#include "ButtonFeedback.h"
#include "DroppedItems.h"
#include "FileDragDropTopLayerView.h"
#include "ItemChooser.h"
#include "JobPresenter.h"
#include "JobQueue.h"
#include "JobStatusView.h"
#include "Log.h"
#include "LogPrefix.h"
#include "PasswordEvents.h"
#include "PasswordNotes.h"
#include "PathText.h"
#include "PictureView.h"
#include "QuitQuestion.h"
#include "StoredOptions.h"
#include "Util.h"
#include "WindowGrowth.h"
#include "WindowLayout.h"
#include "WriterCheck.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>

namespace {

const int kRandomPasswordLength = 16;
const QString kIdlePicture = QStringLiteral("drop");
const QString kActivePicture = QStringLiteral("drop_active");

} // namespace

ViewController::ViewController(JobQueue& jobs, ViewServices services, QWidget* parent)
    : QWidget(parent)
    , fileDragDropTopLayerView(new FileDragDropTopLayerView(this))
    , imageView(new PictureView(this))
    , chooseFilesButton(new QPushButton(QStringLiteral("ファイルを選択…"), this))
    , chooseFolderButton(new QPushButton(QStringLiteral("フォルダを選択…"), this))
    , encryptCheckBox(new QCheckBox(QStringLiteral("パスワードで暗号化する"), this))
    , passwordTextField(new QLineEdit(this))
    , showPasswordButton(new QPushButton(QStringLiteral("表示"), this))
    , copyPasswordButton(new QPushButton(QStringLiteral("コピー"), this))
    , randomButton(new QPushButton(QStringLiteral("自動生成"), this))
    , passwordNoteLabel(new QLabel(this))
    , passwordStorageLabel(new QLabel(this))
    , receiverHintLabel(new QLabel(this))
    , selectDirCheckBox(new QCheckBox(QStringLiteral("保存先を選択する"), this))
    , nameAfterItemsCheckBox(new QCheckBox(QStringLiteral("項目の名前を付ける"), this))
    , optionsNoteLabel(new QLabel(this))
    , jobStatusView(new JobStatusView(jobs, this))
    , aboutButton(new QPushButton(QStringLiteral("バージョン情報"), this))
    , scrollArea(new QScrollArea(this))
    , m_jobs(jobs)
    , m_services(std::move(services))
    , m_options(new StoredOptions(m_services, [this] { return currentSettingStatus(); }, this))
    , m_presenter(new JobPresenter(*this, jobs, m_services))
    , m_writerCheck(new WriterCheck(this))
    , m_notes(std::make_unique<PasswordNotes>(passwordNoteLabel, passwordStorageLabel, receiverHintLabel))
{
    // Before anything asks what the window is.
    AccessibleRoles::install();
    PasswordEvents::install();
    WindowLayout::build(*this);
    WindowLayout::setAccessibility(*this);
    m_copyFeedback = new ButtonFeedback(copyPasswordButton, QStringLiteral("コピーしました"));
    // The new password goes into a field that hides it: without a word it
    // would seem that nothing happened.
    m_randomFeedback = new ButtonFeedback(randomButton, QStringLiteral("生成しました"));
    // Files dropped on a button or a note are not lost: the whole window
    // takes drops through the drop layer.
    fileDragDropTopLayerView->coverWindow(this);
    viewDidLoad();
    // Connected after loading, so that the loaded values are not stored
    // back as changes.
    connectActions();
    connectOptions();
    connectShortcuts();
    WindowLayout::fitToScreen(*this);
    new WindowGrowth(this, scrollArea);
}

ViewController::~ViewController() = default;

void ViewController::connectActions()
{
    // stateChanged, not clicked: a screen reader's toggle action clicks
    // nothing. Nor toggled: leaving "unknown" for on toggles nothing.
    connect(encryptCheckBox, &QCheckBox::stateChanged, this, [this] { onEncryptClick(encryptCheckBox); });
    connect(randomButton, &QPushButton::clicked, this, [this] { onRandomBtnClick(randomButton); });
    connect(showPasswordButton, &QPushButton::toggled, this, [this](bool shown) {
        // The toggle's label and name stay "表示" and "パスワードを表示": it
        // shows pressed while the password is shown, and a screen reader
        // tells that state beside the name ("hide, on" would read as shown
        // hidden). A label that changed would also no longer be in the name
        // that voice control goes by.
        passwordTextField->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
    });
    connect(copyPasswordButton, &QPushButton::clicked, this, [this] {
        QGuiApplication::clipboard()->setText(passwordTextField->text());
        m_copyFeedback->confirm();
    });
    connect(chooseFilesButton, &QPushButton::clicked, this, &ViewController::chooseFiles);
    connect(chooseFolderButton, &QPushButton::clicked, this, &ViewController::chooseFolder);
    connect(aboutButton, &QPushButton::clicked, this, [this] { AboutBox::show(this); });
    connect(m_writerCheck, &WriterCheck::checked, this, &ViewController::showWriterProblem);
}

void ViewController::connectOptions()
{
    // A check box is stored when clicked; the password when typing pauses
    // and when editing ends, not for each key.
    connect(encryptCheckBox, &QCheckBox::stateChanged, m_options, &StoredOptions::saveNow);
    connect(selectDirCheckBox, &QCheckBox::toggled, m_options, &StoredOptions::saveNow);
    connect(nameAfterItemsCheckBox, &QCheckBox::toggled, m_options, &StoredOptions::saveNow);
    connect(passwordTextField, &QLineEdit::textChanged, m_options, &StoredOptions::saveSoon);
    connect(passwordTextField, &QLineEdit::editingFinished, this, [this] {
        if (m_options->isSavePending())
            m_options->saveNow();
    });
    connect(passwordTextField, &QLineEdit::textChanged, this, &ViewController::updatePasswordNotes);
    // A failed write means the password is not remembered after all, and a
    // write that works again means it is.
    connect(m_options, &StoredOptions::saved, this, &ViewController::updatePasswordNotes);
    connect(m_options, &StoredOptions::saved, this, &ViewController::showOptionsSaved);
    connect(passwordTextField, &QLineEdit::textChanged, m_presenter, &JobPresenter::onPasswordChanged);
    connect(encryptCheckBox, &QCheckBox::stateChanged, this, &ViewController::updatePasswordNotes);
    connect(encryptCheckBox, &QCheckBox::stateChanged, m_presenter, &JobPresenter::onPasswordChanged);
}

void ViewController::connectShortcuts()
{
    auto* open = new QShortcut(QKeySequence::Open, this);
    connect(open, &QShortcut::activated, this, &ViewController::chooseFiles);
    // Not QKeySequence::Quit: some desktops bind it to nothing, and the
    // window promises Ctrl+Q everywhere.
    auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    connect(quit, &QShortcut::activated, this, &QWidget::close);
    auto* cancel = new QShortcut(Qt::Key_Escape, this);
    connect(cancel, &QShortcut::activated, &m_jobs, &JobQueue::cancelRunning);
}

void ViewController::viewDidLoad()
{
    fileDragDropTopLayerView->setDelegate(this);
    passwordTextField->setEnabled(false);
    const SettingStatus stored = m_options->load();
    // Stored values that are off or empty leave the controls as laid out.
    if (stored.isEncrypt) {
        encryptCheckBox->setChecked(true);
        passwordTextField->setEnabled(true);
    }
    // Neither on nor off, until the user says which: an archive without a
    // password must not be what an unreadable settings file gives.
    if (stored.encryptUnknown) {
        encryptCheckBox->setTristate(true);
        encryptCheckBox->setCheckState(Qt::PartiallyChecked);
    }
    if (!stored.password.empty())
        passwordTextField->setText(QString::fromStdString(stored.password));
    if (stored.isSelectDir)
        selectDirCheckBox->setChecked(true);
    if (stored.nameAfterItems)
        nameAfterItemsCheckBox->setChecked(true);
    updatePasswordNotes();
    m_writerCheck->start();
    m_presenter->scheduleUpdateCheck();
}

void ViewController::savePendingOptions()
{
    if (m_options->isSavePending())
        m_options->saveNow();
}

void ViewController::viewDidDisappear()
{
    m_options->saveNow();
}

void ViewController::showEvent(QShowEvent* event)
{
    m_shownSinceSave = true;
    QWidget::showEvent(event);
}

void ViewController::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (!m_shownSinceSave)
        return;
    m_shownSinceSave = false;
    viewDidDisappear();
}

void ViewController::closeEvent(QCloseEvent* event)
{
    if (!m_jobs.isBusy() && m_jobs.waitingCount() == 0) {
        event->accept();
        return;
    }
    // Once nothing runs or waits the question asks about nothing: it goes
    // unanswered, and the window stays with the last job's result.
    const QMetaObject::Connection settled = connect(&m_jobs, &JobQueue::changed, this, [this] {
        if (m_jobs.isBusy() || m_jobs.waitingCount() > 0)
            return;
        if (auto* question = findChild<QDialog*>(QLatin1String(QuitQuestion::kObjectName)))
            question->reject();
    });
    const bool quit = !m_services.confirmQuit || m_services.confirmQuit(this);
    disconnect(settled);
    if (!quit) {
        event->ignore();
        return;
    }
    event->accept();
    emit quitConfirmed();
}

void ViewController::keyPressEvent(QKeyEvent* event)
{
    // Outside a dialog Qt's buttons take only the space bar; Enter presses
    // the focused one too, as users of other desktops expect.
    auto* button = qobject_cast<QPushButton*>(focusWidget());
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && button && button->isEnabled() && button->isVisible()) {
        button->animateClick();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ViewController::bringToFront()
{
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
    // A dialog open over the window (the folder chooser, a question) takes
    // the keys: given to the window it blocks, they would go nowhere.
    if (QWidget* dialog = QApplication::activeModalWidget(); dialog && dialog != this) {
        dialog->raise();
        dialog->activateWindow();
    }
}

void ViewController::onEncryptClick(QObject* sender)
{
    auto* box = qobject_cast<QCheckBox*>(sender);
    if (!box)
        return;
    // Once chosen, the choice is on or off: "unknown" is never offered again.
    if (box->checkState() != Qt::PartiallyChecked)
        box->setTristate(false);
    passwordTextField->setEnabled(box->checkState() == Qt::Checked);
}

void ViewController::onRandomBtnClick(QObject*)
{
    passwordTextField->setText(QString::fromStdString(Util::randomPassword(kRandomPasswordLength)));
    // The field is greyed out then, which a screen reader does not say: a
    // password made is no archive protected.
    m_randomFeedback->confirm(encryptCheckBox->checkState() == Qt::Checked
                                  ? QString()
                                  : QStringLiteral("（暗号化はオフです。オンにするまで使われません）"));
}

void ViewController::updatePasswordNotes()
{
    const SettingStatus shown = currentSettingStatus();
    m_notes->update(shown, m_options->passwordPlace(shown));
}

void ViewController::showOptionsSaved(bool written)
{
    // What the user just changed holds for this run only: without a word,
    // the next start would quietly bring back the old options. Said once as
    // it happens, and gone as soon as a save works again.
    const QString note = written ? QString()
                                 : QStringLiteral("設定を保存できませんでした。変更した設定は、"
                                                  "次に起動したときには元に戻ります。");
    const bool news = !note.isEmpty() && note != optionsNoteLabel->text();
    AccessibleText::showMessage(optionsNoteLabel, note, QStringLiteral("設定の保存"));
    optionsNoteLabel->setVisible(!note.isEmpty());
    optionsNoteLabel->setStyleSheet(written ? QString() : AlertColour::failure(optionsNoteLabel));
    if (news)
        AccessibleText::announce(optionsNoteLabel);
}

void ViewController::showWriterProblem(const QString& problem)
{
    if (problem.isEmpty())
        return;
    // Not "ready": nothing can be archived until php is installed.
    AlertAccessible::setAlerting(jobStatusView->readyLabel, true);
    AccessibleText::showMessage(jobStatusView->readyLabel, problem, QStringLiteral("状況"));
    jobStatusView->readyLabel->setStyleSheet(AlertColour::failure(jobStatusView->readyLabel));
    AccessibleText::announce(jobStatusView->readyLabel);
}

void ViewController::chooseFiles()
{
    ItemChooser::chooseFiles(this, m_itemsFolder, [this](const std::vector<std::string>& paths) { startJob(paths); });
}

void ViewController::chooseFolder()
{
    ItemChooser::chooseFolder(this, m_itemsFolder, [this](const std::vector<std::string>& paths) { startJob(paths); });
}

void ViewController::onDragBeforeDrop()
{
    imageView->setImageNamed(kActivePicture);
}

void ViewController::offDragBeforeDrop()
{
    imageView->setImageNamed(kIdlePicture);
}

void ViewController::onDrop(const QMimeData* data)
{
    // No "off" notice follows a drop: the idle picture comes back here.
    imageView->setImageNamed(kIdlePicture);
    const std::optional<std::vector<std::string>> paths = DroppedItems::localPaths(data);
    if (!paths) {
        Log::line(LogPrefix::kDroppedMissing);
        return;
    }
    startJob(*paths);
}

void ViewController::startJob(const std::vector<std::string>& paths)
{
    // Nothing given, nothing to archive and no folder to put it in.
    if (paths.empty())
        return;
    // The archive goes beside the first item; items from other folders do
    // not move it.
    m_itemsFolder = PathText::parentFolder(paths.front());
    m_jobs.enqueue(paths, m_itemsFolder, currentSettingStatus());
}

SettingStatus ViewController::currentSettingStatus() const
{
    SettingStatus status;
    status.isEncrypt = encryptCheckBox->checkState() == Qt::Checked;
    status.encryptUnknown = encryptCheckBox->checkState() == Qt::PartiallyChecked;
    status.password = passwordTextField->text().toStdString();
    status.isSelectDir = selectDirCheckBox->checkState() == Qt::Checked;
    status.nameAfterItems = nameAfterItemsCheckBox->checkState() == Qt::Checked;
    return status;
}

bool ViewController::saveSettingStatus(const SettingStatus& status)
{
    return m_options->save(status);
}
