// GDI objects of a process counted in its GDI handle table, for where
// GetGuiResources answers nothing (Wine). Wine keeps one table per process
// and its PEB points at it; the process may be the caller itself.
#pragma once

#include <windows.h>

#include <map>
#include <vector>

namespace quib_test {

// Used slots of the table, and how many of each object type (Wine's type
// codes, e.g. 0x01 DC, 0x04 region, 0x05 bitmap, 0x0a font); -1 when the
// table cannot be read (a 32-bit build reads none).
inline long CountGdiTableEntries(HANDLE process, std::map<int, long>* byType) {
#ifdef _WIN64
  using QueryFn = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
  struct BasicInformation {
    PVOID exitStatus;
    PVOID pebBaseAddress;
    PVOID reserved[4];
  };
  struct Entry {
    UINT64 object;
    USHORT owner;
    USHORT count;
    USHORT unique;
    UCHAR type;
    UCHAR flags;
    UINT64 user;
  };
  constexpr size_t PebGdiSharedHandleTable = 0xF8;
  constexpr size_t GdiMaxHandles = 0x10000;
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto query = ntdll ? reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
                           GetProcAddress(ntdll, "NtQueryInformationProcess")))
                     : nullptr;
  BasicInformation basic{};
  ULONG length = 0;
  if (!query || query(process, 0, &basic, sizeof basic, &length) != 0) return -1;
  UINT64 table = 0;
  SIZE_T got = 0;
  if (!ReadProcessMemory(process,
                         static_cast<char*>(basic.pebBaseAddress) + PebGdiSharedHandleTable, &table,
                         sizeof table, &got) ||
      !table) {
    return -1;
  }
  std::vector<Entry> entries(GdiMaxHandles);
  if (!ReadProcessMemory(process, reinterpret_cast<void*>(table), entries.data(),
                         entries.size() * sizeof(Entry), &got)) {
    return -1;
  }
  long count = 0;
  for (size_t i = 0; i < got / sizeof(Entry); ++i) {
    if (entries[i].type == 0) continue;
    ++count;
    if (byType) ++(*byType)[entries[i].type];
  }
  return count;
#else
  (void)process;
  (void)byType;
  return -1;
#endif
}

}  // namespace quib_test
