// Owners of Windows handles: each kind of handle has an owner whose destructor
// closes it with the function that belongs to it, so that no path through the
// tool can leave one open.
#pragma once

#include "platform/windows_api.h"

#include <utility>

template <class Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle h) : m_h(h) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : m_h(std::exchange(other.m_h, Traits::Invalid())) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      m_h = std::exchange(other.m_h, Traits::Invalid());
    }
    return *this;
  }

  bool IsValid() const { return m_h != Traits::Invalid(); }
  Handle Get() const { return m_h; }

  // Closes the handle now, with the thread's last error kept as it was: a close
  // must not overwrite the code of the failure that is about to be logged.
  void Reset() {
    if (IsValid()) {
      const DWORD lastError = GetLastError();
      Traits::Close(m_h);
      SetLastError(lastError);
      m_h = Traits::Invalid();
    }
  }

 private:
  Handle m_h = Traits::Invalid();
};

struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { CloseHandle(h); }
};
struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { FindClose(h); }
};
struct FindVolumeHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { FindVolumeClose(h); }
};
struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { LocalFree(h); }
};

using unique_handle = UniqueHandle<FileHandleTraits>;
using unique_hfind = UniqueHandle<FindHandleTraits>;
using unique_hfindvolume = UniqueHandle<FindVolumeHandleTraits>;
using unique_hlocal = UniqueHandle<LocalMemoryTraits>;
