// The Windows implementations of the core's ports, and the platform the
// program hands to the core at start-up.
#pragma once

#include <memory>
#include <string>

#include "core/ports/code_page.h"
#include "core/ports/platform.h"

class IHttpPort;

namespace quib {

class CWindowsCodePage : public ICodePage {
 public:
  std::string ToUtf8(const std::string& ansi) override;
  std::string FromUtf8(const std::string& utf8) override;
  bool IsLeadByte(unsigned char byte) override;
};

class IFilePort;
class IFolderLister;
class IMediaTypeQuery;
class IPathProbe;
class IPictureWork;
class IThreadStarter;
class IClock;

// A new WinINet session.
std::unique_ptr<IHttpPort> OpenWinInetPort();
// The ports that keep no state of their own, one each per process.
IThreadStarter& SystemThreads();
IClock& TickClock();
IFilePort& WideFiles();
// Folder listings by FindFirstFileExW (UTF-8 names, any length).
IFolderLister& WideFolderLister();
IPathProbe& WidePathProbe();
IMediaTypeQuery& UrlMonMediaTypes();
IPictureWork& GdiplusPictures();
// A queue of the calling thread (see window_queue.h).
std::unique_ptr<IWindowQueue> MakeThreadWindowQueue();

// Every Windows port: the system's code page, threads, clock, wide file
// functions (names of any length), folder listings, the URL moniker's media
// types, GDI+, the registry, WinINet and the window-thread queue.
CPlatform WindowsPlatform();

// Installs WindowsPlatform() into the core.
void InstallWindowsPlatform();

}  // namespace quib
