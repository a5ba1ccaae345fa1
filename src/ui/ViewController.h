#pragma once

#include "DragAndDropDelegate.h"
#include "JobOutcome.h"
#include "SettingStatus.h"
#include "ViewServices.h"

#include <QWidget>

#include <memory>

class FileDragDropTopLayerView;
class JobQueue;
class JobStatusView;
class PictureView;
class QCheckBox;
class QLineEdit;
class QPushButton;

// The application's only window: files dropped on its picture become archive
// jobs with the options its controls show at that moment. The options are
// loaded when the window is made and saved each time it disappears.
class ViewController : public QWidget, public DragAndDropDelegate {
    Q_OBJECT

    // Declared first so that they exist before the controls that use them.
    struct OwnServices {
        std::unique_ptr<FolderOpener> folderOpener;
        std::unique_ptr<Notifier> notifier;
        std::unique_ptr<QuitConfirmation> quitConfirmation;
    };
    JobQueue& m_jobs;
    OwnServices m_own;
    ViewServices m_services;

public:
    // Builds the layout and then runs viewDidLoad().
    explicit ViewController(JobQueue& jobs, ViewServices services = {}, QWidget* parent = nullptr);
    ~ViewController() override;

    FileDragDropTopLayerView* const fileDragDropTopLayerView;
    PictureView* const imageView;
    QCheckBox* const encryptCheckBox;
    QLineEdit* const passwordTextField;
    QCheckBox* const selectDirCheckBox;
    QPushButton* const randomButton;
    JobStatusView* const jobStatusView;

    void viewDidLoad();
    void viewDidDisappear();

    void onEncryptClick(QObject* sender);
    void onRandomBtnClick(QObject* sender);

    void onDrop(const QMimeData* data) override;
    void onDragBeforeDrop() override;
    void offDragBeforeDrop() override;

    SettingStatus currentSettingStatus() const;
    bool saveSettingStatus(const SettingStatus& status);

    // Shows the window in front of the others, restored if minimised.
    void bringToFront();

signals:
    // The user chose to quit while jobs were running.
    void quitConfirmed();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    static ViewServices withDefaults(ViewServices services, OwnServices& own, QWidget* window);
    void buildLayout();
    QWidget* buildDropArea();
    QLayout* buildOptions();
    void setAccessibility();
    void connectActions();
    void onJobFinished(const JobOutcome& outcome);
    bool isInFront() const;

    // True from each showing until the options were saved for its end.
    bool m_shownSinceSave = false;
};
