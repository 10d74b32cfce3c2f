// Owners for handles the platform hands out in pairs (make and release), one
// small holder per kind, so each release stands where its handle is made and
// runs in reverse order of creation.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <utility>

// A handle released by one call taking it; empty is the null handle.
template <typename Handle, auto Release>
class Owned {
 public:
  Owned() = default;
  explicit Owned(Handle handle) : handle_(handle) {}
  ~Owned() { Reset(); }
  Owned(Owned&& other) noexcept : handle_(std::exchange(other.handle_, Handle{})) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, Handle{});
    }
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  Handle Get() const { return handle_; }
  explicit operator bool() const { return handle_ != Handle{}; }
  void Reset() {
    if (handle_ != Handle{}) Release(handle_);
    handle_ = Handle{};
  }

 private:
  Handle handle_{};
};

using EventHandle = Owned<HANDLE, CloseHandle>;          // CreateEventW
using SocketEvent = Owned<WSAEVENT, WSACloseEvent>;      // WSACreateEvent
using MemoryDc = Owned<HDC, DeleteDC>;                   // CreateCompatibleDC

// CreateFileW's handle; INVALID_HANDLE_VALUE is held as empty.
class FileHandle : public Owned<HANDLE, CloseHandle> {
 public:
  explicit FileHandle(HANDLE handle) : Owned(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
};

// GetDC's device context, given back to its window.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~WindowDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC Get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};
