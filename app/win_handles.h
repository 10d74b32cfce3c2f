// Owners for handles the platform hands out in pairs (make and release), one
// small holder per kind, so each release stands where its handle is made and
// runs in reverse order of creation.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include <utility>

// A handle released by one call taking it; empty is the null handle.
template <typename Handle, auto Free>
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
  void Reset(Handle handle = Handle{}) {
    if (handle_ != Handle{}) Free(handle_);
    handle_ = handle;
  }
  // For a handle whose owner already went (a window destroyed by its parent).
  Handle Detach() { return std::exchange(handle_, Handle{}); }

 private:
  Handle handle_{};
};

namespace handle_release {
inline void GdiObject(HGDIOBJ object) { DeleteObject(object); }
inline void Window(HWND window) { DestroyWindow(window); }
inline void Icon(HICON icon) { DestroyIcon(icon); }
inline void Internet(HINTERNET handle) { WinHttpCloseHandle(handle); }
// Waits for a callback still running, so its context outlives it.
inline void ThreadPoolWait(HANDLE wait) { UnregisterWaitEx(wait, INVALID_HANDLE_VALUE); }
// The mutex is taken at creation, so it is given back before it is closed.
inline void HeldMutex(HANDLE mutex) {
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}
}  // namespace handle_release

using EventHandle = Owned<HANDLE, CloseHandle>;                       // CreateEventW
using ProcessHandle = Owned<HANDLE, CloseHandle>;                     // OpenProcess
using PipeHandle = Owned<HANDLE, CloseHandle>;                        // CreateNamedPipeW
using HeldMutex = Owned<HANDLE, handle_release::HeldMutex>;           // CreateMutexW, owned
using SocketEvent = Owned<WSAEVENT, WSACloseEvent>;                   // WSACreateEvent
using MemoryDc = Owned<HDC, DeleteDC>;                                // CreateCompatibleDC
using BitmapHandle = Owned<HBITMAP, handle_release::GdiObject>;       // CreateDIBSection
using FontHandle = Owned<HFONT, handle_release::GdiObject>;           // CreateFontW
using WindowHandle = Owned<HWND, handle_release::Window>;             // CreateWindowExW
using IconHandle = Owned<HICON, handle_release::Icon>;                // CreateIconIndirect
using InternetHandle = Owned<HINTERNET, handle_release::Internet>;    // WinHttpOpen and its children
using WaitRegistration = Owned<HANDLE, handle_release::ThreadPoolWait>;  // RegisterWaitForSingleObject

// CreateFileW's handle; INVALID_HANDLE_VALUE is held as empty.
class FileHandle : public Owned<HANDLE, CloseHandle> {
 public:
  explicit FileHandle(HANDLE handle) : Owned(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
};

// An object selected into a memory DC, the DC's earlier one put back when it goes.
class Selection {
 public:
  Selection() = default;
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(dc && object ? SelectObject(dc, object) : nullptr) {}
  ~Selection() { Reset(); }
  Selection(Selection&& other) noexcept
      : dc_(std::exchange(other.dc_, nullptr)), previous_(std::exchange(other.previous_, nullptr)) {}
  Selection& operator=(Selection&& other) noexcept {
    if (this != &other) {
      Reset();
      dc_ = std::exchange(other.dc_, nullptr);
      previous_ = std::exchange(other.previous_, nullptr);
    }
    return *this;
  }
  void Reset() {
    if (dc_ && previous_) SelectObject(dc_, previous_);
    dc_ = nullptr;
    previous_ = nullptr;
  }

 private:
  HDC dc_ = nullptr;
  HGDIOBJ previous_ = nullptr;
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
