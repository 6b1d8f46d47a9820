// The decisions of one upload run: log in, pick or create the album, shrink
// large pictures, send the files from the last to the first, and report.
// The run talks to the service client, the upload list, the prompts and the
// settings through small ports, so the whole sequence can be tested without
// windows or a network. The transfer dialog implements the ports and calls
// the run's listener operations on its user-interface thread.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class IProfile;

// Message box icons the run uses.
enum RunMessageType : unsigned {
  RunMessageStop = 16,  // MB_ICONSTOP
  RunMessageInfo = 64,  // MB_ICONINFORMATION
};

// Modal results the run reacts to (besides the album dialog's -1 and -2,
// which both lead to the name prompt).
enum RunModalResult { RunModalOk = 1, RunModalCancel = 2 };

// The values the run and the transfer window share. The run changes index,
// successCount and albumId on the user-interface thread; the progress values
// are written by the request's worker thread and only displayed, and the
// status text is guarded because the worker sets "Waiting for Server".
struct TransferRunState {
  int index = -1;  // item in flight; -1 before the first file
  int successCount = 0;
  int albumId = 0;
  std::atomic<int> progressValue{0};
  std::atomic<int> progressTotal{0};

  void SetStatusText(const std::string& text);
  std::string GetStatusText() const;

 private:
  mutable std::mutex statusLock_;
  std::string statusText_;
};

// The service client's commands. Results come back through the run's
// On...Done operations.
class IRunClient {
 public:
  virtual ~IRunClient() = default;
  virtual void LogIn(const std::string& url, const std::string& username,
                     const std::string& password, const std::string& language,
                     const std::string& version) = 0;
  virtual void DirList() = 0;
  virtual void CreateDir(const std::string& name) = 0;
  virtual void Upload(unsigned int albumId, const std::string& filename, const std::string& keyword,
                      const std::string& desc, const std::string& mimeType,
                      const std::string& path) = 0;
  virtual void Abort() = 0;
};

// The upload list as the run sees it; index i is entry i of the list.
class IRunItems {
 public:
  virtual ~IRunItems() = default;
  virtual int Count() const = 0;
  virtual std::string GetName(int index) const = 0;
  virtual std::string GetKeywords(int index) const = 0;
  virtual std::string GetDescription(int index) const = 0;
  virtual bool IsVideo(int index) const = 0;
  virtual bool IsAudio(int index) const = 0;
  virtual int GetWidth(int index) const = 0;
  virtual int GetHeight(int index) const = 0;
  // The current file: a shrunk copy once Resize succeeded.
  virtual std::string GetPath(int index) const = 0;
  // Detected from the current file on every call.
  virtual std::string GetMimeType(int index) const = 0;
  // False when the copy could not be made (memory, disk): the item is then
  // unchanged and goes up in its original size.
  virtual bool Resize(int index, int cx, int cy) = 0;
  // The run is going to shrink the file at index into a box x box square
  // when it gets there (called in the order the files are sent): its copy
  // may be made meanwhile, for Resize to take. False when no more copies
  // may be made ahead for now.
  virtual bool ShrinkAhead(int index, int box) {
    (void)index;
    (void)box;
    return false;
  }
  // Drops the item, its thumbnail and its row.
  virtual void RemoveAt(int index) = 0;
};

// The album selection dialog: filled once, may be run several times.
class IAlbumPrompt {
 public:
  virtual ~IAlbumPrompt() = default;
  virtual void AddAlbum(int id, const std::string& name) = 0;
  // 1 chosen, 2 cancelled, -1 OK without a selection, -2 "New album".
  virtual int DoModal() = 0;
  virtual int GetSelectedAlbumId() const = 0;
};

// Everything the run shows: prompts, message boxes, the status, and the end
// of the dialog.
class IRunPrompts {
 public:
  virtual ~IRunPrompts() = default;
  // The login dialog; it stores the credentials on OK (1) and hands back
  // what was typed, which the run uses even when the password could not be
  // stored.
  virtual int AskLogin(std::string& username, std::string& password) = 0;
  virtual std::unique_ptr<IAlbumPrompt> CreateAlbumPrompt() = 0;
  // The new album name dialog; name receives the text typed on OK (1).
  virtual int AskAlbumName(std::string& name) = 0;
  // The resize prompt; it stores the choice on OK (1).
  virtual int AskResize() = 0;
  virtual void ShowMessage(const std::string& text, unsigned type) = 0;
  // The program is ending: a prompt that just returned was closed by it, not
  // answered by the user, whatever it returned.
  virtual bool IsClosing() = 0;
  // The status text changed: repaint.
  virtual void StatusChanged() = 0;
  // End the dialog with 1 or 2 (posted, so it happens after the current step).
  virtual void PostOk() = 0;
  virtual void PostCancel() = 0;
};

// One album of a DirList answer: id as text, name in the system code page.
using RunAlbumList = std::vector<std::pair<std::string, std::string>>;

class CUploadRun {
 public:
  CUploadRun(TransferRunState& state, IRunClient& client, IRunItems& items, IRunPrompts& prompts,
             IProfile& profile);
  CUploadRun(const CUploadRun&) = delete;
  CUploadRun& operator=(const CUploadRun&) = delete;

  // Reads the credentials (asking for them when one is missing) and sends
  // LogIn. 0 when sent; -1 when the user declined, after the message.
  int StartLogIn();
  // Takes the next file from the back of the list, or finishes the run.
  void UploadNext();
  void SetStatusText(const std::string& text);

  // Display only; these two may run on the request's worker thread.
  void OnUploadProgress(int sent, int total);
  void OnResponseProgress(int received, int available);

  // The steps of the run; called on the user-interface thread, in the order
  // the service client reported them.
  void OnLogInDone(int result);
  void OnDirListDone(const RunAlbumList* albums, int result);
  void OnCreateDirDone(int albumId, int result);
  void OnUploadDone(int result);
  void OnAborted();
  // A result that arrived after the dialog was closed (Esc): a file the
  // service accepted still leaves the list; nothing else happens.
  void OnUploadDoneAfterEnd(int result);

 private:
  void Fail(const char* text);
  // Once no prompt can come any more, names the pictures to shrink from
  // index on (box: the decision for index itself), as far as the list lets.
  void PlanShrinks(int index, int box);
  // After a prompt or message: when the program is ending, the run ends as
  // cancelled, and nothing more is sent or shown.
  bool EndIfClosing();

  TransferRunState& state_;
  IRunClient& client_;
  IRunItems& items_;
  IRunPrompts& prompts_;
  IProfile& profile_;
  bool shrinkFailureShown_ = false;  // told once per run
  int planned_ = -1;                 // files from here on were planned; -1: none yet
};
