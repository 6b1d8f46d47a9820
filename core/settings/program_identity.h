// How the program is known: to other instances (the window title, the
// marker mutex, the message that forwards a command line) and in the
// registry.
#pragma once

#include <cstdint>

// Title of the main window, also how other instances find it ("®" is 0xAE
// in code page 1252).
#define QUIB_WINDOW_TITLE "quib\xAE-uploader"
// Name of the marker mutex of a running instance.
#define QUIB_MUTEX_NAME "QuibUploader"
// Settings location below HKCU\Software (the program name is added).
#define QUIB_REGISTRY_KEY "BRAMWELD\\quib-uploader-net"
// dwData of the WM_COPYDATA message that forwards a command line.
constexpr uintptr_t COPYDATA_ADD_FILE = 1018;
