// Avatars by Discord user id: decoded images and the ids whose download
// thread is running. Every access to either map is under the one mutex.
#pragma once

#include <windows.h>
#include <gdiplus.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

struct AvatarCache {
  std::mutex mutex;
  std::map<std::wstring, std::unique_ptr<Gdiplus::Image>> avatars;
  std::map<std::wstring, bool> pendingAvatars;
};
