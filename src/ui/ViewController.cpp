#include "ViewController.h"

#include "AboutBox.h"
#include "DroppedItems.h"
#include "FileDragDropTopLayerView.h"
#include "FileManager.h"
#include "PathText.h"
#include "ItemChooser.h"
#include "JobQueue.h"
#include "JobStatusText.h"
#include "JobStatusView.h"
#include "Log.h"
#include "LogPrefix.h"
#include "PasswordRule.h"
#include "PictureView.h"
#include "Util.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const int kRandomPasswordLength = 16;
// Wide enough for an 80-character password to scroll comfortably, narrow
// enough not to stretch across a wide window.
const int kPasswordFieldWidth = 190;
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
    , selectDirCheckBox(new QCheckBox(QStringLiteral("保存先を選択する"), this))
    , jobStatusView(new JobStatusView(jobs, this))
    , aboutButton(new QPushButton(QStringLiteral("バージョン情報"), this))
    , m_jobs(jobs)
    , m_services(std::move(services))
{
    buildLayout();
    setAccessibility();
    viewDidLoad();
    // Connected after loading, so that the loaded values are not stored
    // back as changes.
    connectActions();
    connectShortcuts();
}

ViewController::~ViewController() = default;

// ---- layout

void ViewController::buildLayout()
{
    setWindowTitle(QStringLiteral("Quillmere"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/quillmere.svg")));
    imageView->setImageNamed(kIdlePicture);
    imageView->setCaption(QStringLiteral("ここにファイルやフォルダをドロップ"));

    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    aboutButton->setFlat(true);
    auto* aboutRow = new QHBoxLayout;
    aboutRow->addStretch(1);
    aboutRow->addWidget(aboutButton);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 8);
    layout->setSpacing(10);
    layout->addWidget(buildDropArea(), 1);
    layout->addLayout(buildChooseRow());
    layout->addLayout(buildOptions());
    layout->addWidget(separator);
    layout->addWidget(jobStatusView);
    layout->addLayout(aboutRow);
    // No fixed minimum: the layout's own grows the window when the details
    // or the waiting list open, instead of squeezing them.
    resize(580, 660);
}

QWidget* ViewController::buildDropArea()
{
    // The drop layer lies over the picture, in the same cell, on top of it.
    auto* area = new QWidget(this);
    auto* grid = new QGridLayout(area);
    grid->setContentsMargins(0, 0, 0, 0);
    imageView->setParent(area);
    fileDragDropTopLayerView->setParent(area);
    grid->addWidget(imageView, 0, 0);
    grid->addWidget(fileDragDropTopLayerView, 0, 0);
    fileDragDropTopLayerView->raise();
    return area;
}

QLayout* ViewController::buildChooseRow()
{
    chooseFilesButton->setToolTip(QStringLiteral("ファイルを選んでアーカイブを作成します（Ctrl+O）"));
    chooseFolderButton->setToolTip(QStringLiteral("フォルダを選んでアーカイブを作成します"));
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(chooseFilesButton);
    row->addWidget(chooseFolderButton);
    row->addStretch(1);
    return row;
}

QLayout* ViewController::buildPasswordRow()
{
    auto* passwordLabel = new QLabel(QStringLiteral("パスワード"), this);
    passwordLabel->setBuddy(passwordTextField);
    passwordTextField->setPlaceholderText(QStringLiteral("パスワードを入力"));
    passwordTextField->setEchoMode(QLineEdit::Password);
    passwordTextField->setFixedWidth(kPasswordFieldWidth);
    showPasswordButton->setCheckable(true);
    randomButton->setToolTip(QStringLiteral("16 文字のランダムなパスワードを入れます"));
    copyPasswordButton->setToolTip(QStringLiteral("パスワードをクリップボードにコピーします"));
    showPasswordButton->setToolTip(QStringLiteral("パスワードの表示と非表示を切り替えます"));

    auto* row = new QHBoxLayout;
    row->addWidget(passwordLabel);
    row->addWidget(passwordTextField);
    row->addWidget(showPasswordButton);
    row->addWidget(copyPasswordButton);
    row->addWidget(randomButton);
    row->addStretch(1);
    return row;
}

QLayout* ViewController::buildOptions()
{
    passwordNoteLabel->setTextFormat(Qt::PlainText);
    passwordNoteLabel->setWordWrap(true);
    // Two lines are always kept for the note, so that it appearing and
    // going does not move the rest of the window.
    passwordNoteLabel->setMinimumHeight(2 * passwordNoteLabel->fontMetrics().lineSpacing());
    passwordNoteLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    selectDirCheckBox->setToolTip(QStringLiteral("オフのときは、最初の項目と同じフォルダに保存します"));

    // The password rows are indented under their checkbox: they belong to it.
    auto* passwordRows = new QVBoxLayout;
    passwordRows->setContentsMargins(24, 0, 0, 0);
    passwordRows->setSpacing(2);
    passwordRows->addLayout(buildPasswordRow());
    passwordRows->addWidget(passwordNoteLabel);

    auto* options = new QVBoxLayout;
    options->setSpacing(6);
    options->addWidget(encryptCheckBox);
    options->addLayout(passwordRows);
    options->addWidget(selectDirCheckBox);
    return options;
}

void ViewController::setAccessibility()
{
    imageView->setAccessibleName(QStringLiteral("ドロップ領域"));
    chooseFilesButton->setAccessibleName(QStringLiteral("ファイルを選択"));
    chooseFilesButton->setAccessibleDescription(chooseFilesButton->toolTip());
    chooseFolderButton->setAccessibleName(QStringLiteral("フォルダを選択"));
    chooseFolderButton->setAccessibleDescription(chooseFolderButton->toolTip());
    encryptCheckBox->setAccessibleName(QStringLiteral("パスワードで暗号化する"));
    passwordTextField->setAccessibleName(QStringLiteral("パスワード"));
    passwordTextField->setAccessibleDescription(QStringLiteral("暗号化に使うパスワード"));
    showPasswordButton->setAccessibleName(QStringLiteral("パスワードを表示"));
    showPasswordButton->setAccessibleDescription(showPasswordButton->toolTip());
    copyPasswordButton->setAccessibleName(QStringLiteral("パスワードをコピー"));
    copyPasswordButton->setAccessibleDescription(copyPasswordButton->toolTip());
    randomButton->setAccessibleName(QStringLiteral("パスワードを自動生成"));
    randomButton->setAccessibleDescription(randomButton->toolTip());
    passwordNoteLabel->setAccessibleName(QStringLiteral("パスワードについての注意"));
    selectDirCheckBox->setAccessibleName(QStringLiteral("保存先を選択する"));
    selectDirCheckBox->setAccessibleDescription(selectDirCheckBox->toolTip());
    aboutButton->setAccessibleName(QStringLiteral("バージョン情報"));

    setTabOrder(chooseFilesButton, chooseFolderButton);
    setTabOrder(chooseFolderButton, encryptCheckBox);
    setTabOrder(encryptCheckBox, passwordTextField);
    setTabOrder(passwordTextField, showPasswordButton);
    setTabOrder(showPasswordButton, copyPasswordButton);
    setTabOrder(copyPasswordButton, randomButton);
    setTabOrder(randomButton, selectDirCheckBox);
}

void ViewController::connectActions()
{
    connect(encryptCheckBox, &QCheckBox::clicked, this, [this] { onEncryptClick(encryptCheckBox); });
    connect(randomButton, &QPushButton::clicked, this, [this] { onRandomBtnClick(randomButton); });
    connect(showPasswordButton, &QPushButton::toggled, this, [this](bool shown) {
        passwordTextField->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
        showPasswordButton->setText(shown ? QStringLiteral("隠す") : QStringLiteral("表示"));
    });
    connect(copyPasswordButton, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(passwordTextField->text()); });
    connect(chooseFilesButton, &QPushButton::clicked, this, &ViewController::chooseFiles);
    connect(chooseFolderButton, &QPushButton::clicked, this, &ViewController::chooseFolder);
    connect(aboutButton, &QPushButton::clicked, this, [this] { AboutBox::show(this); });

    // Whatever changes an option stores it at once.
    connect(encryptCheckBox, &QCheckBox::toggled, this, &ViewController::storeOptions);
    connect(selectDirCheckBox, &QCheckBox::toggled, this, &ViewController::storeOptions);
    connect(passwordTextField, &QLineEdit::textChanged, this, &ViewController::storeOptions);
    connect(encryptCheckBox, &QCheckBox::toggled, this, &ViewController::updatePasswordNote);
    connect(passwordTextField, &QLineEdit::textChanged, this, &ViewController::updatePasswordNote);

    connect(&m_jobs, &JobQueue::jobFinished, this, &ViewController::onJobFinished);
    connect(jobStatusView, &JobStatusView::showInFileManagerRequested, this, [this](const std::string& archive) {
        if (m_services.showInFileManager)
            m_services.showInFileManager(archive);
    });
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

// ---- life cycle

void ViewController::viewDidLoad()
{
    fileDragDropTopLayerView->setDelegate(this);
    passwordTextField->setEnabled(false);
    const SettingStatus stored = Util::loadSettingStatus();
    // Stored values that are off or empty leave the controls as laid out.
    if (stored.isEncrypt) {
        encryptCheckBox->setChecked(true);
        passwordTextField->setEnabled(true);
    }
    if (!stored.password.empty())
        passwordTextField->setText(QString::fromStdString(stored.password));
    if (stored.isSelectDir)
        selectDirCheckBox->setChecked(true);
    updatePasswordNote();
    // The question waits for the event loop: a job given at the start then
    // begins first, instead of after the secure connection has been set up.
    if (m_services.checkForUpdate)
        QTimer::singleShot(0, this, [this] { m_services.checkForUpdate(); });
}

void ViewController::viewDidDisappear()
{
    storeOptions();
}

void ViewController::storeOptions()
{
    if (!saveSettingStatus(currentSettingStatus()))
        Log::line(LogPrefix::kSaveOptions + std::string("the options could not be written"));
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
    if (m_services.confirmQuit && !m_services.confirmQuit(this)) {
        event->ignore();
        return;
    }
    event->accept();
    emit quitConfirmed();
}

void ViewController::bringToFront()
{
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

// ---- actions

void ViewController::onEncryptClick(QObject* sender)
{
    if (auto* button = qobject_cast<QAbstractButton*>(sender))
        passwordTextField->setEnabled(button->isChecked());
}

void ViewController::onRandomBtnClick(QObject*)
{
    passwordTextField->setText(QString::fromStdString(Util::randomPassword(kRandomPasswordLength)));
}

void ViewController::updatePasswordNote()
{
    // Said as the password is typed, not after a job: only while it is
    // going to be used.
    const std::string password = passwordTextField->text().toStdString();
    QString note;
    bool refused = false;
    if (encryptCheckBox->isChecked()) {
        note = JobStatusText::passwordProblem(PasswordRule::check(password));
        refused = !note.isEmpty();
        if (!refused && PasswordRule::needsJapaneseWindows(password))
            note = JobStatusText::passwordWindowsWarning();
    }
    passwordNoteLabel->setText(note);
    passwordNoteLabel->setStyleSheet(refused ? QStringLiteral("color: #b3261e;") : QStringLiteral("color: #8a5300;"));
}

void ViewController::chooseFiles()
{
    ItemChooser::chooseFiles(this, [this](const std::vector<std::string>& paths) { startJob(paths); });
}

void ViewController::chooseFolder()
{
    ItemChooser::chooseFolder(this, [this](const std::vector<std::string>& paths) { startJob(paths); });
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
    m_jobs.enqueue(paths, PathText::parentFolder(paths.front()), currentSettingStatus());
}

SettingStatus ViewController::currentSettingStatus() const
{
    SettingStatus status;
    status.isEncrypt = encryptCheckBox->checkState() == Qt::Checked;
    status.password = passwordTextField->text().toStdString();
    status.isSelectDir = selectDirCheckBox->checkState() == Qt::Checked;
    return status;
}

bool ViewController::saveSettingStatus(const SettingStatus& status)
{
    return Util::saveSettingStatus(status);
}

// ---- job ends

void ViewController::onJobFinished(const JobOutcome& outcome)
{
    jobStatusView->showOutcome(outcome, PasswordRule::check(passwordTextField->text().toStdString()));
    if (!isInFront())
        notifyOutcome(outcome);
}

void ViewController::notifyOutcome(const JobOutcome& outcome)
{
    // A cancelled chooser or a stop were the user's own doing, in the window.
    if (!m_services.notify || outcome.kind == JobOutcome::Kind::Cancelled
        || outcome.kind == JobOutcome::Kind::Stopped)
        return;
    Notification notification;
    notification.title = JobStatusText::headline(outcome);
    notification.text = JobStatusText::remedy(outcome, PasswordRule::check(passwordTextField->text().toStdString()));
    if (outcome.kind == JobOutcome::Kind::Delivered && m_services.showInFileManager) {
        notification.actionLabel = QStringLiteral("表示");
        notification.action = [show = m_services.showInFileManager, archive = outcome.archivePath] { show(archive); };
    }
    m_services.notify(notification);
}

bool ViewController::isInFront() const
{
    return isVisible() && !isMinimized() && isActiveWindow();
}
