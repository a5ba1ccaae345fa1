#pragma once

#include "DragAndDropDelegate.h"
#include "SettingStatus.h"
#include "ViewServices.h"

#include <QWidget>

#include <memory>
#include <string>
#include <vector>

class ButtonFeedback;
class FileDragDropTopLayerView;
class JobPresenter;
class JobQueue;
class JobStatusView;
class PasswordNotes;
class PictureView;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class StoredOptions;
class WriterCheck;

// The application's only window: files dropped anywhere on it, or chosen
// with its buttons, become archive jobs with the options its controls show
// at that moment. The options are loaded when the window is made and stored
// as they change, so a job that comes another way (opened with the
// application) uses them too.
class ViewController : public QWidget, public DragAndDropDelegate {
    Q_OBJECT

public:
    // Builds the layout and then runs viewDidLoad().
    explicit ViewController(JobQueue& jobs, ViewServices services = {}, QWidget* parent = nullptr);
    ~ViewController() override;

    // Stores what waits for a pause in typing to be stored, as the program
    // ends without the window closing (a signal).
    void savePendingOptions();

    FileDragDropTopLayerView* const fileDragDropTopLayerView;
    PictureView* const imageView;
    QPushButton* const chooseFilesButton;
    QPushButton* const chooseFolderButton;
    QCheckBox* const encryptCheckBox;
    QLineEdit* const passwordTextField;
    QPushButton* const showPasswordButton;
    QPushButton* const copyPasswordButton;
    QPushButton* const randomButton;
    // What is wrong with the password, where it is kept, how it is used.
    QLabel* const passwordNoteLabel;
    QLabel* const passwordStorageLabel;
    QLabel* const receiverHintLabel;
    QCheckBox* const selectDirCheckBox;
    QCheckBox* const nameAfterItemsCheckBox;
    // Says that the options could not be stored, while that is so.
    QLabel* const optionsNoteLabel;
    JobStatusView* const jobStatusView;
    QPushButton* const aboutButton;
    // Holds everything above; scrolls what does not fit on the screen.
    QScrollArea* const scrollArea;

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
    // The notes under the password say what it is and where it is kept:
    // also for the stored options to call when the keyring refused it.
    void updatePasswordNotes();

signals:
    // The user chose to quit while jobs were running.
    void quitConfirmed();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void connectActions();
    void connectOptions();
    void connectShortcuts();
    void showWriterProblem(const QString& problem);
    void showOptionsSaved(bool written);
    void chooseFiles();
    void chooseFolder();
    void startJob(const std::vector<std::string>& paths);

    JobQueue& m_jobs;
    ViewServices m_services;
    StoredOptions* const m_options;
    JobPresenter* const m_presenter;
    WriterCheck* const m_writerCheck;
    ButtonFeedback* m_copyFeedback = nullptr;
    ButtonFeedback* m_randomFeedback = nullptr;
    std::unique_ptr<PasswordNotes> m_notes;
    // Where the file choosers start: the folder of the last items given.
    std::string m_itemsFolder;
    // True from each showing until the options were saved for its end.
    bool m_shownSinceSave = false;
};
