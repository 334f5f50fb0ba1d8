// SPDX-License-Identifier: MIT
// TfrmsjqlMgr, the module's cleanup manager window: the years that hold history, the backup folder,
// the clear and restore buttons, and the switch that hides or shows abnormal taxpayers.
//
// The window is created by ShowSJQL and embedded in the host's container; closing it frees it. It
// owns its controls and the year check boxes (FYearBoxes only indexes them). The long operations
// run as progress jobs whose item procedures are methods of this window; they are handed to the
// GUI thread, so everything here runs on the GUI thread. Failures of database statements are shown
// with the coded error text; a missing decryption library or settings file only turns the
// taxpayer switch off.
#pragma once

#include "db/Compaction.h"
#include "hostapi/CryptZelpDes.h"
#include "jobs/RunOutcome.h"
#include "ui/CustomForm.h"
#include "ui/HashTable.h"

#include <QLabel>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QLibrary;

namespace sjql {
class TDispResultList;
} // namespace sjql

namespace sjql::ui {
class TImageButton;
class TMyProgress;
class TXPFamerEdit;
class TXPFarmerCheckBox;
} // namespace sjql::ui

class TfrmsjqlMgr : public sjql::ui::Tfrm_CustomEx
{
    Q_OBJECT
public:
    explicit TfrmsjqlMgr(QWidget* parent = nullptr);
    ~TfrmsjqlMgr() override;

    // Number of year check boxes, "CBX0" to "CBX9".
    static constexpr int kYearBoxCount = 10;

    // --- Components of the window description (owned by the window) ---
    QLabel* img1 = nullptr; // background picture
    QLabel* lbltz = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lbl2 = nullptr;
    QLabel* lblwsj = nullptr;
    QLabel* Label2 = nullptr;
    sjql::ui::TXPFamerEdit* edtBFLJ = nullptr;
    sjql::ui::TImageButton* btnLoad = nullptr;
    sjql::ui::TImageButton* btnClear = nullptr;
    sjql::ui::TImageButton* btnRegain = nullptr;
    QLabel* img2 = nullptr; // separator line
    QLabel* Label3 = nullptr;
    sjql::ui::TImageButton* btnHINT = nullptr;
    sjql::ui::TImageButton* btnShow = nullptr;
    QLabel* lblts = nullptr;

    // The year check box stored under a name ("CBX0" to "CBX9"), or null before the first show.
    sjql::ui::TXPFarmerCheckBox* YearBox(const QString& name) const;
    // The four-character years of the ticked boxes, in box order (CBX0 first, newest year first).
    QStringList CheckedYears() const;
    // The captions of the visible year boxes in box order ("2023年", ...).
    QStringList VisibleYearCaptions() const;

    QString WorkDir() const { return FWorkDir; }
    // The backup folder of the edit as an absolute path (a relative text is taken from the home
    // folder); what the backup writes into and where the open dialog starts.
    QString BackupFolder() const;
    bool Cleared() const { return FCleared; }

    // The base window's skin, then the window's own pictures and colours on the host's window
    // colour: the host's skin change (message 1303) repaints the whole window.
    void ApplySkin() override;

    // --- Event handlers ---
    void FormShow();
    void btnLoadClick();
    void btnClearClick();
    void btnRegainClick();
    void btnHINTClick();
    void btnShowClick();

    // --- Operations ---
    // Fills the year boxes from the database (years of KJSDSBGB other than the current period's)
    // and from the agent's work folder: a year whose cleared months still lie there unpacked is
    // offered marked unfinished ("2019年(未完成)"), so that clearing it again packs them.
    void RefreshYearList();
    // Item procedures of the progress machinery: sender, parameter, operation text (in/out), item
    // progress 0..100 (in/out) and the run's result list. The result tells whether the item succeeded.
    bool BackupAndClear(sjql::ui::TMyProgress* sender, void* param, QString& operation, qint16& progress,
                        sjql::TDispResultList& results);
    bool RestoreArchives(sjql::ui::TMyProgress* sender, void* param, QString& operation, qint16& progress,
                         sjql::TDispResultList& results);
    // Compacts the host database after a backup-and-clear run; shows its own failure text and
    // returns the result.
    sjql::CompactResult CompactAccessDatabase();

    // --- Taxpayer switch ---
    // Decides once whether the switch is offered and unloads the decryption library afterwards.
    void CheckHideNsrAvailable();
    // Loads "GS_CryptZelpDes.so" from the host application folder and binds its decryption entry.
    bool LoadDecryptLibrary();
    // Decrypts `file` into the module's temp/TmpIni.ini and reads one integer from it. False (and
    // *value = defaultValue) when the file is missing or cannot be decrypted.
    bool ReadEncryptedIniInteger(const QString& file, const QString& section, const QString& key, int defaultValue,
                                 int* value);
    // Enables exactly one of the two switch buttons from the stored "HideNsr".
    void RefreshHideButtons();
    // True while the decryption library is loaded (only during CheckHideNsrAvailable).
    bool DecryptLibraryLoaded() const { return FLibHandle != nullptr; }

    // The folder browser, opened at *folder (its nearest existing parent), or at `root` when *folder
    // is empty. On success *folder holds the chosen folder, made absolute from the home folder, and
    // the result is true; on cancel *folder becomes empty and the result is false.
    // A chooser receives in *folder the folder the dialog would open at.
    using FolderChooser = std::function<bool(QWidget* owner, const QString& title, QString* folder)>;
    static bool SelectFolder(QWidget* owner, const QString& title, const QString& root, QString* folder);
    // Test and scripted-mode seam: a chooser used instead of the folder dialog; empty puts it back.
    static void SetFolderChooser(FolderChooser chooser);

protected:
    bool event(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void FormCreate();
    void FormDestroy();
    void CreateComponents();
    void PrepareWindow();
    sjql::ui::TXPFarmerCheckBox* CreateYearBox(int top, int left, const QString& name);
    // Places the visible year boxes side by side, each as wide as its caption, evenly apart.
    void LayoutYearBoxes();
    // The backup folder from the stored setting or the volumes of the machine.
    QString ChooseBackupFolder() const;
    void FreeTableObjects(sjql::ui::THashTable& table);
    // The text colours the window description gives its labels (gray, red, maroon).
    void ApplyOwnColors();
    // The colour of the tool-page buttons' panel under the host's skin.
    static QColor toolResizeColor();
    // Tells the user, in one box, which years have cleared months only in the work folder.
    void TellUnfinishedYears();
    // Keeps a run's ending on the window (kRunEndingProperty, kRunSummaryProperty).
    void SetRunOutcome(const sjql::RunOutcome& outcome);

    sjql::ui::THashTable FYearBoxes;
    QString FWorkDir;
    bool FCleared = false;
    bool FShownOnce = false;
    QStringList FUnfinishedYears;    // years the list marks unfinished, four digits each
    sjql::RunOutcome FBackupOutcome; // the last backup-and-clear run's ending
    QLibrary* FLibHandle = nullptr;
    CommonDecryptFileProc FDecryptFile = nullptr;
    std::optional<QString> FArchivePassword; // the strong mode's password, for the run that asked it
};
