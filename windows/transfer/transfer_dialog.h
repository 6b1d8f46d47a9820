// The small modal window of an upload run: status, the file in flight with
// its thumbnail, a progress bar and a cancel button. It owns the run's
// service client and is its listener.
//
// The client reports on the request's worker thread. Progress only changes
// display values, so it is taken there; every other report is queued and
// carried over to this window's thread by a posted message, where the run
// takes its next step (prompts, message boxes, list changes, next request).
// Reports that arrive before the window exists wait in the queue until it
// does.
//
// The window never waits for a request for long: a cancelled request that
// does not end at once (a write to a server that stopped reading cannot be
// aborted under Wine) is left to end on its own; the transport then tells
// this dialog nothing more.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/dialog.h"
#include "core/service/service_client.h"
#include "core/run/upload_run.h"

class CMediaItem;
class CMediaListCtrl;
class CRunProgress;
class CUploadRun;

class CTransferDialog : public CDialog, public IServiceListener {
 public:
  explicit CTransferDialog(HWND parent);
  ~CTransferDialog() override;

  // Runs the whole upload of the list; 1 when every file was handled and the
  // final message shown, 2 when the run was cancelled or failed (or the
  // program is closing). Files that arrived have been removed from the list.
  // The run takes the files the list holds when it starts; files added
  // meanwhile are not part of it.
  INT_PTR RunUpload(CMediaListCtrl& list);
  // The files of the last run that are still in the list (after a result of
  // 1, those refused as too big).
  std::vector<CMediaItem*> GetRunItemsLeft() const;

  // How long a cancelled request may take to end before the window stops
  // waiting for it.
  static constexpr UINT AbortGraceMs = 300;

  // Stores the status word and repaints.
  void SetStatusText(const std::string& text);
  TransferRunState& GetRunState() { return state_; }
  // The files whose facts are shown (index i of the run is item i); tests set
  // them without a run.
  void SetUploadList(CMediaListCtrl* list);

  // IServiceListener, called on the request's worker thread.
  void OnUploadProgress(int sent, int total) override;
  void OnResponseProgress(int received, int available) override;
  void OnLogInDone(int result) override;
  void OnDirListDone(CAlbumList* list, int result) override;
  void OnCreateDirDone(int albumId, int result) override;
  void OnUploadDone(int result) override;
  void OnAborted() override;

  // The text painted beside the thumbnail (or alone without a file).
  static std::string FormatPaintText(const std::string& status, const CMediaItem* item);
  // Progress bar position: value * 100 / total in 64 bits, truncated.
  static int ProgressPercent(int value, int total);
  // The line below the controls with the file's place in a run of several
  // files, the rate and the time left (UTF-8); empty before the first body.
  std::string GetProgressLineForTest() const;

  // Whether this system version draws the bar without visual style.
  static bool WantsClassicProgressBar(DWORD platformId, DWORD major, DWORD minor);

 protected:
  // The transport of the run's service client; tests give one of their own.
  virtual std::unique_ptr<CHttpUpload> CreateTransport();

  BOOL OnInitDialog() override;
  bool OnCommand(WORD id, WORD code, HWND control) override;
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;

 private:
  class CClientPort;
  class CItemsPort;
  class CPromptsPort;

  // A report of the client, waiting for the window's thread.
  struct CRunEvent {
    enum Kind { LogInDone, DirListDone, CreateDirDone, UploadDone, Aborted };
    Kind kind = Aborted;
    int result = 0;
    int albumId = 0;
    bool hasAlbums = false;
    RunAlbumList albums;
  };

  void OnPaint();
  void OnTimer(UINT_PTR id);
  // Grows the window by the progress line, for a run of several files.
  void AddProgressLine();
  void UpdateProgressLine();
  void OnRunEvent();
  // Queues a final report of the request in flight and wakes the window.
  void QueueEvent(CRunEvent event);
  // Marks a request as started; its final report clears the mark.
  void BeginRequest();
  bool IsRequestInFlight() const;
  // Cancels the request in flight, once; the grace period starts then.
  void AbortRequest();
  // After the modal loop: a request still running is cancelled, and its
  // final report awaited until AbortGraceMs after the cancel at most.
  void StopRequest();
  // The run's file at index, or null (outside the run, or removed).
  const CMediaItem* RunItem(int index) const;
  // True when the program is ending: a WM_QUIT waits in this thread's queue
  // (it ends every modal loop, which then returns what it likes), or the
  // window is gone.
  bool IsClosing() const;
  void Repaint();
  // The window prompts and message boxes belong to.
  HWND PromptOwner() const;

  TransferRunState state_;
  std::unique_ptr<CServiceClient> client_;
  CMediaListCtrl* list_ = nullptr;
  // The run's files, taken when it starts; an entry is null once the run
  // removed it from the list.
  std::vector<CMediaItem*> runItems_;
  CUploadRun* run_ = nullptr;
  bool runFinished_ = false;  // the final message was shown and OK posted
  DWORD abortedAt_ = 0;       // tick of the first Abort of a request in flight, or 0
  HWND progress_ = nullptr;
  std::unique_ptr<CRunProgress> runProgress_;
  HWND progressLine_ = nullptr;
  std::string progressLineText_;
  DWORD progressStart_ = 0;
  // The body in flight, for the progress line: its run index (set when its
  // request starts) and the bytes the worker reports.
  std::atomic<int> bodyIndex_{-1};
  std::atomic<long long> bodySent_{0};
  std::atomic<long long> bodyTotal_{0};

  // Shared with the worker threads.
  mutable std::mutex eventLock_;
  std::condition_variable requestEnded_;
  std::deque<CRunEvent> events_;
  HWND eventWindow_ = nullptr;  // set while the window exists
  bool requestInFlight_ = false;
};
