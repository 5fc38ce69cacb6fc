#pragma once
// The main window: menu bar, seven toolbar buttons switching seven screen
// panels, the status line and the finished-window watchers. The handlers of
// the screens' own buttons, lists and text boxes live in the folders of
// their subsystems (backup/, restore/, disks/, spyware/, shell/) as members
// of this class; each folder binds them in its own bind function, called
// from bindHandlers().
#include <array>
#include <memory>
#include <string>
#include <vector>

#include <deque>
#include <optional>

#include "app/FileRecord.h"
#include "app/form.h"
#include "app/menu.h"
#include "app/watcher.h"
#include "platform/fileset.h"
#include "platform/timer.h"

#include "spyware/DefinitionUpdate.h"
#include "spyware/I_INTConnection.h"

namespace app {

enum class Screen : int { Backup = 0, WinBackup, Restore, RescueDisk, ReinstallDisk, Spyware, Undo };
inline constexpr int kScreenCount = 7;

struct ScreenInfo {
  const char* button;    // toolbar button
  const char* caption;   // its caption
  const char* panel;     // the screen's panel
  const char* viewKey;   // View menu item
};
const ScreenInfo& screenInfo(Screen s);

class frmGlavni : public Form {
 public:
  explicit frmGlavni(Program& program);
  ~frmGlavni() override;

  Menu* menu() override { return &SmartMenuXP1; }

  // --- state of the window ------------------------------------------------------
  bool HasClassesDat = false;
  std::string BackupName;
  Screen currentScreen() const { return current_; }

  // --- controls -------------------------------------------------------------------
  Menu SmartMenuXP1;
  Control* cmdVantrel = nullptr;
  std::array<Control*, kScreenCount> toolbar{};  // tlbCmdBackup ... tlbCmdUndo
  std::array<Control*, kScreenCount> panels{};   // fraBackup ... fraUndo
  Control* SBar = nullptr;

  // Backup screen
  Control *cmdSystemInfo = nullptr, *cmdNewBackup = nullptr, *txtSystemInfo = nullptr,
          *txtComments = nullptr, *cmdClearFile = nullptr, *cmdWriteFile = nullptr,
          *txtNameFileBackup = nullptr, *cmdMakeBackup = nullptr;
  // Windows-backup screen
  Control *lvwWinBackup = nullptr, *cmdWinSysInfo = nullptr, *cmdImportWin = nullptr,
          *txtWinInfo = nullptr, *txtWinComments = nullptr, *cmdWinClearComments = nullptr,
          *cmdWinWriteComments = nullptr, *txtWinNameFileBackup = nullptr,
          *cmdWinMakeBackup = nullptr;
  // Restore screen
  Control *txtFileRestoreInfo = nullptr, *lvwRestore = nullptr, *cmdPrepareRestore = nullptr,
          *cmdRestore = nullptr;
  // Rescue-disk screen
  Control *txtDiskFileInfo = nullptr, *lvwRescueDisk = nullptr, *cmdPrepareDisk = nullptr,
          *cmdMakeDisk = nullptr;
  // Reinstall-disk screen
  Control *cmdMakeReinstallDisk = nullptr, *Label24 = nullptr;
  // Spyware screen
  Control *txtSpyList = nullptr, *cmdInternetUpdate = nullptr, *cmdBlockSpy = nullptr;
  // Undo screen
  Control *SmartNetButton2 = nullptr, *cmdUndoSpy = nullptr;

  // --- timers and watchers ------------------------------------------------------
  platform::Timer tmrExtract{"tmrExtract", 2000};
  platform::Timer tmrExtractDisk{"tmrExtractDisk", 1000};
  platform::Timer tmrExtractWin{"tmrExtractWin", 1000};
  platform::Timer tmrMakeCab{"tmrMakeCab", 1000};
  platform::Timer tmrReinstallDisk{"tmrReinstallDisk", 1000};
  platform::Timer tmrStatusBar{"tmrStatusBar", 3000};
  Watcher watchMakeCab;
  Watcher watchExtract;
  Watcher watchExtractWin;
  Watcher watchExtractDisk;
  Watcher watchReinstallDisk;
  // True while any of the five watchers polls.
  bool anyWatcherPolling() const;

  void tmrMakeCab_Timer() { watchMakeCab.tick(); }
  void tmrExtract_Timer() { watchExtract.tick(); }
  void tmrExtractWin_Timer() { watchExtractWin.tick(); }
  void tmrExtractDisk_Timer() { watchExtractDisk.tick(); }
  void tmrReinstallDisk_Timer() { watchReinstallDisk.tick(); }
  void tmrStatusBar_Timer();

  // --- opening and closing ---------------------------------------------------------
  void Form_Load() override;
  void Form_QueryUnload(int& cancel, int unloadMode) override;
  void Form_Unload(int& cancel) override;

  // --- screens ---------------------------------------------------------------------
  void tlbCmdBackup_Click();
  void tlbCmdWinBackup_Click();
  void tlbCmdRestore_Click();
  void tlbCmdRescueDisk_Click();
  void tlbCmdReinstall_Click();
  void tlbCmdSpy_Click();
  void tlbCmdUndo_Click();
  void switchTo(Screen s);  // the toolbar handler of that screen

  // --- menu ------------------------------------------------------------------------
  void BuildMenu();
  void SmartMenuXP1_Click(int number);

  // --- help and links ------------------------------------------------------------
  void ContextHelp(int context);
  void ShowHelpContents();
  void OpenSupportPage();
  void cmdVantrel_Click();
  std::string helpFile() const;

  // --- handlers of the other subsystems ----------------------------------------
  // backup/ (Parts of the backup subsystem) declares its members here.
  // Backup screen
  void cmdNewBackup_Click();
  void cmdSystemInfo_Click();
  void cmdWriteFile_Click();
  void cmdClearFile_Click();
  void txtComments_Change();
  void txtComments_Click();
  void txtNameFileBackup_Change();
  void cmdMakeBackup_Click();
  // Windows-backup screen
  void lvwWinBackup_Click();
  void cmdImportWin_Click();
  void cmdWinSysInfo_Click();
  void cmdWinWriteComments_Click();
  void cmdWinClearComments_Click();
  void txtWinComments_Change();
  void txtWinComments_Click();
  void txtWinNameFileBackup_Change();
  void cmdWinMakeBackup_Click();
  // Writes kvt.ddf and kvt.bat for BackupName and starts the cabinet maker.
  void MakeCAB();
  // The three backup lists, from the folders they show.
  void fillWindowsBackupList();
  void fillArchiveLists();
  // True once a Windows backup has been extracted with success; a new
  // conversion clears it until its extractor has ended.
  bool WinBackupConverted = false;
  // What each screen's own steps put into Exchange: "Create  backup" makes
  // an archive only of exactly that.
  FileRecord backupGathered;  // "Write to file" (the set), and info.txt of this screen
  FileRecord winGathered;     // "Convert" (the set), and info.txt of this screen

  // restore/ declares its members here.
  void lvwRestore_Click();
  void lvwRescueDisk_Click();
  void cmdPrepareRestore_Click();
  void cmdPrepareDisk_Click();
  void cmdRestore_Click();
  void SmartNetButton2_Click();
  void MakeWininit();
  void UndoChange();
  // What the running tmrExtract job is, and the folder it extracts into.
  enum class ExtractJob { None, Inspect, PrepareRestore, PrepareDisk };
  ExtractJob extractJob = ExtractJob::None;
  std::string extractFolder;
  std::string extractArchive;
  // tmrExtract runs one extraction at a time; a request made meanwhile
  // waits here (the newest of each kind).
  struct ExtractRequest {
    ExtractJob job = ExtractJob::None;
    std::string archive, folder;
  };
  std::deque<ExtractRequest> extractQueue;
  // The set a preparation replaces, kept until its extraction has ended, so
  // that an archive that lacks a file leaves the old set whole; and the
  // read-only bits taken off the old files for the extractor.
  std::unique_ptr<platform::FolderSnapshot> prepareSnapshot;
  std::vector<std::pair<std::string, uint8_t>> prepareAttributes;
  // The set "Prepare restoring files" extracted into Exchange with success:
  // "Restore system" stages exactly that.
  FileRecord restorePrepared;
  // WinInit.ini was created by this program in this run: its "[Rename]"
  // header is ours.
  bool renameHeaderOurs = false;
  // The lines this program may have staged, for the cancel choice.
  std::vector<std::string> ownRenameLines() const;
  // What of ours WinInit.ini holds now.
  struct Staged {
    bool restore = false;  // lines whose sources are in Exchange
    bool undo = false;     // lines whose sources are in undo
  };
  Staged staged() const;
  // A step that would change what staged lines install refuses with a
  // message naming the way out; true when it refused.
  bool refuseWhileStaged(const std::string& step, bool writesExchange, bool writesUndo);
  void bindRestore();
  void startExtract(ExtractJob job, const std::string& archive, const std::string& folder);
  void runExtract(const ExtractRequest& r);
  void extractEnded(bool succeeded, int exitStatus, const std::string& output);
  void showInfo(const std::string& infoFile);
  void inspect(Control* list, Control* infoBox, Control* prepare);
  bool prepare(Control* list, ExtractJob job, const std::string& folder, Control* next);
  void forgetPreparation(bool putBack);
  std::string shortOf(const std::string& path) const;  // RequireShortPath for the program folder

  // disks/ declares its members here.
  void cmdMakeDisk_Click();
  void cmdMakeReinstallDisk_Click();
  // Write A:\Autoexec.bat; platform::Error when it cannot be written.
  void MakeAutoexecBat();
  void MakeAutoexecBatReinstall();
  void bindDisks();
  void makeFloppy(bool rescue);
  bool floppyWritten(Watcher& w);
  void floppyFailed(bool rescue, int exitStatus, const std::string& output);
  // A:\Autoexec.bat as it was before the disk being written, to put back
  // when its extraction fails (nullopt: there was none).
  std::optional<std::string> previousAutoexec;

  // spyware/ declares its members here.
  void FillSpywareList();
  void cmdBlockSpy_Click();
  void cmdUndoSpy_Click();
  void cmdInternetUpdate_Click();
  void importSpywareScript(bool block, const char* encName, const char* regName,
                           const char* statusPrefix, const char* successText);
  void showScriptLines(const std::string& script, const char* statusPrefix);
  void createConnection();
  void dropConnection();
  // The connection object, from the end of the opening until the closing.
  std::unique_ptr<spyware::I_INTConnection> connection;
  // How long the update may take and how large a definition file may be.
  spyware::UpdateLimits updateLimits;
  // A block, unblock or update is running.
  bool spywareBusy = false;

  // shell/ declares its members here.
  void FileAssociate();

 private:
  void buildControls();
  void bindHandlers();
  void bindBackup();
  // Backup and Windows-backup screens share these steps.
  void showSystemInfo(Control& infoBox, FileRecord& record);
  bool writeInfoFile(Control& infoBox, Control& comments, FileRecord& record);
  // Exchange holds exactly what the screen's own steps put there, and no
  // extraction writes into it now; otherwise a message, false.
  bool archiveSourcesReady(const FileRecord& record, const char* setStep);
  bool refuseWhileArchiving();
  bool archiveMade();
  std::string makingArchive_;  // the archive MakeCAB is making, Windows path
  void closeMain();
  Screen current_ = Screen::Backup;
};

// The seven lines shown on every switch to the Reinstall-disk screen.
std::string reinstallWarning();

}  // namespace app
