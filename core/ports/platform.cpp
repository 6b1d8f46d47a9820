#include "core/ports/platform.h"

#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

#include "core/ports/clock.h"
#include "core/ports/code_page.h"
#include "core/ports/file_port.h"
#include "core/ports/folder_lister.h"
#include "core/ports/http_port.h"
#include "core/ports/picture_work.h"
#include "core/ports/threads.h"
#include "core/protocol/media_type.h"
#include "core/settings/memory_profile.h"
#include "core/text/command_line.h"

namespace quib {
namespace {

class CStdThreads : public IThreadStarter {
 public:
  void Start(std::function<void()> run) override { std::thread(std::move(run)).detach(); }
};

class CSteadyClock : public IClock {
 public:
  uint64_t NowMs() override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }
};

class CStdPathProbe : public IPathProbe {
 public:
  bool IsFile(const std::string& path) override {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
  }
  bool IsFolder(const std::string& path) override {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
  }
};

// Without the system's lookups a type comes from the signatures alone.
class CNoMediaTypeQuery : public IMediaTypeQuery {
 public:
  bool QueryByName(const std::string&, std::string&) override { return false; }
  bool QueryByContent(const unsigned char*, size_t, std::string&) override { return false; }
};

class CNoPictureWork : public IPictureWork {
 public:
  void MakeThumbnail(const ThumbnailJob& job, ThumbnailResult& result) override {
    result.readable = false;
    result.width = 0;
    result.height = 0;
    result.data = ThumbnailData();
    result.data.dpi = job.dpi;
  }
  bool MeasurePicture(const std::string&, int&, int&) override { return false; }
  bool Rotate(const std::string&, int, PictureCopy&) override { return false; }
  bool Shrink(const std::string&, int, PictureCopy&) override { return false; }
};

struct CDefaults {
  CWesternCodePage codePage;
  CStdThreads threads;
  CSteadyClock clock;
  CStdFilePort files;
  CStdFolderLister folders;
  CStdPathProbe paths;
  CNoMediaTypeQuery mediaTypes;
  CNoPictureWork pictures;
  CMemoryProfile profile;
};

CDefaults& Defaults() {
  static CDefaults defaults;
  return defaults;
}

CPlatform& Installed() {
  static CPlatform platform;
  return platform;
}

template <typename Port>
Port& Or(Port* installed, Port& fallback) {
  return installed ? *installed : fallback;
}

}  // namespace

void InstallPlatform(const CPlatform& platform) {
  CPlatform& p = Installed();
  if (platform.codePage) p.codePage = platform.codePage;
  if (platform.threads) p.threads = platform.threads;
  if (platform.clock) p.clock = platform.clock;
  if (platform.files) p.files = platform.files;
  if (platform.folders) p.folders = platform.folders;
  if (platform.paths) p.paths = platform.paths;
  if (platform.mediaTypes) p.mediaTypes = platform.mediaTypes;
  if (platform.pictures) p.pictures = platform.pictures;
  if (platform.profile) p.profile = platform.profile;
  if (platform.openHttp) p.openHttp = platform.openHttp;
  if (platform.makeWindowQueue) p.makeWindowQueue = platform.makeWindowQueue;
}

void ResetPlatform() {
  Installed() = CPlatform();
}

ICodePage& CodePage() {
  return Or(Installed().codePage, static_cast<ICodePage&>(Defaults().codePage));
}
IThreadStarter& Threads() {
  return Or(Installed().threads, static_cast<IThreadStarter&>(Defaults().threads));
}
IClock& Clock() {
  return Or(Installed().clock, static_cast<IClock&>(Defaults().clock));
}
IFilePort& Files() {
  return Or(Installed().files, static_cast<IFilePort&>(Defaults().files));
}
IFolderLister& Folders() {
  return Or(Installed().folders, static_cast<IFolderLister&>(Defaults().folders));
}
IPathProbe& Paths() {
  return Or(Installed().paths, static_cast<IPathProbe&>(Defaults().paths));
}
IMediaTypeQuery& MediaTypes() {
  return Or(Installed().mediaTypes, static_cast<IMediaTypeQuery&>(Defaults().mediaTypes));
}
IPictureWork& Pictures() {
  return Or(Installed().pictures, static_cast<IPictureWork&>(Defaults().pictures));
}
IProfile& Profile() {
  return Or(Installed().profile, static_cast<IProfile&>(Defaults().profile));
}

std::unique_ptr<IHttpPort> OpenHttp() {
  return Installed().openHttp ? Installed().openHttp() : nullptr;
}

std::unique_ptr<IWindowQueue> MakeWindowQueue() {
  return Installed().makeWindowQueue ? Installed().makeWindowQueue() : nullptr;
}

uint64_t NowMs() {
  return Clock().NowMs();
}

}  // namespace quib

void StartDetachedThread(std::function<void()> run) {
  quib::Threads().Start(std::move(run));
}
