// One upload run as its window drives it. Owns the run's service client and
// is its listener. The client reports on the request's worker thread:
// progress only changes display values, so it is taken there; every final
// report is queued and carried to the window thread (the platform's window
// queue), where the run takes its next step (prompts, message boxes, list
// changes, the next request). Reports wait in the queue until the window's
// message loop runs.
//
// The run never waits for a request for long: a cancelled request that does
// not end at once (a write to a server that stopped reading cannot be
// aborted under Wine) is left to end on its own after AbortGraceMs; the
// transport then reports nothing more.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/ports/window_queue.h"
#include "core/run/shrink_ahead.h"
#include "core/run/upload_run.h"
#include "core/service/service_client.h"

class CMediaItem;
class CUploadList;
class IProfile;

class CTransferRun : public IServiceListener {
 public:
  // How long a cancelled request may take to end before the run stops
  // waiting for it.
  static constexpr unsigned AbortGraceMs = 300;
  // How long the end of a run waits for copies still being made ahead (one
  // picture's decode), so that none is left behind by a program that ends.
  static constexpr int ShrinkStopMs = 5000;
  // How long a file waits for its copy being made ahead before it goes up
  // unshrunk (a copy that never comes).
  static constexpr int ShrinkWaitMs = 120000;

  // prompts are the window's; PostOk and PostCancel end its loop.
  CTransferRun(IRunPrompts& prompts, IProfile& profile);
  ~CTransferRun() override;
  CTransferRun(const CTransferRun&) = delete;
  CTransferRun& operator=(const CTransferRun&) = delete;

  TransferRunState& State() { return state_; }
  // The run's files are those the list holds now (index i of the run is
  // item i); files added later are not part of it.
  void TakeItems(CUploadList& list);
  // The run's file at index, or null (outside the run, or removed).
  const CMediaItem* Item(int index) const;
  int ItemCount() const { return static_cast<int>(items_.size()); }
  // The files of the run still in the list (after a finished run, those
  // refused as too big).
  std::vector<CMediaItem*> ItemsLeft() const;

  // Reads the credentials (asking when one is missing) and sends LogIn over
  // the transport. 0 when sent; -1 when the user declined (no request).
  int Start(std::unique_ptr<CHttpUpload> transport);
  // The final message was shown and OK posted.
  bool IsFinished() const { return finished_; }
  bool IsRequestInFlight() const;
  // "Cancel upload": cancels the request in flight and the shrinking ahead;
  // the grace period starts with the first cancel. True when a request was
  // in flight.
  bool Cancel();
  // After the window's loop: a request still running is cancelled and its
  // end awaited until AbortGraceMs after the first cancel at most; then the
  // client is let go, and of what the window did not get to only an
  // accepted file still matters (it leaves the list).
  void Finish();

  // The body in flight, for the progress line: its run index (set when its
  // request starts) and the bytes the worker reports.
  int BodyIndex() const { return bodyIndex_; }
  long long BodySent() const { return bodySent_; }
  long long BodyTotal() const { return bodyTotal_; }

  // IServiceListener, called on the request's worker thread.
  void OnUploadProgress(int sent, int total) override;
  void OnResponseProgress(int received, int available) override;
  void OnLogInDone(int result) override;
  void OnDirListDone(CAlbumList* list, int result) override;
  void OnCreateDirDone(int albumId, int result) override;
  void OnUploadDone(int result) override;
  void OnAborted() override;

 private:
  class CClientPort;
  class CItemsPort;
  class CPromptsTap;

  // A report of the client, waiting for the window's thread.
  struct CRunEvent {
    enum Kind { LogInDone, DirListDone, CreateDirDone, UploadDone, Aborted };
    Kind kind = Aborted;
    int result = 0;
    int albumId = 0;
    bool hasAlbums = false;
    RunAlbumList albums;
  };

  void OnRunEvent();
  void QueueEvent(CRunEvent event);
  // Marks a request as started; its final report clears the mark.
  void BeginRequest();
  // Ends the shrinking ahead, waiting up to ShrinkStopMs for a copy being
  // made (a later call only waits again for such a copy).
  void StopShrinkingAhead();

  IRunPrompts& prompts_;
  IProfile& profile_;
  TransferRunState state_;
  CUploadList* list_ = nullptr;
  // The run's files; an entry is null once the run removed it from the list.
  std::vector<CMediaItem*> items_;
  std::unique_ptr<CClientPort> clientPort_;
  std::unique_ptr<CItemsPort> itemsPort_;
  std::unique_ptr<CPromptsTap> promptsTap_;
  std::unique_ptr<CUploadRun> run_;
  std::unique_ptr<CServiceClient> client_;
  // Copies of the next pictures, made while the current file is sent.
  std::unique_ptr<quib::CShrinkAhead> shrinks_;
  std::unique_ptr<quib::IWindowQueue> queue_;
  bool finished_ = false;
  uint64_t abortedAt_ = 0;  // clock of the first cancel of a request in flight, or 0
  std::atomic<int> bodyIndex_{-1};
  std::atomic<long long> bodySent_{0};
  std::atomic<long long> bodyTotal_{0};

  // Shared with the worker threads.
  mutable std::mutex eventLock_;
  std::condition_variable requestEnded_;
  std::deque<CRunEvent> events_;
  bool requestInFlight_ = false;
};
