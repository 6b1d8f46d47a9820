#include "adapters/windows_platform.h"

#include "adapters/gdiplus.h"
#include "adapters/picture_work_win.h"
#include "adapters/registry_profile.h"
#include "core/ports/http_port.h"

namespace quib {

IPictureWork& GdiplusPictures() {
  // GDI+ starts here, on the thread that installs the platform, before any
  // worker decodes a picture; it stays started.
  static CGdiplusPictureWork pictures = [] {
    EnsureGdiplus();
    return CGdiplusPictureWork();
  }();
  return pictures;
}

CPlatform WindowsPlatform() {
  static CWindowsCodePage codePage;
  CPlatform platform;
  platform.codePage = &codePage;
  platform.threads = &SystemThreads();
  platform.clock = &TickClock();
  platform.files = &WideFiles();
  platform.folders = &WideFolderLister();
  platform.paths = &WidePathProbe();
  platform.mediaTypes = &UrlMonMediaTypes();
  platform.pictures = &GdiplusPictures();
  platform.profile = &RegistryProfile();
  platform.openHttp = OpenWinInetPort;
  platform.makeWindowQueue = MakeThreadWindowQueue;
  return platform;
}

void InstallWindowsPlatform() {
  InstallPlatform(WindowsPlatform());
}

}  // namespace quib
