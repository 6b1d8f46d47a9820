// What a caller of the service client hears back: one listener per client,
// called on the worker thread of the request concerned.
#pragma once

class CAlbumList;

// Results of the service commands: 0 or a negative refusal or failure.
enum ServiceResult {
  ResultOk = 0,
  ResultBadLogin = -1,         // LogIn refused ('2')
  ResultFailed = -2,           // transport failure or unknown status digit
  ResultNoAlbums = -3,         // DirList refused ('2')
  ResultNoSpace = -4,          // Upload refused: no space left ('2')
  ResultTooBig = -5,           // Upload refused: file too big ('3')
  ResultAlbumNotCreated = -6,  // CreateDir refused ('2')
};

class IServiceListener {
 public:
  virtual ~IServiceListener() = default;
  // Request body of an Upload advanced: bytes sent so far, body length.
  virtual void OnUploadProgress(int sent, int total) = 0;
  // Answer of an Upload being read: bytes so far, bytes available now.
  virtual void OnResponseProgress(int received, int available) = 0;
  virtual void OnLogInDone(int result) = 0;
  // On success the listener owns the list and deletes it; null on failure.
  virtual void OnDirListDone(CAlbumList* list, int result) = 0;
  // albumId is 0 on failure.
  virtual void OnCreateDirDone(int albumId, int result) = 0;
  virtual void OnUploadDone(int result) = 0;
  // The request in flight was cancelled (any command); no done-call follows.
  virtual void OnAborted() = 0;
};
