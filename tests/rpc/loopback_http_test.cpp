// The loopback HTTP server, driven through the program's own HttpFetch.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "app/http_client.h"
#include "tools/discord_sim/sim_web.h"
#include "tools/loopback_http/loopback_http_server.h"
#include "tools/loopback_http/test_png.h"

namespace {

HttpEndpoint Local(const LoopbackHttpServer& server) {
  HttpEndpoint endpoint;
  endpoint.secure = false;
  endpoint.host = L"127.0.0.1";
  endpoint.port = server.Port();
  return endpoint;
}

HttpResult Fetch(const LoopbackHttpServer& server, const wchar_t* method, const std::wstring& path,
                 const std::string& body = "") {
  HttpRequestSpec request;
  request.method = method;
  request.path = path;
  request.body = body;
  return HttpFetch(Local(server), request);
}

LoopbackHttpResponse Text(const std::string& body, int status = 200) {
  LoopbackHttpResponse response;
  response.status = status;
  response.contentType = "text/plain";
  response.body = body;
  return response;
}

}  // namespace

TEST(LoopbackHttpServer, RoutesByMethodAndPath) {
  LoopbackHttpServer server;
  server.Route("POST", "/api/oauth2/token", [](const LoopbackHttpRequest& r) { return Text("got " + r.body); });
  server.Route("GET", "/avatars/*", [](const LoopbackHttpRequest& r) { return Text(r.path + "|" + r.query); });
  ASSERT_TRUE(server.Start());
  EXPECT_NE(server.Port(), 0);
  EXPECT_EQ(server.BaseUrl(), "http://127.0.0.1:" + std::to_string(server.Port()));

  HttpResult posted = Fetch(server, L"POST", L"/api/oauth2/token", "a=1&b=2");
  ASSERT_EQ(posted.stage, HttpStage::Done);
  EXPECT_EQ(posted.body, "got a=1&b=2");
  EXPECT_EQ(Fetch(server, L"GET", L"/avatars/1/h.png?size=64").body, "/avatars/1/h.png|size=64");
  EXPECT_EQ(Fetch(server, L"GET", L"/api/oauth2/token").body, "not found");
  EXPECT_EQ(Fetch(server, L"GET", L"/avatarsX").body, "not found");

  EXPECT_EQ(server.RequestCount(), 4);
  EXPECT_EQ(server.RequestCount("POST", "/api/oauth2/token"), 1);
  EXPECT_EQ(server.RequestCount("GET", "/avatars/1/h.png"), 1);
  EXPECT_EQ(server.Requests()[0].method, "POST");
}

TEST(LoopbackHttpServer, LargeBodiesBothWays) {
  LoopbackHttpServer server;
  server.Route("POST", "/echo", [](const LoopbackHttpRequest& r) { return Text(r.body); });
  ASSERT_TRUE(server.Start());
  std::string big(300000, 'z');
  big[12345] = 'y';
  EXPECT_EQ(Fetch(server, L"POST", L"/echo", big).body, big);
}

TEST(LoopbackHttpServer, DelayAndReset) {
  LoopbackHttpServer server;
  server.Route("GET", "/slow", [](const LoopbackHttpRequest&) {
    LoopbackHttpResponse r = Text("late");
    r.delayMs = 400;
    return r;
  });
  server.Route("GET", "/reset", [](const LoopbackHttpRequest&) {
    LoopbackHttpResponse r;
    r.resetConnection = true;
    return r;
  });
  ASSERT_TRUE(server.Start());
  ULONGLONG before = GetTickCount64();
  EXPECT_EQ(Fetch(server, L"GET", L"/slow").body, "late");
  EXPECT_GE(GetTickCount64() - before, 350u);
  HttpResult reset = Fetch(server, L"GET", L"/reset");
  EXPECT_NE(reset.stage, HttpStage::Done);
}

TEST(LoopbackHttpServer, StopCutsADelayShort) {
  auto server = std::make_unique<LoopbackHttpServer>();
  server->Route("GET", "/never", [](const LoopbackHttpRequest&) {
    LoopbackHttpResponse r = Text("x");
    r.delayMs = 60000;
    return r;
  });
  ASSERT_TRUE(server->Start());
  HttpResult result;
  std::thread client([&] { result = Fetch(*server, L"GET", L"/never"); });
  ULONGLONG deadline = GetTickCount64() + 5000;
  while (server->RequestCount() == 0 && GetTickCount64() < deadline) Sleep(5);
  ULONGLONG before = GetTickCount64();
  server->Stop();
  EXPECT_LT(GetTickCount64() - before, 2000u);
  client.join();
  EXPECT_NE(result.stage, HttpStage::Done);
}

TEST(LoopbackHttpServer, BusyPortIsReported) {
  LoopbackHttpServer first, second;
  ASSERT_TRUE(first.Start());
  EXPECT_FALSE(second.Start(first.Port()));
}

TEST(TestPng, ServedAvatarDecodesWithGdiplus) {
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartupInput input;
  ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
  struct Case {
    std::string png;
    UINT size;
    int x, y;
    Gdiplus::ARGB expected;
  };
  const Case cases[] = {
      {MakeSolidPng(3, 2, 0x80336699u), 3, 2, 1, 0x80336699u},
      {MakeSolidPng(300, 300, 0xFF102030u), 300, 299, 299, 0xFF102030u},  // more than one deflate block
      {*AvatarPng("/avatars/1/abc.png", "size=48"), 48, 15, 18, 0xFFFFFFFFu},  // a white eye
  };
  for (const Case& c : cases) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, c.png.size());
    memcpy(GlobalLock(memory), c.png.data(), c.png.size());
    GlobalUnlock(memory);
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(memory, TRUE, &stream), S_OK);
    Gdiplus::GpBitmap* bitmap = nullptr;
    ASSERT_EQ(Gdiplus::DllExports::GdipCreateBitmapFromStream(stream, &bitmap), Gdiplus::Ok);
    UINT width = 0, height = 0;
    Gdiplus::DllExports::GdipGetImageWidth(bitmap, &width);
    Gdiplus::DllExports::GdipGetImageHeight(bitmap, &height);
    EXPECT_EQ(width, c.size);
    EXPECT_EQ(height, c.size == 3 ? 2u : c.size);
    Gdiplus::ARGB pixel = 0;
    Gdiplus::DllExports::GdipBitmapGetPixel(bitmap, c.x, c.y, &pixel);
    EXPECT_EQ(pixel, c.expected);
    Gdiplus::DllExports::GdipDisposeImage(bitmap);
    stream->Release();
  }
  Gdiplus::GdiplusShutdown(token);
}
