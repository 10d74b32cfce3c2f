// Avatars by Discord user id (and server, for a server picture): decoded
// images and the keys whose download thread is running, kept with their
// mutex in one shared block. Download threads are detached and hold that
// block, so a download still running at shutdown finds it intact; once the
// cache is closed it drops its result without touching GDI+.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "overlay/gdiplus_headers.h"

class AvatarCache {
 public:
  AvatarCache();
  ~AvatarCache();
  AvatarCache(const AvatarCache&) = delete;
  AvatarCache& operator=(const AvatarCache&) = delete;

  // The cached image, or null; with a non-empty hash a missing image starts
  // one download for the id unless one runs or a failed one is still cooling
  // down. With a guild id it is the member's picture for that server, kept
  // apart from their own. Never waits for the network. User-interface thread
  // only.
  Gdiplus::Image* Get(const std::wstring& userId, const std::wstring& avatarHash,
                      const std::wstring& guildId = std::wstring());
  // By the key AvatarCacheKey gives: the user id for a member's own picture.
  bool IsDownloading(const std::wstring& key) const;
  // The picture's bytes as downloaded (for the browser source), or null
  // while it is not cached.
  std::shared_ptr<const std::string> EncodedBytes(const std::wstring& key) const;

  // A frame starts: what it asks for with Get is what it wants, and a
  // picture it starts downloading is asked of the CDN at pictureSize
  // (AvatarPictureSize); one already cached stays as it came.
  void BeginFrame(int pictureSize = 64);
  // 0 once a download has ended since the frame began (its picture, or its
  // failure, is news); else the time until a failed picture that frame
  // wanted may be asked again; kNoChange when neither. Without it a quiet
  // channel would show a picture, or retry a failed one, only once somebody
  // spoke.
  uint32_t MsUntilChange(uint32_t now) const;

  // Called on the download's thread when one ends and the cache is open.
  std::function<void()> onFinished;

  // Before GDI+ stops: refuses new downloads, waits for decodes in progress
  // (not for transfers), deletes every image.
  void Close();
  // After Close, a fresh empty cache (GDI+ started again).
  void Open();

  struct Shared;  // the maps, their mutex and the closed flag; download threads hold it too

 private:
  std::shared_ptr<Shared> shared_;
  int pictureSize_ = 64;
};
