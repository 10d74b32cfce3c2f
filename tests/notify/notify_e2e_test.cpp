// notify_send.exe against a running Voxmere.exe, over both endpoints: each
// notification is queued, drained and handed to the overlay as a card.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/voxmere_instance.h"

namespace {

int RunSender(const std::wstring& arguments) {
  ChildProcess sender;
  const std::wstring command = L"\"" + TestBinDirectory() + L"\\notify_send.exe\" " + arguments;
  if (!sender.Start(command, TestBinDirectory(), true)) return -1;
  return sender.WaitExit(20000);
}

TEST(NotifyE2eTest, SenderReachesRunningVoxmereOverBothEndpoints) {
  VoxmereInstance voxmere(L"voxmere_notify_e2e");
  ASSERT_TRUE(voxmere.Ready());
  ASSERT_TRUE(voxmere.WriteConfig(TestConfig()));
  ASSERT_TRUE(voxmere.Start());
  ASSERT_TRUE(voxmere.WaitLogged("[NotifServer] Waiting for pipe client connection..."));
  // The port is the whole machine's: another program may hold it for a
  // while, and the server retries by itself until it is free.
  ASSERT_TRUE(voxmere.WaitLogged("[NotifServer] WebSocket server listening on port 47523", 1, 45000));

  EXPECT_EQ(RunSender(L"--pipe --displayName \"E2E pipe\" --content \"over the pipe\" --channelName general"), 0);
  EXPECT_EQ(RunSender(L"--websocket --username e2e --displayName \"E2E socket\" --content \"over the socket\""), 0);
  ASSERT_TRUE(voxmere.WaitLogged("[NotifServer] Queued notification from pipe: E2E pipe"));
  ASSERT_TRUE(voxmere.WaitLogged("[NotifServer] Queued notification, pending count: "));
  ASSERT_TRUE(voxmere.WaitLogged("[NotifServer] Calling callback for notification", 2))
      << ::testing::PrintToString(voxmere.Log());
  EXPECT_TRUE(voxmere.WaitLogged("Added notification - displayName: E2E pipe, content: over the pipe"));
  EXPECT_TRUE(voxmere.WaitLogged("Added notification - displayName: E2E socket, content: over the socket"));
  EXPECT_EQ(voxmere.Exit(), 0);
  EXPECT_EQ(voxmere.Log("[NotifServer] Notification server stopped").size(), 1u);
}

}  // namespace
