#include "ViewController.h"

#include "DesktopFolderOpener.h"
#include "DesktopNotifier.h"
#include "DroppedItems.h"
#include "FileDragDropTopLayerView.h"
#include "FileManager.h"
#include "PathText.h"
#include "JobQueue.h"
#include "JobStatusText.h"
#include "JobStatusView.h"
#include "Log.h"
#include "MessageBoxQuitConfirmation.h"
#include "PictureView.h"
#include "UpdateCheck.h"
#include "Util.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const int kRandomPasswordLength = 16;
const QString kIdlePicture = QStringLiteral("drop");
const QString kActivePicture = QStringLiteral("drop_active");

} // namespace

ViewController::ViewController(JobQueue& jobs, ViewServices services, QWidget* parent)
    : QWidget(parent)
    , m_jobs(jobs)
    , m_services(withDefaults(services, m_own, this))
    , fileDragDropTopLayerView(new FileDragDropTopLayerView(this))
    , imageView(new PictureView(this))
    , encryptCheckBox(new QCheckBox(QStringLiteral("パスワードで暗号化する"), this))
    , passwordTextField(new QLineEdit(this))
    , selectDirCheckBox(new QCheckBox(QStringLiteral("保存先を選択する"), this))
    , randomButton(new QPushButton(QStringLiteral("ランダム"), this))
    , jobStatusView(new JobStatusView(jobs, *m_services.folderOpener, this))
{
    buildLayout();
    setAccessibility();
    connectActions();
    viewDidLoad();
}

ViewController::~ViewController() = default;

ViewServices ViewController::withDefaults(ViewServices services, OwnServices& own, QWidget* window)
{
    if (!services.folderOpener) {
        own.folderOpener = std::make_unique<DesktopFolderOpener>();
        services.folderOpener = own.folderOpener.get();
    }
    if (!services.notifier) {
        own.notifier = std::make_unique<DesktopNotifier>(QIcon(QStringLiteral(":/icons/quillmere.svg")));
        services.notifier = own.notifier.get();
    }
    if (!services.quitConfirmation) {
        own.quitConfirmation = std::make_unique<MessageBoxQuitConfirmation>(window);
        services.quitConfirmation = own.quitConfirmation.get();
    }
    return services;
}

// ---- layout

void ViewController::buildLayout()
{
    setWindowTitle(QStringLiteral("Quillmere"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/quillmere.svg")));
    imageView->setImageNamed(kIdlePicture);
    imageView->setCaption(QStringLiteral("ここにファイルやフォルダをドロップ"));
    passwordTextField->setPlaceholderText(QStringLiteral("パスワードを入力"));
    randomButton->setToolTip(QStringLiteral("16 文字のランダムなパスワードを入れます"));
    selectDirCheckBox->setToolTip(QStringLiteral("オフのときは、最初の項目と同じフォルダに保存します"));

    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->setSpacing(14);
    layout->addWidget(buildDropArea(), 1);
    layout->addLayout(buildOptions());
    layout->addWidget(separator);
    layout->addWidget(jobStatusView);
    resize(460, 480);
    setMinimumSize(360, 420);
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

QLayout* ViewController::buildOptions()
{
    auto* passwordLabel = new QLabel(QStringLiteral("パスワード"), this);
    passwordLabel->setBuddy(passwordTextField);

    // The password row is indented under its checkbox: it belongs to it.
    auto* passwordRow = new QHBoxLayout;
    passwordRow->setContentsMargins(24, 0, 0, 0);
    passwordRow->addWidget(passwordLabel);
    passwordRow->addWidget(passwordTextField, 1);
    passwordRow->addWidget(randomButton);

    auto* options = new QVBoxLayout;
    options->setSpacing(8);
    options->addWidget(encryptCheckBox);
    options->addLayout(passwordRow);
    options->addWidget(selectDirCheckBox);
    return options;
}

void ViewController::setAccessibility()
{
    imageView->setAccessibleName(QStringLiteral("ドロップ領域"));
    encryptCheckBox->setAccessibleName(QStringLiteral("パスワードで暗号化する"));
    passwordTextField->setAccessibleName(QStringLiteral("パスワード"));
    passwordTextField->setAccessibleDescription(QStringLiteral("暗号化に使うパスワード"));
    randomButton->setAccessibleName(QStringLiteral("ランダム"));
    randomButton->setAccessibleDescription(randomButton->toolTip());
    selectDirCheckBox->setAccessibleName(QStringLiteral("保存先を選択する"));
    selectDirCheckBox->setAccessibleDescription(selectDirCheckBox->toolTip());

    setTabOrder(encryptCheckBox, passwordTextField);
    setTabOrder(passwordTextField, randomButton);
    setTabOrder(randomButton, selectDirCheckBox);
    setTabOrder(selectDirCheckBox, jobStatusView->openFolderButton);
}

void ViewController::connectActions()
{
    connect(encryptCheckBox, &QCheckBox::clicked, this, [this] { onEncryptClick(encryptCheckBox); });
    connect(randomButton, &QPushButton::clicked, this, [this] { onRandomBtnClick(randomButton); });
    connect(&m_jobs, &JobQueue::jobFinished, this, &ViewController::onJobFinished);
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
    if (m_services.updateCheck)
        m_services.updateCheck->fetchAppInfo();
}

void ViewController::viewDidDisappear()
{
    if (!saveSettingStatus(currentSettingStatus()))
        Log::line("the options could not be saved");
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
    if (!m_jobs.isBusy()) {
        event->accept();
        return;
    }
    if (!m_services.quitConfirmation->confirmQuit()) {
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
        Log::line("dropped files do not exist.");
        return;
    }
    // Nothing dropped, nothing to archive and no folder to put it in.
    if (paths->empty())
        return;
    // The archive goes beside the first item; items from other folders do
    // not move it.
    const std::string destination = PathText::parentFolder(paths->front());
    m_jobs.enqueue(*paths, destination, currentSettingStatus());
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
    const QString text = JobStatusText::outcome(outcome);
    if (text.isEmpty() || isInFront())
        return;
    m_services.notifier->notify(QStringLiteral("Quillmere"), text);
}

bool ViewController::isInFront() const
{
    return isVisible() && !isMinimized() && isActiveWindow();
}
