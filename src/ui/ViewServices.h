#pragma once

class FolderOpener;
class Notifier;
class QuitConfirmation;
class UpdateCheck;

// What the window uses but does not decide. Services left empty get the
// desktop's own (file manager, notifications, a message box); an empty
// update check is not started.
struct ViewServices {
    UpdateCheck* updateCheck = nullptr;
    FolderOpener* folderOpener = nullptr;
    Notifier* notifier = nullptr;
    QuitConfirmation* quitConfirmation = nullptr;
};
