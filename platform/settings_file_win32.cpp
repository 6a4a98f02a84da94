// The settings file on Windows (used when a file is asked for; the registry is the default
// store): reading, atomic replacement with MoveFileExA, and the lock beside it.
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/settings_file.h"

namespace dz::settings::file {

namespace {

std::string error_text(DWORD error) {
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, text, sizeof text, nullptr);
  std::string out(text, n);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.'))
    out.pop_back();
  return out.empty() ? "error " + std::to_string(error) : out;
}

bool write_all(HANDLE h, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(h, text.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

// Writes `text`, flushes it to disk and closes the handle; false with `error` when any step failed.
bool write_and_close(HANDLE h, const std::string& text, std::string& error) {
  bool ok = write_all(h, text) && FlushFileBuffers(h);
  if (!ok) error = error_text(GetLastError());
  return CloseHandle(h) && ok;
}

}  // namespace

std::string resolve(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_symlink(path, ec)) {
    const auto target = std::filesystem::canonical(path, ec);
    if (!ec) return target.string();
  }
  return path;
}

ReadStatus read(const std::string& path, std::string& text, std::string& error) {
  text.clear();
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD e = GetLastError();
    if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) return ReadStatus::missing;
    error = error_text(e);
    return ReadStatus::failed;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    error = "not a regular file";
    return ReadStatus::not_regular;
  }
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = error_text(GetLastError());
    return ReadStatus::failed;
  }
  ReadStatus status = ReadStatus::ok;
  if (GetFileType(h) != FILE_TYPE_DISK) {
    error = "not a regular file";
    status = ReadStatus::not_regular;
  }
  char buffer[8192];
  while (status == ReadStatus::ok) {
    DWORD n = 0;
    if (!ReadFile(h, buffer, sizeof buffer, &n, nullptr)) {
      error = error_text(GetLastError());
      status = ReadStatus::failed;
    } else if (n == 0) {
      break;
    } else if (text.size() + n > max_file_size) {
      error = "larger than 1 MiB";
      status = ReadStatus::failed;
    } else {
      text.append(buffer, n);
    }
  }
  CloseHandle(h);
  if (status != ReadStatus::ok) text.clear();
  return status;
}

bool replaceable(const std::string& path, std::string& error) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    error = "not a regular file";
    return false;
  }
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    error = "the file is read-only";
    return false;
  }
  return true;
}

bool replace(const std::string& path, const std::string& text, std::string& error) {
  if (!replaceable(path, error)) return false;
  const std::string temp = path + ".tmp." + std::to_string(GetCurrentProcessId());
  HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = error_text(GetLastError());
    return false;
  }
  bool ok = write_and_close(h, text, error);
  if (ok && !MoveFileExA(temp.c_str(), path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = error_text(GetLastError());
    ok = false;
  }
  if (!ok) DeleteFileA(temp.c_str());
  return ok;
}

bool create_new(const std::string& path, const std::string& text, std::string& error) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = error_text(GetLastError());
    return false;
  }
  const bool ok = write_and_close(h, text, error);
  if (!ok) DeleteFileA(path.c_str());
  return ok;
}

Lock::~Lock() {
  if (handle_ == -1) return;
  HANDLE h = reinterpret_cast<HANDLE>(handle_);
  OVERLAPPED where = {};
  UnlockFileEx(h, 0, 1, 0, &where);
  CloseHandle(h);
}

bool Lock::acquire(const std::string& path, std::string& error) {
  HANDLE h =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = "cannot make the lock file " + path + ": " + error_text(GetLastError());
    return false;
  }
  OVERLAPPED where = {};
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where)) {
    error = "cannot lock " + path + ": " + error_text(GetLastError());
    CloseHandle(h);
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return true;
}

}  // namespace dz::settings::file
