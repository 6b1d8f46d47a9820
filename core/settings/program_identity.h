// How the program is known: to other instances (the window title, the
// marker mutex, the message that forwards a command line) and in the
// registry.
#pragma once

#include <cstdint>

// Title of the main window, also how other instances find it, in UTF-8 as
// every text of the program ("quib®-uploader"; in code page 1252 the "®"
// is the byte 0xAE).
#define QUIB_WINDOW_TITLE "quib\xC2\xAE-uploader"
#define QUIB_WINDOW_TITLE_WIDE L"quib\u00AE-uploader"
// Name of the marker mutex of a running instance.
#define QUIB_MUTEX_NAME "QuibUploader"
// Settings location below HKCU\Software (the program name is added).
#define QUIB_REGISTRY_KEY "BRAMWELD\\quib-uploader-net"
// dwData of the WM_COPYDATA message that forwards a command line: in the
// ANSI code page (what every version understands), used whenever each name
// fits it; in UTF-8 otherwise.
constexpr uintptr_t COPYDATA_ADD_FILE = 1018;
constexpr uintptr_t COPYDATA_ADD_FILE_UTF8 = 1019;
