#include "overlay/avatar_cache.h"

#include <objidl.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "app/http_client.h"
#include "app/http_endpoint.h"
#include "overlay/avatar_request.h"
#include "overlay/overlay_window.h"

namespace {

// A decoded picture is kept at most this large; tiles and cards draw it at
// 48 pixels or so. Larger sources are refused before they are decoded whole.
constexpr UINT kMaxKeptSide = 256;
constexpr UINT kMaxSourceSide = 4096;

struct FailedDownload {
  DWORD tick = 0;
  int count = 0;
  bool wanted = false;  // asked for, still cooling down, in this frame
};

std::wstring DescribeStage(const HttpResult& result) {
  switch (result.stage) {
    case HttpStage::Open: return L"WinHttpOpen failed, error " + std::to_wstring(result.error);
    case HttpStage::Connect: return L"connect failed, error " + std::to_wstring(result.error);
    case HttpStage::OpenRequest: return L"request failed, error " + std::to_wstring(result.error);
    case HttpStage::Send: return L"send failed, error " + std::to_wstring(result.error);
    case HttpStage::Receive: return L"no response, error " + std::to_wstring(result.error);
    case HttpStage::BodyTooLarge: return L"body larger than " + std::to_wstring(kMaxAvatarBytes) + L" bytes";
    case HttpStage::Done: break;
  }
  return std::wstring();
}

// A bounded premultiplied copy, so the cached image no longer needs the stream.
std::unique_ptr<Gdiplus::Image> CopyBounded(Gdiplus::Bitmap& source) {
  UINT w = source.GetWidth();
  UINT h = source.GetHeight();
  if (w == 0 || h == 0 || w > kMaxSourceSide || h > kMaxSourceSide) return nullptr;
  UINT longer = std::max(w, h);
  if (longer > kMaxKeptSide) {
    w = std::max<UINT>(1, w * kMaxKeptSide / longer);
    h = std::max<UINT>(1, h * kMaxKeptSide / longer);
  }
  auto copy = std::make_unique<Gdiplus::Bitmap>(static_cast<INT>(w), static_cast<INT>(h), PixelFormat32bppPARGB);
  if (copy->GetLastStatus() != Gdiplus::Ok) return nullptr;
  Gdiplus::Graphics graphics(copy.get());
  graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  Gdiplus::ImageAttributes edges;
  edges.SetWrapMode(Gdiplus::WrapModeTileFlipXY);  // no faded border from sampling outside
  Gdiplus::Status drawn = graphics.DrawImage(&source, Gdiplus::Rect(0, 0, static_cast<INT>(w), static_cast<INT>(h)),
                                             0, 0, static_cast<INT>(source.GetWidth()),
                                             static_cast<INT>(source.GetHeight()), Gdiplus::UnitPixel, &edges);
  if (drawn != Gdiplus::Ok) return nullptr;
  return copy;
}

std::unique_ptr<Gdiplus::Image> DecodeAvatar(const std::string& body) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, body.size());
  if (!block) return nullptr;
  void* bytes = GlobalLock(block);
  if (!bytes) {
    GlobalFree(block);
    return nullptr;
  }
  std::memcpy(bytes, body.data(), body.size());
  GlobalUnlock(block);
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream))) {
    GlobalFree(block);
    return nullptr;
  }
  std::unique_ptr<Gdiplus::Image> image;
  {
    Gdiplus::Bitmap source(stream);
    if (source.GetLastStatus() == Gdiplus::Ok) image = CopyBounded(source);
  }
  stream->Release();
  return image;
}

}  // namespace

struct AvatarCache::Shared {
  std::mutex mutex;
  std::condition_variable decodeFinished;
  std::map<std::wstring, std::unique_ptr<Gdiplus::Image>> avatars;
  std::map<std::wstring, std::shared_ptr<const std::string>> encoded;  // the downloaded bytes of each
  std::map<std::wstring, bool> pendingAvatars;
  std::map<std::wstring, FailedDownload> failures;
  std::set<std::wstring> refused;  // ids already logged as unusable
  bool closed = false;
  bool finishedSinceFrame = false;
  int decoding = 0;  // threads inside GDI+; Close waits for them

  // False once closed: the result is then dropped without touching GDI+.
  bool BeginDecode() {
    std::lock_guard<std::mutex> lock(mutex);
    if (closed) return false;
    ++decoding;
    return true;
  }

  // True when the cache is open and took the result.
  bool Finish(const std::wstring& id, std::unique_ptr<Gdiplus::Image> image, std::string body, bool decoded,
              const std::wstring& failure) {
    std::lock_guard<std::mutex> lock(mutex);
    pendingAvatars.erase(id);
    const bool taken = !closed;
    if (taken) {
      finishedSinceFrame = true;
      if (image) {
        avatars[id] = std::move(image);
        encoded[id] = std::make_shared<const std::string>(std::move(body));
        failures.erase(id);
      } else {
        FailedDownload& failed = failures[id];
        failed.tick = GetTickCount();
        ++failed.count;
        // Logged under the lock: shutdown cannot pass it and tear the log down.
        LogOverlay(L"Avatar download failed for user " + id + L": " + failure);
      }
    }
    image.reset();  // still counted as decoding, so GDI+ is running
    if (decoded) {
      --decoding;
      decodeFinished.notify_all();
    }
    return taken;
  }
};

namespace {

void DownloadAvatar(std::shared_ptr<AvatarCache::Shared> shared, std::wstring id, std::wstring path,
                    std::function<void()> onFinished) {
  HttpRequestSpec request;
  request.path = path;
  request.maxBodyBytes = kMaxAvatarBytes;
  HttpResult result = HttpFetch(ResolveHttpEndpoint("VOXMERE_CDN_BASE", kDiscordCdnHost), request);
  std::unique_ptr<Gdiplus::Image> image;
  std::wstring failure = DescribeStage(result);
  bool decoded = false;
  if (failure.empty() && result.body.empty()) {
    failure = L"empty body";
  } else if (failure.empty() && shared->BeginDecode()) {
    decoded = true;
    image = DecodeAvatar(result.body);
    if (!image) failure = L"not an image (" + std::to_wstring(result.body.size()) + L" bytes)";
  }
  if (shared->Finish(id, std::move(image), std::move(result.body), decoded, failure) && onFinished) onFinished();
}

}  // namespace

AvatarCache::AvatarCache() : shared_(std::make_shared<Shared>()) {}

AvatarCache::~AvatarCache() = default;

Gdiplus::Image* AvatarCache::Get(const std::wstring& userId, const std::wstring& avatarHash,
                                 const std::wstring& guildId) {
  Shared& s = *shared_;
  const AvatarSource source{userId, avatarHash, guildId};
  const std::wstring key = AvatarCacheKey(source);
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.closed) return nullptr;
  auto cached = s.avatars.find(key);
  if (cached != s.avatars.end()) return cached->second.get();
  if (avatarHash.empty() || s.pendingAvatars.count(key)) return nullptr;
  auto failed = s.failures.find(key);
  if (failed != s.failures.end() && GetTickCount() - failed->second.tick < AvatarRetryDelayMs(failed->second.count)) {
    failed->second.wanted = true;
    return nullptr;
  }
  std::wstring path = AvatarRequestPath(source, pictureSize_);
  if (path.empty()) {
    if (s.refused.insert(key).second)
      LogOverlay(L"Avatar not requested: user id, guild id or avatar hash holds unexpected characters");
    return nullptr;
  }
  s.pendingAvatars[key] = true;
  try {
    std::thread(DownloadAvatar, shared_, key, path, onFinished).detach();
  } catch (const std::system_error& e) {
    s.pendingAvatars.erase(key);
    FailedDownload& failedStart = s.failures[key];
    failedStart.tick = GetTickCount();
    ++failedStart.count;
    LogOverlay(L"Avatar download thread could not start, error " + std::to_wstring(e.code().value()));
  }
  return nullptr;
}

std::shared_ptr<const std::string> AvatarCache::EncodedBytes(const std::wstring& key) const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  auto found = shared_->encoded.find(key);
  return found == shared_->encoded.end() ? nullptr : found->second;
}

bool AvatarCache::IsDownloading(const std::wstring& key) const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->pendingAvatars.count(key) != 0;
}

void AvatarCache::BeginFrame(int pictureSize) {
  pictureSize_ = pictureSize;
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->finishedSinceFrame = false;
  for (auto& entry : shared_->failures) entry.second.wanted = false;
}

uint32_t AvatarCache::MsUntilChange(uint32_t now) const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  if (shared_->finishedSinceFrame) return 0;
  uint32_t wait = kNoChange;
  for (const auto& [key, failed] : shared_->failures) {
    if (!failed.wanted) continue;
    const uint32_t delay = AvatarRetryDelayMs(failed.count), waited = now - failed.tick;
    wait = std::min(wait, waited >= delay ? 0 : delay - waited);
  }
  return wait;
}

void AvatarCache::Close() {
  Shared& s = *shared_;
  std::unique_lock<std::mutex> lock(s.mutex);
  s.closed = true;
  s.decodeFinished.wait(lock, [&s] { return s.decoding == 0; });
  s.avatars.clear();
  s.encoded.clear();
}

void AvatarCache::Open() {
  Close();
  shared_ = std::make_shared<Shared>();
}
