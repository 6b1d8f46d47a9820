// The platform's ports, handed to the core once by the program before any
// window opens (and by the test programs that run under Windows). A port
// left empty keeps its portable default, so native tests need none.
#pragma once

#include <functional>
#include <memory>

#include "core/ports/window_queue.h"

class IHttpPort;
class IProfile;

namespace quib {

class ICodePage;
class IClock;
class IFilePort;
class IFolderLister;
class IMediaTypeQuery;
class IPathProbe;
class IPictureWork;
class IThreadStarter;

struct CPlatform {
  ICodePage* codePage = nullptr;
  IThreadStarter* threads = nullptr;
  IClock* clock = nullptr;
  IFilePort* files = nullptr;
  IFolderLister* folders = nullptr;
  IPathProbe* paths = nullptr;
  IMediaTypeQuery* mediaTypes = nullptr;
  IPictureWork* pictures = nullptr;
  IProfile* profile = nullptr;
  // A new HTTP session for each transport.
  std::function<std::unique_ptr<IHttpPort>()> openHttp;
  WindowQueueFactory makeWindowQueue;
};

// Replaces the installed ports that are given; the others stay. Not
// thread-safe: call it before any other thread runs.
void InstallPlatform(const CPlatform& platform);
// Back to the portable defaults (tests).
void ResetPlatform();

// The installed ports, or the defaults: code page 1252, std::thread,
// steady_clock, the C library's files, std::filesystem's folders, a file
// system probe, no media type lookup of the system (signatures only), no
// picture work, a profile in memory, no HTTP and no window queue.
ICodePage& CodePage();
IThreadStarter& Threads();
IClock& Clock();
IFilePort& Files();
IFolderLister& Folders();
IPathProbe& Paths();
IMediaTypeQuery& MediaTypes();
IPictureWork& Pictures();
IProfile& Profile();
// nullptr where the platform has no HTTP.
std::unique_ptr<IHttpPort> OpenHttp();
// nullptr where the platform has no window thread.
std::unique_ptr<IWindowQueue> MakeWindowQueue();

}  // namespace quib
