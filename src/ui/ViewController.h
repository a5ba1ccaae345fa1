#pragma once

#include "DragAndDropDelegate.h"
#include "JobOutcome.h"
#include "SettingStatus.h"
#include "ViewServices.h"

#include <QWidget>

#include <string>
#include <vector>

class FileDragDropTopLayerView;
class JobQueue;
class JobStatusView;
class PictureView;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The application's only window: files dropped on its picture, or chosen
// with its buttons, become archive jobs with the options its controls show
// at that moment. The options are loaded when the window is made and stored
// whenever a control changes, so a job that comes another way (opened with
// the application) uses them too.
class ViewController : public QWidget, public DragAndDropDelegate {
    Q_OBJECT

public:
    // Builds the layout and then runs viewDidLoad().
    explicit ViewController(JobQueue& jobs, ViewServices services = {}, QWidget* parent = nullptr);
    ~ViewController() override;

    FileDragDropTopLayerView* const fileDragDropTopLayerView;
    PictureView* const imageView;
    QPushButton* const chooseFilesButton;
    QPushButton* const chooseFolderButton;
    QCheckBox* const encryptCheckBox;
    QLineEdit* const passwordTextField;
    QPushButton* const showPasswordButton;
    QPushButton* const copyPasswordButton;
    QPushButton* const randomButton;
    QLabel* const passwordNoteLabel;
    QCheckBox* const selectDirCheckBox;
    JobStatusView* const jobStatusView;
    QPushButton* const aboutButton;

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
    void buildLayout();
    QWidget* buildDropArea();
    QLayout* buildChooseRow();
    QLayout* buildOptions();
    QLayout* buildPasswordRow();
    void setAccessibility();
    void connectActions();
    void connectShortcuts();
    void storeOptions();
    void updatePasswordNote();
    void chooseFiles();
    void chooseFolder();
    void startJob(const std::vector<std::string>& paths);
    void onJobFinished(const JobOutcome& outcome);
    void notifyOutcome(const JobOutcome& outcome);
    bool isInFront() const;

    JobQueue& m_jobs;
    ViewServices m_services;
    // True from each showing until the options were saved for its end.
    bool m_shownSinceSave = false;
};
