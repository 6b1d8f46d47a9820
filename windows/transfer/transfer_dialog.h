// The small modal window of an upload run: status, the file in flight with
// its thumbnail, a progress bar and a cancel button. The run itself
// (CTransferRun) lives in the core; this window shows what it reports and
// gives it its prompts and message boxes.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/run/transfer_run.h"
#include "framework/dialog.h"

class CMediaItem;
class CRunProgress;
class CUploadList;

class CTransferDialog : public CDialog, public IRunPrompts {
 public:
  explicit CTransferDialog(HWND parent);
  ~CTransferDialog() override;

  // Runs the whole upload of the list; 1 when every file was handled and the
  // final message shown, 2 when the run was cancelled or failed (or the
  // program is closing). Files that arrived have been removed from the list.
  // The run takes the files the list holds when it starts; files added
  // meanwhile are not part of it.
  INT_PTR RunUpload(CUploadList& list);
  // The files of the last run that are still in the list (after a result of
  // 1, those refused as too big).
  std::vector<CMediaItem*> GetRunItemsLeft() const { return run_.ItemsLeft(); }

  static constexpr UINT AbortGraceMs = CTransferRun::AbortGraceMs;

  // Stores the status word and repaints.
  void SetStatusText(const std::string& text);
  TransferRunState& GetRunState() { return run_.State(); }
  CTransferRun& GetRun() { return run_; }
  // The files whose facts are shown (index i of the run is item i); tests set
  // them without a run.
  void SetUploadList(CUploadList* list);

  // The text painted beside the thumbnail (or alone without a file).
  static std::string FormatPaintText(const std::string& status, const CMediaItem* item);
  // Progress bar position: value * 100 / total in 64 bits, truncated.
  static int ProgressPercent(int value, int total);
  // The line below the controls with the file's place in a run of several
  // files, the rate and the time left (UTF-8); empty before the first body.
  std::string GetProgressLineForTest() const;

  // Whether this system version draws the bar without visual style.
  static bool WantsClassicProgressBar(DWORD platformId, DWORD major, DWORD minor);

  // IRunPrompts: the run's prompts and messages, owned by this window (or by
  // the window that opened it, before this one exists).
  int AskLogin(std::string& username, std::string& password) override;
  std::unique_ptr<IAlbumPrompt> CreateAlbumPrompt() override;
  int AskAlbumName(std::string& name) override;
  int AskResize() override;
  void ShowMessage(const std::string& text, unsigned type) override;
  bool IsClosing() override;
  void StatusChanged() override { Repaint(); }
  void PostOk() override { Post(IDOK); }
  void PostCancel() override { Post(IDCANCEL); }

 protected:
  // The transport of the run's service client; tests give one of their own.
  virtual std::unique_ptr<CHttpUpload> CreateTransport();

  BOOL OnInitDialog() override;
  bool OnCommand(WORD id, WORD code, HWND control) override;
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;

 private:
  void OnPaint();
  void OnTimer(UINT_PTR id);
  // Grows the window by the progress line, for a run of several files.
  void AddProgressLine();
  // Puts the line below the cancel button at the window's DPI.
  void PlaceProgressLine();
  void UpdateProgressLine();
  // Any thread: the status changed.
  void Repaint();
  // The window prompts and message boxes belong to.
  HWND PromptOwner() const;
  void Post(WORD command);

  CTransferRun run_;
  HWND progress_ = nullptr;
  std::unique_ptr<CRunProgress> runProgress_;
  HWND progressLine_ = nullptr;
  std::string progressLineText_;
  DWORD progressStart_ = 0;
  // The window while it exists, for repaints asked on a worker.
  mutable std::mutex windowLock_;
  HWND window_ = nullptr;
};
