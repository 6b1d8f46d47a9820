// The upload run against fakes of the client, the list, the prompts and the
// settings. Every fake writes into one log, so the tests see the exact order
// of requests, prompts, messages and the end of the dialog.
#include "core/run/upload_run.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core/settings/memory_profile.h"
#include "core/settings/profile.h"
#include "core/service/service_urls.h"

namespace {

using Log = std::vector<std::string>;

struct FakeItem {
  std::string name;
  std::string path;
  int width = 0;
  int height = 0;
  bool video = false;
  bool audio = false;
  std::string keywords;
  std::string description;
};

class FakeClient : public IRunClient {
 public:
  explicit FakeClient(Log& log) : log_(log) {}
  void LogIn(const std::string& url, const std::string& username, const std::string& password,
             const std::string& language, const std::string& version) override {
    log_.push_back("LogIn " + url + " " + username + " " + password + " " + language + " " +
                   version);
  }
  void DirList() override { log_.push_back("DirList"); }
  void CreateDir(const std::string& name) override { log_.push_back("CreateDir " + name); }
  void Upload(unsigned int albumId, const std::string& filename, const std::string& keyword,
              const std::string& desc, const std::string& mimeType,
              const std::string& path) override {
    log_.push_back("Upload " + std::to_string(albumId) + " " + filename + " [" + keyword + "] [" +
                   desc + "] " + mimeType + " " + path);
  }
  void Abort() override { log_.push_back("Abort"); }

 private:
  Log& log_;
};

class FakeItems : public IRunItems {
 public:
  explicit FakeItems(Log& log) : log_(log) {}
  std::vector<FakeItem> items;

  int Count() const override { return static_cast<int>(items.size()); }
  std::string GetName(int i) const override { return At(i).name; }
  std::string GetKeywords(int i) const override { return At(i).keywords; }
  std::string GetDescription(int i) const override { return At(i).description; }
  bool IsVideo(int i) const override { return At(i).video; }
  bool IsAudio(int i) const override { return At(i).audio; }
  int GetWidth(int i) const override { return At(i).width; }
  int GetHeight(int i) const override { return At(i).height; }
  std::string GetPath(int i) const override { return At(i).path; }
  std::string GetMimeType(int i) const override {
    const std::string& p = At(i).path;
    if (At(i).video) return "video/avi";
    if (At(i).audio) return "audio/mpeg";
    if (p.size() > 4 && p.compare(p.size() - 4, 4, ".png") == 0) return "image/x-png";
    return "image/jpeg";
  }
  // Names whose copy cannot be made (memory or disk ran out).
  std::set<std::string> failResize;

  // Copies that may be made ahead at once (none: the run shrinks each file
  // just before sending it); a copy planned ahead leaves with its Resize.
  int aheadRoom = 0;
  std::set<int> ahead;
  bool ShrinkAhead(int i, int box) override {
    if (aheadRoom == 0) return false;
    --aheadRoom;
    ahead.insert(i);
    log_.push_back("Ahead " + At(i).name + " " + std::to_string(box));
    return true;
  }

  // Like the media item: a JPEG copy of the box's size in the temp folder.
  bool Resize(int i, int cx, int cy) override {
    if (ahead.erase(i)) ++aheadRoom;
    log_.push_back("Resize " + At(i).name + " " + std::to_string(cx) + "x" + std::to_string(cy));
    if (failResize.count(At(i).name)) return false;
    FakeItem& item = items.at(static_cast<size_t>(i));
    item.path = "C:\\Temp\\NEW" + std::to_string(i) + ".tmp";
    const int box = cx > cy ? cx : cy;
    if (item.width >= item.height) {
      item.height = static_cast<int>(static_cast<long long>(item.height) * box / item.width);
      item.width = box;
    } else {
      item.width = static_cast<int>(static_cast<long long>(item.width) * box / item.height);
      item.height = box;
    }
    return true;
  }
  void RemoveAt(int i) override {
    log_.push_back("RemoveAt " + std::to_string(i));
    items.erase(items.begin() + i);
  }

 private:
  const FakeItem& At(int i) const { return items.at(static_cast<size_t>(i)); }
  Log& log_;
};

class FakeAlbumPrompt : public IAlbumPrompt {
 public:
  FakeAlbumPrompt(Log& log, std::deque<int>& results, int selectedId)
      : log_(log), results_(results), selectedId_(selectedId) {}
  void AddAlbum(int id, const std::string& name) override {
    log_.push_back("AddAlbum " + std::to_string(id) + " " + name);
  }
  int DoModal() override {
    if (onShow) onShow();
    EXPECT_FALSE(results_.empty()) << "album dialog shown more often than scripted";
    const int r = results_.empty() ? 2 : results_.front();
    if (!results_.empty()) results_.pop_front();
    log_.push_back("AlbumDialog -> " + std::to_string(r));
    return r;
  }
  int GetSelectedAlbumId() const override { return selectedId_; }
  std::function<void()> onShow;

 private:
  Log& log_;
  std::deque<int>& results_;
  int selectedId_;
};

class FakePrompts : public IRunPrompts {
 public:
  FakePrompts(Log& log, CMemoryProfile& profile) : log_(log), profile_(profile) {}

  // Scripted answers.
  int loginResult = 1;
  std::string loginUser = "anna";
  std::string loginPassword = "secret";
  std::deque<int> albumResults;
  int selectedAlbumId = 0;
  std::deque<std::pair<int, std::string>> nameResults;
  // Each resize prompt: its result and the "ResizeImage" it stores on OK.
  std::deque<std::pair<int, int>> resizeResults;

  TransferRunState* state = nullptr;
  // The prompt ("Login", "Album", "Name", "Resize" or "Message") during which
  // the program is told to end; it returns its scripted result all the same.
  std::string closeAt;
  bool closing = false;

  // Like the login dialog: stores what was typed and hands it back.
  int AskLogin(std::string& username, std::string& password) override {
    CloseIf("Login");
    log_.push_back("LoginDialog -> " + std::to_string(loginResult));
    if (loginResult == 1) {
      profile_.WriteString(ProfileSectionSettings, ProfileUsername, loginUser);
      WritePassword(profile_, loginPassword);
      profile_.WriteInt(ProfileSectionSettings, ProfileAskFolder, 1);
      username = loginUser;
      password = loginPassword;
    }
    return loginResult;
  }
  std::unique_ptr<IAlbumPrompt> CreateAlbumPrompt() override {
    auto prompt = std::make_unique<FakeAlbumPrompt>(log_, albumResults, selectedAlbumId);
    prompt->onShow = [this] { CloseIf("Album"); };
    return prompt;
  }
  int AskAlbumName(std::string& name) override {
    CloseIf("Name");
    EXPECT_FALSE(nameResults.empty()) << "name dialog shown more often than scripted";
    if (nameResults.empty()) return 2;
    auto r = nameResults.front();
    nameResults.pop_front();
    name = r.second;
    log_.push_back("NameDialog -> " + std::to_string(r.first));
    return r.first;
  }
  int AskResize() override {
    CloseIf("Resize");
    EXPECT_FALSE(resizeResults.empty()) << "resize prompt shown more often than scripted";
    if (resizeResults.empty()) return 2;
    auto r = resizeResults.front();
    resizeResults.pop_front();
    log_.push_back("ResizePrompt -> " + std::to_string(r.first));
    if (r.first == 1) profile_.WriteInt(ProfileSectionSettings, ProfileResizeImage, r.second);
    return r.first;
  }
  void ShowMessage(const std::string& text, unsigned type) override {
    CloseIf("Message");
    log_.push_back("Message " + std::to_string(type) + " " + text);
  }
  bool IsClosing() override { return closing; }
  void CloseIf(const std::string& prompt) {
    if (prompt == closeAt) closing = true;
  }
  void StatusChanged() override {
    log_.push_back("Status " + (state ? state->GetStatusText() : std::string("?")));
  }
  void PostOk() override { log_.push_back("PostOk"); }
  void PostCancel() override { log_.push_back("PostCancel"); }

 private:
  Log& log_;
  CMemoryProfile& profile_;
};

class UploadRunTest : public ::testing::Test {
 protected:
  UploadRunTest() {
    prompts.state = &state;
    profile.WriteString(ProfileSectionSettings, ProfileUsername, "anna");
    profile.WriteString(ProfileSectionSettings, ProfilePassword, "secret");
  }

  void AddPicture(const std::string& name, int w, int h) {
    items.items.push_back({name, "C:\\Pics\\" + name, w, h, false, false, "", ""});
  }
  void AddMovie(const std::string& name) {
    items.items.push_back({name, "C:\\Pics\\" + name, 0, 0, true, false, "", ""});
  }
  // Runs up to the first upload with the public inbox.
  void StartToInbox() {
    profile.WriteInt(ProfileSectionSettings, ProfileAskFolder, 0);
    ASSERT_EQ(run.StartLogIn(), 0);
    run.OnLogInDone(0);
  }
  // The log from entry n on.
  Log From(size_t n) const { return Log(log.begin() + static_cast<long>(n), log.end()); }

  Log log;
  CMemoryProfile profile;
  TransferRunState state;
  FakeClient client{log};
  FakeItems items{log};
  FakePrompts prompts{log, profile};
  CUploadRun run{state, client, items, prompts, profile};
};

const std::string kLogIn = "LogIn " QUIB_LOGIN_URL " anna secret DE 1.0";

TEST_F(UploadRunTest, ThreeFilesGoLastFirstIntoTheChosenAlbum) {
  AddPicture("first.jpg", 200, 100);
  AddPicture("second.jpg", 200, 100);
  AddPicture("third.jpg", 200, 100);
  items.items[2].keywords = "sea";
  items.items[2].description = "the beach";
  prompts.albumResults = {1};
  prompts.selectedAlbumId = 3;

  ASSERT_EQ(run.StartLogIn(), 0);
  EXPECT_EQ(log, (Log{"Status LogIn", kLogIn}));
  EXPECT_EQ(state.index, -1);

  run.OnLogInDone(0);
  EXPECT_EQ(state.progressValue, 0);
  EXPECT_EQ(state.progressTotal, 100);
  const RunAlbumList albums{{"7", "Holiday"}, {"3", "Work"}, {"x", "Odd"}};
  run.OnDirListDone(&albums, 0);
  run.OnUploadProgress(50, 100);
  EXPECT_EQ(state.GetStatusText(), "Uploading");
  run.OnUploadProgress(100, 100);
  run.OnResponseProgress(3, 7);
  EXPECT_EQ(state.progressValue, 3);
  EXPECT_EQ(state.progressTotal, 7);
  run.OnUploadDone(0);
  run.OnUploadDone(0);
  run.OnUploadDone(0);

  EXPECT_EQ(From(2), (Log{
                         "Status Loading Albums",
                         "DirList",
                         "AddAlbum 7 Holiday",
                         "AddAlbum 3 Work",
                         "AddAlbum 0 Odd",
                         "AlbumDialog -> 1",
                         "Status Uploading",
                         "Upload 3 third.jpg [sea] [the beach] image/jpeg C:\\Pics\\third.jpg",
                         "Status Waiting for Server",
                         "RemoveAt 2",
                         "Status Uploading",
                         "Upload 3 second.jpg [] [] image/jpeg C:\\Pics\\second.jpg",
                         "RemoveAt 1",
                         "Status Uploading",
                         "Upload 3 first.jpg [] [] image/jpeg C:\\Pics\\first.jpg",
                         "RemoveAt 0",
                         "Message 64 3 file(s) successfully uploaded.",
                         "PostOk",
                     }));
  EXPECT_TRUE(items.items.empty());
  EXPECT_EQ(state.successCount, 3);
}

TEST_F(UploadRunTest, TooBigFileIsNamedSkippedAndKept) {
  AddPicture("first.jpg", 10, 10);
  AddPicture("a very long holiday name.jpg", 10, 10);
  AddPicture("third.jpg", 10, 10);
  StartToInbox();
  run.OnUploadDone(0);
  const size_t mark = log.size();
  run.OnUploadDone(-5);
  EXPECT_EQ(From(mark), (Log{
                            "Message 16 'a very long holiday name.jpg' is too big for upload.",
                            "Status Uploading",
                            "Upload 0 first.jpg [] [] image/jpeg C:\\Pics\\first.jpg",
                        }));
  run.OnUploadDone(0);
  EXPECT_EQ(log.back(), "PostOk");
  EXPECT_EQ(log[log.size() - 2], "Message 64 2 file(s) successfully uploaded.");
  ASSERT_EQ(items.items.size(), 1u);
  EXPECT_EQ(items.items[0].name, "a very long holiday name.jpg");
}

TEST_F(UploadRunTest, EveryFileTooBigStillEndsWithOk) {
  AddPicture("a.jpg", 10, 10);
  AddPicture("b.jpg", 10, 10);
  StartToInbox();
  run.OnUploadDone(-5);
  run.OnUploadDone(-5);
  EXPECT_EQ(From(log.size() - 2), (Log{"Message 64 0 file(s) successfully uploaded.", "PostOk"}));
  EXPECT_EQ(items.items.size(), 2u);
}

TEST_F(UploadRunTest, CancelDuringSecondUploadKeepsTheRest) {
  AddPicture("first.jpg", 10, 10);
  AddPicture("second.jpg", 10, 10);
  AddPicture("third.jpg", 10, 10);
  StartToInbox();
  run.OnUploadDone(0);
  const size_t mark = log.size();
  run.OnAborted();
  EXPECT_EQ(From(mark), (Log{"PostCancel"}));
  ASSERT_EQ(items.items.size(), 2u);
  EXPECT_EQ(items.items[0].name, "first.jpg");
  EXPECT_EQ(items.items[1].name, "second.jpg");
  EXPECT_EQ(state.successCount, 1);
}

TEST_F(UploadRunTest, PublicInboxSkipsTheAlbumList) {
  AddPicture("a.jpg", 10, 10);
  StartToInbox();
  EXPECT_EQ(log, (Log{"Status LogIn", kLogIn, "Status Uploading",
                      "Upload 0 a.jpg [] [] image/jpeg C:\\Pics\\a.jpg"}));
  // Any non-zero value asks for the album.
  Log log2;
  CMemoryProfile profile2;
  profile2.WriteString(ProfileSectionSettings, ProfileUsername, "u");
  profile2.WriteString(ProfileSectionSettings, ProfilePassword, "p");
  profile2.WriteInt(ProfileSectionSettings, ProfileAskFolder, 5);
  FakeClient client2(log2);
  FakePrompts prompts2(log2, profile2);
  CUploadRun run2(state, client2, items, prompts2, profile2);
  run2.OnLogInDone(0);
  EXPECT_EQ(log2.back(), "DirList");
}

TEST_F(UploadRunTest, TextsAreSentAsUtf8) {
  // Every text of the program is UTF-8 and goes out as it is.
  profile.WriteString(ProfileSectionSettings, ProfileUsername, "J\xC3\xA9r\xC3\xB4me");
  profile.WriteString(ProfileSectionSettings, ProfilePassword, "\xE2\x82\xACuro");
  AddPicture("caf\xC3\xA9.jpg", 10, 10);
  items.items[0].keywords = "\xC3\xBC";
  prompts.albumResults = {-2};
  prompts.nameResults = {{1, "F\xC3\xAAte"}};
  ASSERT_EQ(run.StartLogIn(), 0);
  EXPECT_EQ(log[1], "LogIn " QUIB_LOGIN_URL " J\xC3\xA9r\xC3\xB4me \xE2\x82\xACuro DE 1.0");
  run.OnLogInDone(0);
  const RunAlbumList none;
  run.OnDirListDone(&none, 0);
  EXPECT_EQ(log.back(), "CreateDir F\xC3\xAAte");
  run.OnCreateDirDone(17, 0);
  EXPECT_EQ(log.back(),
            "Upload 17 caf\xC3\xA9.jpg [\xC3\xBC] [] image/jpeg C:\\Pics\\caf\xC3\xA9.jpg");
}

struct ResizeCase {
  int width;
  int height;
  int resizeImage;  // 0: leave unset (default 3)
  int askResize;    // -1: leave unset (default 1)
  bool prompts;
  int promptResult;
  int promptStores;
  int box;  // 0: sent unchanged
};

TEST_F(UploadRunTest, ResizeThresholdsAndPromptOutcomes) {
  const ResizeCase cases[] = {
      {640, 480, 1, -1, false, 0, 0, 0},      // exactly 640 x 480: never shrunk
      {640, 480, 0, -1, false, 0, 0, 0},      // ... and never prompted
      {641, 480, 0, -1, true, 2, 0, 0},       // prompt cancelled: unchanged
      {641, 480, 0, -1, true, 1, 3, 0},       // "Don't resize!"
      {641, 480, 0, -1, true, 1, 1, 640},     // small chosen in the prompt
      {641, 480, 0, -1, true, 1, 2, 0},       // medium chosen, but below 1024 x 768
      {3000, 2000, 0, -1, true, 1, 2, 1024},  // medium chosen, above 1024 x 768
      {641, 480, 1, -1, false, 0, 0, 640},    // small
      {480, 641, 1, -1, false, 0, 0, 640},    // either orientation
      {1024, 768, 2, -1, false, 0, 0, 0},     // medium: exactly 1024 x 768 stays
      {1025, 768, 2, -1, false, 0, 0, 1024},  // medium: one column more
      {800, 600, 2, -1, false, 0, 0, 0},      // medium: neither shrunk nor prompted
      {1000, 700, 1, -1, false, 0, 0, 640},   // 700,000 pixels into the small box
      {3000, 2000, 3, 0, false, 0, 0, 0},     // "Don't ask in future."
      {3000, 2000, 3, 2, false, 0, 0, 0},     // only exactly 1 asks
      {3000, 2000, 7, -1, false, 0, 0, 0},    // unknown choice: neither
  };
  for (const ResizeCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " ResizeImage " +
                 std::to_string(c.resizeImage) + " AskResize " + std::to_string(c.askResize) +
                 " prompt " + std::to_string(c.promptResult) + "/" +
                 std::to_string(c.promptStores));
    Log runLog;
    CMemoryProfile p;
    if (c.resizeImage) p.WriteInt(ProfileSectionSettings, ProfileResizeImage, c.resizeImage);
    if (c.askResize >= 0) p.WriteInt(ProfileSectionSettings, ProfileAskResize, c.askResize);
    TransferRunState s;
    FakeClient cl(runLog);
    FakeItems it(runLog);
    it.items.push_back({"p.jpg", "C:\\Pics\\p.png", c.width, c.height, false, false, "", ""});
    FakePrompts pr(runLog, p);
    pr.state = &s;
    if (c.prompts) pr.resizeResults = {{c.promptResult, c.promptStores}};
    CUploadRun r(s, cl, it, pr, p);
    r.OnLogInDone(0);  // no AskFolder stored: DirList
    r.OnCreateDirDone(4, 0);

    Log expected;
    if (c.prompts) expected.push_back("ResizePrompt -> " + std::to_string(c.promptResult));
    if (c.box) {
      expected.push_back("Resize p.jpg " + std::to_string(c.box) + "x" + std::to_string(c.box));
    }
    expected.push_back("Status Uploading");
    // A shrunk picture goes as its JPEG copy, with the copy's type.
    expected.push_back(c.box ? "Upload 4 p.jpg [] [] image/jpeg C:\\Temp\\NEW0.tmp"
                             : "Upload 4 p.jpg [] [] image/x-png C:\\Pics\\p.png");
    EXPECT_EQ(Log(runLog.begin() + 2, runLog.end()), expected);
    EXPECT_TRUE(pr.resizeResults.empty());
  }
}

TEST_F(UploadRunTest, CancelledPromptAsksAgainAndMoviesNeverPrompt) {
  AddPicture("small.jpg", 3000, 2000);
  AddMovie("clip.avi");
  AddPicture("big.jpg", 3000, 2000);
  items.items.push_back({"song.mp3", "C:\\Pics\\song.mp3", 0, 0, false, true, "", ""});
  prompts.resizeResults = {{2, 0}, {1, 1}};
  StartToInbox();
  run.OnUploadDone(0);  // song.mp3: no prompt
  run.OnUploadDone(0);  // big.jpg: prompt cancelled, sent unchanged
  run.OnUploadDone(0);  // clip.avi: no prompt
  Log uploads;
  for (const std::string& line : log) {
    if (line.rfind("Upload", 0) == 0 || line.rfind("Resize", 0) == 0) uploads.push_back(line);
  }
  EXPECT_EQ(uploads, (Log{
                         "Upload 0 song.mp3 [] [] audio/mpeg C:\\Pics\\song.mp3",
                         "ResizePrompt -> 2",
                         "Upload 0 big.jpg [] [] image/jpeg C:\\Pics\\big.jpg",
                         "Upload 0 clip.avi [] [] video/avi C:\\Pics\\clip.avi",
                         "ResizePrompt -> 1",
                         "Resize small.jpg 640x640",
                         "Upload 0 small.jpg [] [] image/jpeg C:\\Temp\\NEW0.tmp",
                     }));
  EXPECT_EQ(items.items[0].width, 640);
  EXPECT_EQ(items.items[0].height, 426);
}

TEST_F(UploadRunTest, AlbumAndNamePromptLoop) {
  AddPicture("a.jpg", 10, 10);
  // New album, name cancelled; OK on an empty list, empty name; then cancel.
  prompts.albumResults = {-2, -1, 2};
  prompts.nameResults = {{2, "ignored"}, {1, ""}};
  run.StartLogIn();
  run.OnLogInDone(0);
  const RunAlbumList none;
  const size_t mark = log.size();
  run.OnDirListDone(&none, 0);
  EXPECT_EQ(From(mark), (Log{"AlbumDialog -> -2", "NameDialog -> 2", "AlbumDialog -> -1",
                             "NameDialog -> 1", "AlbumDialog -> 2", "PostCancel"}));
  EXPECT_EQ(items.items.size(), 1u);
}

TEST_F(UploadRunTest, NewAlbumReceivesTheFiles) {
  AddPicture("a.jpg", 10, 10);
  prompts.albumResults = {-2};
  prompts.nameResults = {{1, " "}};  // blanks are a name
  run.StartLogIn();
  run.OnLogInDone(0);
  const RunAlbumList albums{{"5", "Old"}};
  run.OnDirListDone(&albums, 0);
  EXPECT_EQ(From(log.size() - 2), (Log{"Status Creating Album", "CreateDir  "}));
  run.OnCreateDirDone(42, 0);
  EXPECT_EQ(log.back(), "Upload 42 a.jpg [] [] image/jpeg C:\\Pics\\a.jpg");
}

TEST_F(UploadRunTest, MissingCredentialsAskFirst) {
  // A stored password alone is not enough.
  profile.WriteString(ProfileSectionSettings, ProfileUsername, "");
  profile.WriteInt(ProfileSectionSettings, ProfileAskFolder, 0);
  prompts.loginUser = "bob";
  prompts.loginPassword = "pw";
  ASSERT_EQ(run.StartLogIn(), 0);
  EXPECT_EQ(log,
            (Log{"LoginDialog -> 1", "Status LogIn", "LogIn " QUIB_LOGIN_URL " bob pw DE 1.0"}));
  // Confirming the login dialog asks for the album again.
  run.OnLogInDone(0);
  EXPECT_EQ(log.back(), "DirList");

  // A password the system cannot protect is not stored, yet this run logs
  // in with it; the next run asks again.
  log.clear();
  profile.WriteString(ProfileSectionSettings, ProfileUsername, "");
  profile.FailProtectedWrites(true);
  CUploadRun second(state, client, items, prompts, profile);
  ASSERT_EQ(second.StartLogIn(), 0);
  EXPECT_EQ(log,
            (Log{"LoginDialog -> 1", "Status LogIn", "LogIn " QUIB_LOGIN_URL " bob pw DE 1.0"}));
  EXPECT_EQ(ReadPassword(profile), "");
}

TEST_F(UploadRunTest, RefusedLoginPromptEndsBeforeAnyRequest) {
  profile.WriteString(ProfileSectionSettings, ProfilePassword, "");
  prompts.loginResult = 2;
  AddPicture("a.jpg", 10, 10);
  EXPECT_EQ(run.StartLogIn(), -1);
  // No status, no request, no posted end: the dialog is never shown.
  EXPECT_EQ(log, (Log{"LoginDialog -> 2",
                      "Message 16 You need valid username and password to upload files."}));
  EXPECT_EQ(profile.GetString(ProfileSectionSettings, ProfilePassword), "");
}

TEST_F(UploadRunTest, EveryFailureHasItsMessageAndEndsTheRun) {
  struct Failure {
    const char* step;
    int result;
    const char* message;
  };
  const Failure failures[] = {
      {"LogIn", -1, "You need valid username and password to upload files."},
      {"LogIn", -2, "An unknown error occured."},
      {"LogIn", -3, "An unknown error occured."},
      {"DirList", -3, "Could not get albums from server."},
      {"DirList", -2, "An unknown error occured."},
      {"CreateDir", -6, "The album could not be created."},
      {"CreateDir", -2, "An unknown error occured."},
      {"Upload", -4, "There is not enough space left on the server."},
      {"Upload", -2, "An unknown error occured."},
      {"Upload", -6, "An unknown error occured."},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(std::string(f.step) + " " + std::to_string(f.result));
    Log runLog;
    CMemoryProfile p;
    p.WriteString(ProfileSectionSettings, ProfileUsername, "u");
    p.WriteString(ProfileSectionSettings, ProfilePassword, "p");
    TransferRunState s;
    FakeClient cl(runLog);
    FakeItems it(runLog);
    it.items.push_back({"a.jpg", "C:\\a.jpg", 10, 10, false, false, "", ""});
    it.items.push_back({"b.jpg", "C:\\b.jpg", 10, 10, false, false, "", ""});
    FakePrompts pr(runLog, p);
    pr.albumResults = {-2};
    pr.nameResults = {{1, "New"}};
    CUploadRun r(s, cl, it, pr, p);
    const std::string step = f.step;
    if (step == "LogIn") {
      r.OnLogInDone(f.result);
    } else if (step == "DirList") {
      r.OnLogInDone(0);
      r.OnDirListDone(nullptr, f.result);
    } else if (step == "CreateDir") {
      r.OnLogInDone(0);
      const RunAlbumList none;
      r.OnDirListDone(&none, 0);
      r.OnCreateDirDone(0, f.result);
    } else {
      r.OnLogInDone(0);
      const RunAlbumList none;
      r.OnDirListDone(&none, 0);
      r.OnCreateDirDone(9, 0);
      r.OnUploadDone(f.result);
    }
    ASSERT_GE(runLog.size(), 2u);
    EXPECT_EQ(Log(runLog.end() - 2, runLog.end()),
              (Log{std::string("Message 16 ") + f.message, "PostCancel"}));
    EXPECT_EQ(it.items.size(), 2u);
  }
}

TEST_F(UploadRunTest, AbortInAnyStateEndsWithCancelOnly) {
  AddPicture("a.jpg", 10, 10);
  run.StartLogIn();
  const size_t mark = log.size();
  run.OnAborted();
  EXPECT_EQ(From(mark), (Log{"PostCancel"}));
}

TEST_F(UploadRunTest, ResultAfterTheDialogClosedOnlyDropsAnAcceptedFile) {
  AddPicture("a.jpg", 10, 10);
  AddPicture("b.jpg", 10, 10);
  StartToInbox();
  const size_t mark = log.size();
  run.OnUploadDoneAfterEnd(-5);
  EXPECT_EQ(From(mark), Log{});
  run.OnUploadDoneAfterEnd(0);
  // No next file, no message, no posted end.
  EXPECT_EQ(From(mark), (Log{"RemoveAt 1"}));
  ASSERT_EQ(items.items.size(), 1u);
  EXPECT_EQ(items.items[0].name, "a.jpg");
  EXPECT_EQ(state.successCount, 1);
}

TEST_F(UploadRunTest, EmptyListFinishesWithoutTouchingItems) {
  StartToInbox();
  EXPECT_EQ(From(2), (Log{"Message 64 0 file(s) successfully uploaded.", "PostOk"}));
  EXPECT_EQ(state.index, 0);
}

// "-stop" or the end of the Windows session while a prompt of the run is
// open ends that prompt's modal loop, which may then return OK (Wine's loop
// does) with nothing chosen. Whatever it returns, the run ends as cancelled:
// nothing more is sent, shrunk or shown.
TEST_F(UploadRunTest, PromptEndedByTheClosingProgramCountsAsCancel) {
  struct Case {
    const char* prompt;
    Log tail;  // the log from the prompt on
  };
  const Case cases[] = {
      {"Album", {"AlbumDialog -> 1", "PostCancel"}},
      {"Name", {"AlbumDialog -> -2", "NameDialog -> 1", "PostCancel"}},
      {"Resize", {"ResizePrompt -> 1", "PostCancel"}},
      {"Message", {"Message 16 'big.jpg' is too big for upload.", "PostCancel"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prompt);
    Log runLog;
    CMemoryProfile p;
    p.WriteString(ProfileSectionSettings, ProfileUsername, "u");
    p.WriteString(ProfileSectionSettings, ProfilePassword, "p");
    TransferRunState s;
    FakeClient cl(runLog);
    FakeItems it(runLog);
    it.items.push_back({"first.jpg", "C:\\first.jpg", 10, 10, false, false, "", ""});
    it.items.push_back({"big.jpg", "C:\\big.jpg", 3000, 2000, false, false, "", ""});
    FakePrompts pr(runLog, p);
    pr.state = &s;
    pr.closeAt = c.prompt;
    pr.albumResults = {c.prompt == std::string("Name") ? -2 : 1};
    pr.selectedAlbumId = 0;  // nothing chosen: the public inbox
    pr.nameResults = {{1, "New"}};
    pr.resizeResults = {{1, 1}};
    CUploadRun r(s, cl, it, pr, p);
    r.OnLogInDone(0);
    const RunAlbumList albums{{"5", "Holiday"}};
    if (c.prompt == std::string("Message")) {
      // Straight to the uploads: big.jpg goes first and is refused.
      p.WriteInt(ProfileSectionSettings, ProfileResizeImage, 3);
      p.WriteInt(ProfileSectionSettings, ProfileAskResize, 0);
      r.OnDirListDone(&albums, 0);
      r.OnUploadDone(-5);
    } else {
      r.OnDirListDone(&albums, 0);
    }
    size_t from = 0;
    while (from < runLog.size() && runLog[from] != c.tail.front()) ++from;
    EXPECT_EQ(Log(runLog.begin() + static_cast<long>(std::min(from, runLog.size())), runLog.end()),
              c.tail);
    // The prompt did not lead to a request, a shrunk copy or a file removed.
    for (size_t i = from; i < runLog.size(); ++i) {
      EXPECT_NE(runLog[i].rfind("Upload", 0), 0u) << runLog[i];
      EXPECT_NE(runLog[i].rfind("CreateDir", 0), 0u) << runLog[i];
      EXPECT_NE(runLog[i].rfind("Resize ", 0), 0u) << runLog[i];
    }
    EXPECT_EQ(it.items.size(), 2u);
  }
}

TEST_F(UploadRunTest, LoginPromptEndedByTheClosingProgramSendsNothing) {
  profile.WriteString(ProfileSectionSettings, ProfilePassword, "");
  prompts.closeAt = "Login";
  prompts.loginResult = 1;  // stored nothing a user typed, returned OK
  AddPicture("a.jpg", 10, 10);
  EXPECT_EQ(run.StartLogIn(), -1);
  // No message either: the program is on its way out.
  EXPECT_EQ(log, (Log{"LoginDialog -> 1"}));
}

}  // namespace

// A shrink that fails (memory, disk) is a shrink not done: the picture goes
// up unchanged, and the user hears of it once in the run, not per picture.
TEST_F(UploadRunTest, AFailedShrinkUploadsTheOriginalAndTellsOnce) {
  profile.WriteInt(ProfileSectionSettings, ProfileResizeImage, 2);
  AddPicture("c.jpg", 3000, 2000);
  AddPicture("b.jpg", 3000, 2000);
  AddPicture("a.jpg", 3000, 2000);
  items.failResize = {"a.jpg", "c.jpg"};
  StartToInbox();
  run.OnUploadDone(0);
  run.OnUploadDone(0);
  run.OnUploadDone(0);
  Log seen;
  for (const std::string& line : log) {
    if (line.rfind("Upload", 0) == 0 || line.rfind("Resize", 0) == 0 ||
        line.rfind("Message", 0) == 0)
      seen.push_back(line);
  }
  EXPECT_EQ(seen, (Log{
                      "Resize a.jpg 1024x1024",
                      "Message 64 \"a.jpg\" could not be shrunk (not enough memory or disk "
                      "space). It is uploaded in its original size, as is any other picture of "
                      "this upload that cannot be shrunk.",
                      "Upload 0 a.jpg [] [] image/jpeg C:\\Pics\\a.jpg",
                      "Resize b.jpg 1024x1024",
                      "Upload 0 b.jpg [] [] image/jpeg C:\\Temp\\NEW1.tmp",
                      "Resize c.jpg 1024x1024",
                      "Upload 0 c.jpg [] [] image/jpeg C:\\Pics\\c.jpg",
                      "Message 64 3 file(s) successfully uploaded.",
                  }));
}

// Copies are asked for ahead only once no prompt can come any more, in the
// order the files are sent, skipping what is not shrunk, as far as the list
// has room; each then goes up as its own Resize made it.
TEST_F(UploadRunTest, ShrinksAreAskedAheadAfterThePromptInSendingOrder) {
  AddPicture("a.jpg", 3000, 2000);
  AddMovie("clip.avi");
  AddPicture("small.jpg", 600, 400);
  AddPicture("b.jpg", 3000, 2000);
  AddPicture("c.jpg", 2000, 3000);
  AddPicture("d.jpg", 3000, 2000);
  items.aheadRoom = 2;
  // d: "Don't resize!"; c: medium, which holds for the rest.
  prompts.resizeResults = {{1, 3}, {1, 2}};
  StartToInbox();
  for (int i = 0; i < 5; ++i) run.OnUploadDone(0);
  Log seen;
  for (const std::string& line : log) {
    if (line.rfind("Upload", 0) == 0 || line.rfind("Resize", 0) == 0 || line.rfind("Ahead", 0) == 0)
      seen.push_back(line);
  }
  EXPECT_EQ(seen, (Log{
                      "ResizePrompt -> 1",
                      "Upload 0 d.jpg [] [] image/jpeg C:\\Pics\\d.jpg",
                      "ResizePrompt -> 1",
                      "Ahead c.jpg 1024",
                      "Ahead b.jpg 1024",
                      "Resize c.jpg 1024x1024",
                      "Upload 0 c.jpg [] [] image/jpeg C:\\Temp\\NEW4.tmp",
                      "Ahead a.jpg 1024",
                      "Resize b.jpg 1024x1024",
                      "Upload 0 b.jpg [] [] image/jpeg C:\\Temp\\NEW3.tmp",
                      "Upload 0 small.jpg [] [] image/jpeg C:\\Pics\\small.jpg",
                      "Upload 0 clip.avi [] [] video/avi C:\\Pics\\clip.avi",
                      "Resize a.jpg 1024x1024",
                      "Upload 0 a.jpg [] [] image/jpeg C:\\Temp\\NEW0.tmp",
                  }));
  EXPECT_TRUE(items.ahead.empty());
}
