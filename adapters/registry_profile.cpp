#include "adapters/registry_profile.h"

#include <windows.h>

#include <wincrypt.h>

#include <algorithm>

#include "adapters/long_path.h"
#include "core/text/text_convert.h"

namespace quib {
namespace {

// Closes a registry key when it goes out of scope.
struct CRegKey {
  HKEY key = nullptr;
  ~CRegKey() {
    if (key) RegCloseKey(key);
  }
};

// Frees what the data protection functions allocate, wiping clear text.
struct CProtectedBlob {
  DATA_BLOB blob{};
  bool wipe = false;
  ~CProtectedBlob() {
    if (!blob.pbData) return;
    if (wipe) SecureZeroMemory(blob.pbData, blob.cbData);
    LocalFree(blob.pbData);
  }
};

DATA_BLOB BlobOf(const std::string& bytes) {
  DATA_BLOB blob;
  blob.cbData = static_cast<DWORD>(bytes.size());
  blob.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()));
  return blob;
}

// Key paths, value names and texts are UTF-8 here and UTF-16 in the
// registry, so any character the user types is kept.
bool OpenForRead(const std::string& path, CRegKey& key) {
  return !path.empty() && RegOpenKeyExW(HKEY_CURRENT_USER, Utf8ToWide(path).c_str(), 0, KEY_READ,
                                        &key.key) == ERROR_SUCCESS;
}

bool OpenForWrite(const std::string& path, CRegKey& key) {
  return !path.empty() &&
         RegCreateKeyExW(HKEY_CURRENT_USER, Utf8ToWide(path).c_str(), 0, nullptr, 0, KEY_WRITE,
                         nullptr, &key.key, nullptr) == ERROR_SUCCESS;
}

bool SetValue(const std::string& path, const char* name, DWORD type, const void* data,
              size_t size) {
  CRegKey key;
  return OpenForWrite(path, key) &&
         RegSetValueExW(key.key, Utf8ToWide(name).c_str(), 0, type, static_cast<const BYTE*>(data),
                        static_cast<DWORD>(size)) == ERROR_SUCCESS;
}

}  // namespace

void CRegistryProfile::SetRoot(const std::string& root) {
  root_ = root;
}

std::string CRegistryProfile::GetRoot() const {
  return root_;
}

std::string CRegistryProfile::SectionKey(const char* section) const {
  return root_.empty() ? std::string() : root_ + "\\" + section;
}

bool CRegistryProfile::ReadNumber(const char* section, const char* name,
                                  unsigned long& value) const {
  CRegKey key;
  if (!OpenForRead(SectionKey(section), key)) return false;
  DWORD type = 0;
  DWORD number = 0;
  DWORD size = sizeof number;
  // Missing, or not a 32-bit number: the caller's default holds.
  if (RegQueryValueExW(key.key, Utf8ToWide(name).c_str(), nullptr, &type,
                       reinterpret_cast<BYTE*>(&number), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof number) {
    return false;
  }
  value = number;
  return true;
}

bool CRegistryProfile::ReadText(const char* section, const char* name, std::string& value) const {
  CRegKey key;
  if (!OpenForRead(SectionKey(section), key)) return false;
  const std::wstring wideName = Utf8ToWide(name);
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key.key, wideName.c_str(), nullptr, &type, nullptr, &size) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return false;
  }
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  DWORD got = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key.key, wideName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&text[0]),
                       &got) != ERROR_SUCCESS) {
    return false;
  }
  text.resize(std::min<size_t>(got / sizeof(wchar_t), text.size()));
  const size_t nul = text.find(L'\0');
  if (nul != std::wstring::npos) text.resize(nul);
  value = WideToUtf8(text);
  return true;
}

bool CRegistryProfile::ReadBinary(const char* section, const char* name, std::string& bytes) const {
  CRegKey key;
  if (!OpenForRead(SectionKey(section), key)) return false;
  DWORD type = 0;
  DWORD size = 0;
  const std::wstring wideName = Utf8ToWide(name);
  if (RegQueryValueExW(key.key, wideName.c_str(), nullptr, &type, nullptr, &size) !=
          ERROR_SUCCESS ||
      type != REG_BINARY) {
    return false;
  }
  std::string value(size, '\0');
  DWORD got = size;
  if (size > 0 && (RegQueryValueExW(key.key, wideName.c_str(), nullptr, &type,
                                    reinterpret_cast<BYTE*>(&value[0]), &got) != ERROR_SUCCESS ||
                   type != REG_BINARY)) {
    return false;
  }
  value.resize(got < value.size() ? got : value.size());
  bytes.swap(value);
  return true;
}

bool CRegistryProfile::WriteNumber(const char* section, const char* name,
                                   unsigned long value) const {
  const DWORD number = static_cast<DWORD>(value);
  return SetValue(SectionKey(section), name, REG_DWORD, &number, sizeof number);
}

bool CRegistryProfile::WriteText(const char* section, const char* name,
                                 const std::string& value) const {
  const std::wstring text = Utf8ToWide(value.substr(0, value.find('\0')));
  return SetValue(SectionKey(section), name, REG_SZ, text.c_str(),
                  (text.size() + 1) * sizeof(wchar_t));
}

bool CRegistryProfile::WriteBinary(const char* section, const char* name,
                                   const std::string& bytes) const {
  return SetValue(SectionKey(section), name, REG_BINARY, bytes.data(), bytes.size());
}

int CRegistryProfile::GetInt(const char* section, const char* name, int defaultValue) {
  unsigned long value = 0;
  // The registry holds an unsigned DWORD; the program treats it as signed.
  return ReadNumber(section, name, value) ? static_cast<int>(value) : defaultValue;
}

std::string CRegistryProfile::GetString(const char* section, const char* name) {
  std::string value;
  return ReadText(section, name, value) ? value : std::string();
}

void CRegistryProfile::WriteInt(const char* section, const char* name, int value) {
  WriteNumber(section, name, static_cast<unsigned long>(static_cast<DWORD>(value)));
}

void CRegistryProfile::WriteString(const char* section, const char* name,
                                   const std::string& value) {
  WriteText(section, name, value);
}

bool CRegistryProfile::GetProtectedString(const char* section, const char* name,
                                          std::string& value) {
  std::string stored;
  if (!ReadBinary(section, name, stored) || stored.empty()) return false;
  DATA_BLOB in = BlobOf(stored);
  CProtectedBlob out;
  out.wipe = true;
  if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                          &out.blob)) {
    return false;
  }
  std::string clear(reinterpret_cast<const char*>(out.blob.pbData), out.blob.cbData);
  // Stored in UTF-8 now; an earlier version stored the ANSI text, which is
  // almost never valid UTF-8 once it holds a character beyond ASCII.
  value = IsValidUtf8(clear) ? clear : AnsiToUtf8(clear);
  SecureZeroMemory(&clear[0], clear.size());
  return true;
}

bool CRegistryProfile::WriteProtectedString(const char* section, const char* name,
                                            const std::string& value) {
  if (root_.empty()) return false;
  std::string clear = value;
  DATA_BLOB in = BlobOf(clear);
  CProtectedBlob out;
  // Never falls back to clear text: a value that cannot be protected is not
  // stored.
  const BOOL protectedOk = CryptProtectData(&in, nullptr, nullptr, nullptr, nullptr,
                                            CRYPTPROTECT_UI_FORBIDDEN, &out.blob);
  SecureZeroMemory(&clear[0], clear.size());
  if (!protectedOk) return false;
  return WriteBinary(section, name,
                     std::string(reinterpret_cast<const char*>(out.blob.pbData), out.blob.cbData));
}

CRegistryProfile& RegistryProfile() {
  static CRegistryProfile profile;
  return profile;
}

}  // namespace quib
