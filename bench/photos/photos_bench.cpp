// A day's photos: one upload run of camera JPEGs with the medium shrink, as
// the transfer dialog drives it (the run, its service client, WinINet and
// GDI+), against a sink given by the login address of the build. No window:
// the bench answers for the dialog and runs the window thread's loop.
//   photos_bench make FOLDER COUNT   writes COUNT camera pictures (4000 x
//                                    3000, about 4 MB, odd ones with an EXIF
//                                    preview as cameras store it)
//   photos_bench run FOLDER          uploads every .jpg of FOLDER; prints the
//                                    run's wall seconds, the files that went
//                                    up and the messages shown
// bench/photos/run-photos.sh runs it before and after on a shaped link.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "adapters/gdiplus.h"
#include "adapters/windows_platform.h"
#include "bench/bench_pictures.h"
#include "core/media/upload_list.h"
#include "core/protocol/http_upload.h"
#include "core/run/transfer_run.h"
#include "core/settings/memory_profile.h"
#include "core/settings/profile.h"
#include "tests/support/exif_builder.h"

namespace {

int Make(const std::string& folder, int count) {
  CreateDirectoryA(folder.c_str(), nullptr);
  quib_test::ExifSpec spec;
  spec.pixelX = 4000;
  spec.pixelY = 3000;
  spec.preview = bench::Jpeg(160, 120, 3);
  const std::string segment = quib_test::BuildExifSegment(spec);
  for (int i = 0; i < count; ++i) {
    std::string bytes = bench::CameraJpeg(i);
    const bool exif = i % 2 == 1;
    if (exif) bytes = quib_test::InsertAfterStart(bytes, segment);
    char name[64];
    std::snprintf(name, sizeof name, "\\photo%03d%s.jpg", i, exif ? "-exif" : "");
    bench::Write(folder + name, bytes);
    std::fprintf(stderr, "\r%d of %d (%zu bytes)", i + 1, count, bytes.size());
  }
  std::fprintf(stderr, "\n");
  return 0;
}

// The dialog's side: no prompt is expected (the settings choose medium and
// never ask); messages are kept, and the end quits the loop.
class CBenchPrompts : public IRunPrompts {
 public:
  int AskLogin(std::string&, std::string&) override { return Unexpected("login"); }
  std::unique_ptr<IAlbumPrompt> CreateAlbumPrompt() override {
    Unexpected("album");
    return nullptr;
  }
  int AskAlbumName(std::string&) override { return Unexpected("album name"); }
  int AskResize() override { return Unexpected("resize"); }
  void ShowMessage(const std::string& text, unsigned) override { messages.push_back(text); }
  bool IsClosing() override { return false; }
  void StatusChanged() override {}
  void PostOk() override { End(true); }
  void PostCancel() override { End(false); }

  std::vector<std::string> messages;
  bool ok = false;

 private:
  int Unexpected(const char* what) {
    messages.push_back(std::string("unexpected prompt: ") + what);
    return 2;
  }
  void End(bool result) {
    ok = result;
    PostQuitMessage(0);
  }
};

int Run(const std::string& folder) {
  std::vector<std::string> paths;
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((folder + "\\*.jpg").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      paths.push_back(folder + "\\" + found.cFileName);
    } while (FindNextFileA(find, &found));
    FindClose(find);
  }
  std::sort(paths.begin(), paths.end());

  CMemoryProfile profile;
  profile.WriteString(ProfileSectionSettings, ProfileUsername, "bench");
  profile.WriteString(ProfileSectionSettings, ProfilePassword, "bench");
  profile.WriteInt(ProfileSectionSettings, ProfileAskFolder, 0);
  profile.WriteInt(ProfileSectionSettings, ProfileAskResize, 0);
  profile.WriteInt(ProfileSectionSettings, ProfileResizeImage, ResizeMedium);

  // The files were added long before the upload: their thumbnails are made.
  CUploadList list;
  list.MakeThumbnailsInBackground(true);
  for (const std::string& path : paths) list.AddFile(path);
  if (!list.FinishThumbnails(600000)) std::fprintf(stderr, "thumbnails still pending\n");

  CBenchPrompts prompts;
  const auto start = std::chrono::steady_clock::now();
  int files = 0;
  {
    CTransferRun run(prompts, profile);
    run.TakeItems(list);
    if (run.Start(std::make_unique<CHttpUpload>()) == 0) {
      MSG msg;
      while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
    files = run.State().successCount;
    run.Finish();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // wall seconds, files uploaded, files left, messages
  std::printf("%.3f %d %d %zu\n", seconds, files, list.Count(), prompts.messages.size());
  for (const std::string& m : prompts.messages) std::fprintf(stderr, "message: %s\n", m.c_str());
  std::fflush(stdout);
  return prompts.ok && files == static_cast<int>(paths.size()) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  quib::InstallWindowsPlatform();
  EnsureGdiplus();
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "make" && argc == 4) return Make(argv[2], std::atoi(argv[3]));
  if (mode == "run" && argc == 3) return Run(argv[2]);
  std::fprintf(stderr, "usage: photos_bench make FOLDER COUNT | run FOLDER\n");
  return 2;
}
