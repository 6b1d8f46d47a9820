// Faults around the album service and the user's files: the service killed
// in the middle of an upload, a file deleted or locked between adding it
// and uploading it, and a temporary folder that cannot be written while a
// picture is shrunk. The service is the one of
// scripts/test.d/20-upload-service.sh, at the program's login address.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/faults/fault_support.h"
#include "tests/e2e/faults/scripted_server.h"

using namespace e2e;

namespace {

const char kUnknownError[] = "An unknown error occured.";

class FaultFiles : public CFaultTest {
 protected:
  static void SetUpTestSuite() {
    // A program that took the service's address and died before giving it
    // back left the service stopped.
    const std::string data = ToWindowsPath(EnvVar("QUIB_UPLOAD_SERVICE_DATA"));
    if (!data.empty() &&
        GetFileAttributesA((data + "\\stopped").c_str()) != INVALID_FILE_ATTRIBUTES)
      ControlUploadService("start", 30000);
  }

  void SetUp() override {
    const std::string error = EnvVar("QUIB_UPLOAD_SERVICE_ERROR");
    if (!error.empty()) FAIL() << error;
    if (UploadServiceUrl().empty()) GTEST_SKIP() << "QUIB_UPLOAD_SERVICE_URL is not set";
    CFaultTest::SetUp();
    user_ = NewAccount("fault", "pw");
    ASSERT_FALSE(user_.empty()) << "no account from the album service";
    StoreCredentials(user_, "pw");
    StoreProfileInt("AskFolder", 0);
  }

  // What the service stored for the account: file name -> its stored bytes.
  std::map<std::string, std::string> Stored() {
    std::map<std::string, std::string> files;
    for (const TsvRow& row : StoredMedia(user_))
      files[row.at("filename")] = ReadBytes(ToWindowsPath(row.at("path")));
    return files;
  }

  void Finish() {
    Quit();
    ExpectUserFilesIntact();
    ExpectNoTempCopies();
  }

  std::string user_;
};

TEST_F(FaultFiles, ServiceKilledMidUpload) {
  const std::string keep = Picture("keep.jpg", 120, 90, RGB(200, 30, 30));
  const std::string large = Movie("large.flv", 60 * 1024 * 1024);
  const std::string sent = Picture("sent.jpg", 90, 120, RGB(30, 200, 30));
  Start({keep, large, sent});
  PressUpload();
  HWND transfer = Transfer();
  ASSERT_TRUE(transfer);
  // sent.jpg is stored, then the movie's body is under way.
  ASSERT_TRUE(WaitUntil([&] { return StoredMedia(user_).size() == 1; }, 60000));
  HWND bar = GetDlgItem(transfer, IDC_TRANSFER_PROGRESS);
  ASSERT_TRUE(WaitUntil([&] { return SendMessageA(bar, PBM_GETPOS, 0, 0) > 0; }, 60000));
  EXPECT_LT(SendMessageA(bar, PBM_GETPOS, 0, 0), 100);
  ASSERT_TRUE(ControlUploadService("stop", 15000)) << "the service was not stopped";
  Answer(kUnknownError, "fault-service-killed", 60000);
  ExpectRunEnded();
  ExpectAlive();
  EXPECT_EQ(Captions(), (std::vector<std::string>{"keep.jpg", "large.flv"}));
  ASSERT_TRUE(ControlUploadService("start", 30000)) << "the service did not come back";
  // Only what was confirmed is stored, byte for byte.
  const auto stored = Stored();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_TRUE(stored.count("sent.jpg") && stored.at("sent.jpg") == ReadBytes(sent));
  Finish();
}

TEST_F(FaultFiles, FileDeletedBeforeUpload) {
  const std::string a = Picture("a.jpg", 120, 90, RGB(200, 30, 30));
  const std::string gone = Picture("gone.jpg", 100, 100, RGB(30, 30, 200));
  const std::string c = Picture("c.jpg", 90, 120, RGB(30, 200, 30));
  Start({a, gone, c});
  ASSERT_TRUE(DeleteFileA(gone.c_str()));
  userFiles_.erase(gone);
  PressUpload();
  // c.jpg goes first and arrives; gone.jpg cannot be sent.
  Answer(kUnknownError, "fault-file-deleted");
  ExpectRunEnded();
  ExpectAlive();
  EXPECT_EQ(Captions(), (std::vector<std::string>{"a.jpg", "gone.jpg"}));
  const auto stored = Stored();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_TRUE(stored.count("c.jpg") && stored.at("c.jpg") == ReadBytes(c));
  Finish();
  EXPECT_EQ(GetFileAttributesA(gone.c_str()), INVALID_FILE_ATTRIBUTES) << "gone.jpg came back";
}

TEST_F(FaultFiles, FileLockedBeforeUpload) {
  const std::string a = Picture("a.jpg", 120, 90, RGB(200, 30, 30));
  const std::string locked = Picture("locked.jpg", 100, 100, RGB(30, 30, 200));
  const std::string c = Picture("c.jpg", 90, 120, RGB(30, 200, 30));
  Start({a, locked, c});
  // Another program holds the file and shares it with nobody.
  HANDLE lock = CreateFileA(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  PressUpload();
  Answer(kUnknownError, "fault-file-locked");
  ExpectRunEnded();
  ExpectAlive();
  CloseHandle(lock);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"a.jpg", "locked.jpg"}));
  const auto stored = Stored();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_TRUE(stored.count("c.jpg") && stored.at("c.jpg") == ReadBytes(c));
  Finish();
}

// Shrinking writes a JPEG copy into the temporary folder. Where that cannot
// be written, the user hears of it once and the pictures go up unchanged.
TEST_F(FaultFiles, TempFolderNotWritableWhileShrinking) {
  StoreProfileInt("ResizeImage", 1);
  StoreProfileInt("AskResize", 0);
  const std::string wide = Picture("wide.jpg", 1600, 1200, RGB(200, 30, 30));
  const std::string tall = Picture("tall.png", 900, 1400, RGB(30, 30, 200));
  // A folder that exists and refuses every new file, also to root.
  const std::string readOnly = "Z:\\proc";
  StartWithTemp({wide, tall}, readOnly);
  PressUpload();
  std::vector<std::string> messages;
  for (int i = 0; i < 4; ++i) {
    const std::string text = NextMessage(60000);
    if (text.empty()) break;
    messages.push_back(text);
    if (text.find("successfully uploaded") != std::string::npos) break;
  }
  ASSERT_FALSE(messages.empty()) << "no message at all";
  EXPECT_EQ(messages.back(), "2 file(s) successfully uploaded.");
  std::string told;
  for (const std::string& m : messages) told += "\n  \"" + m + "\"";
  EXPECT_EQ(messages.size(), 2u) << "expected one message about the failed shrink before the "
                                    "final one; the messages were:"
                                 << told;
  ExpectRunEnded();
  ExpectAlive();
  EXPECT_TRUE(WaitUntil([&] { return Captions().empty(); }, 10000));
  // Both went up as they are.
  const auto stored = Stored();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_TRUE(stored.count("wide.jpg") && stored.at("wide.jpg") == ReadBytes(wide));
  EXPECT_TRUE(stored.count("tall.png") && stored.at("tall.png") == ReadBytes(tall));
  Finish();
}

// The fault tests hand the service's address to a scripted server and back.
// Either side must be able to listen at once, although the other side's last
// connections there still wait out their minute (TIME_WAIT).
TEST_F(FaultFiles, AddressChangesHandsAtOnce) {
  const uint16_t port = UploadServicePort();
  ASSERT_NE(port, 0);
  // HTTP/1.0: the service answers and closes first.
  ASSERT_TRUE(RawRequest(port, "GET /contact.php HTTP/1.0\r\n\r\n"));
  ASSERT_TRUE(ControlUploadService("stop", 15000));
  {
    CScriptedServer server(port, 10000);
    EXPECT_TRUE(server.Listening()) << server.Error() << "; sockets on the port:\n"
                                    << PortSockets(port);
    if (server.Listening()) {
      // Now the scripted server closes first.
      CScript cut;
      cut.answer = HttpHead(100) + "0";
      cut.end = AnswerEnd::Close;
      server.On("/", cut);
      EXPECT_TRUE(RawRequest(port, "GET / HTTP/1.0\r\n\r\n"));
    }
  }
  const bool back = ControlUploadService("start", 30000);
  EXPECT_TRUE(back) << "the service did not listen again; sockets on the port:\n"
                    << PortSockets(port);
  if (!back) {
    // Bring it back for the tests that follow.
    WaitUntil([&] { return PortSockets(port).empty(); }, 75000);
    ASSERT_TRUE(ControlUploadService("start", 30000));
  }
}

}  // namespace
