// The control channel's named pipe under the shared server's interface:
// names, the refusal of a live name, bytes both ways, the end of a client,
// the wake-up, and the pipe's access list read back (wine does not enforce
// it, so reading it back is the test).
#include <windows.h>
// After windows.h.
#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <memory>
#include <string>
#include <vector>

#include "base/win32/unique_handle.h"
#include "link/control_channel.h"

namespace zol {
namespace {

std::string TestPipe(const char* what) {
  return "zoltest-" + std::to_string(::GetCurrentProcessId()) + "-" + what;
}

std::unique_ptr<ControlListener> Listen(const std::string& name) {
  std::string error;
  auto listener = ListenOnControl(name, &error);
  EXPECT_NE(listener, nullptr) << error;
  return listener;
}

// Waits on one watch and says whether it became ready.
bool Ready(ControlListener& listener, ChannelWatch watch, int timeoutMs = 5000) {
  std::vector<ChannelWatch> watches{watch};
  listener.Wait(watches, timeoutMs);
  return watches[0].readable || watches[0].writable;
}

TEST(WindowsControlPipe, RefusesTakenAndBadNames) {
  const std::string name = TestPipe("taken");
  const auto live = Listen(name);
  const struct {
    std::string setting;
    std::string error;
  } cases[] = {
      {name, "\\\\.\\pipe\\" + name + " is in use by another sampler"},
      {"\\\\.\\pipe\\" + name, "\\\\.\\pipe\\" + name + " is in use by another sampler"},
      {"C:\\pipe", "C:\\pipe is no pipe name (\\\\.\\pipe\\NAME or NAME)"},
      {std::string(300, 'x'),
       std::string(300, 'x') + " is too long for a pipe name (at most 256 bytes)"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(ListenOnControl(c.setting, &error), nullptr) << c.setting;
    EXPECT_EQ(error, c.error);
  }
}

TEST(WindowsControlPipe, NoListenerIsSaidSo) {
  LinkFailure failure = LinkFailure::kNone;
  std::string reason;
  EXPECT_EQ(ConnectToControl(TestPipe("nobody"), &failure, &reason), nullptr);
  EXPECT_EQ(failure, LinkFailure::kNoListener) << reason;
  EXPECT_EQ(InstanceControlPath("zol42"), "\\\\.\\pipe\\zolsampler-zol42");
}

TEST(WindowsControlPipe, CarriesLinesBothWaysUntilTheClientGoes) {
  const std::string name = TestPipe("lines");
  const auto listener = Listen(name);
  LinkFailure failure = LinkFailure::kOther;
  std::string reason;
  auto link = ConnectToControl(name, &failure, &reason);
  ASSERT_NE(link, nullptr) << reason;
  ASSERT_TRUE(Ready(*listener, {ChannelWatch::kListener}));
  std::string peer;
  const int connection = listener->Accept(&peer);
  ASSERT_GE(connection, 0);
  EXPECT_FALSE(peer.empty());
  ASSERT_TRUE(link->WriteAll("status\n", 7));
  ASSERT_TRUE(Ready(*listener, {connection}));
  char buffer[64];
  ASSERT_EQ(listener->Read(connection, buffer, sizeof buffer), 7);
  EXPECT_EQ(std::string(buffer, 7), "status\n");
  EXPECT_EQ(listener->Read(connection, buffer, sizeof buffer), 0);
  ASSERT_EQ(listener->Write(connection, "{}\n", 3), 3);
  ASSERT_EQ(link->Read(buffer, sizeof buffer, false), 3);
  EXPECT_EQ(std::string(buffer, 3), "{}\n");
  link.reset();
  ASSERT_TRUE(Ready(*listener, {connection}));
  EXPECT_EQ(listener->Read(connection, buffer, sizeof buffer), -1);
  EXPECT_EQ(listener->Write(connection, "x", 1), -1);
  listener->Close(connection);
}

// A client that does not read: the writes stop being taken, the wait for
// room blocks, and the room comes back as the client reads.
TEST(WindowsControlPipe, AStalledReaderHoldsWritesWithoutBlocking) {
  const std::string name = TestPipe("stall");
  const auto listener = Listen(name);
  LinkFailure failure = LinkFailure::kOther;
  std::string reason;
  const auto link = ConnectToControl(name, &failure, &reason);
  ASSERT_NE(link, nullptr) << reason;
  ASSERT_TRUE(Ready(*listener, {ChannelWatch::kListener}));
  std::string peer;
  const int connection = listener->Accept(&peer);
  const std::string block(16 * 1024, 'x');
  std::size_t taken = 0;
  for (int i = 0; i < 64; ++i) {
    const long sent = listener->Write(connection, block.data(), block.size());
    ASSERT_GE(sent, 0);
    if (sent == 0) break;
    taken += static_cast<std::size_t>(sent);
  }
  ASSERT_LT(taken, 64 * block.size());
  EXPECT_FALSE(Ready(*listener, {connection, false, true}, 50));
  char buffer[4096];
  for (std::size_t got = 0; got < taken;) {
    const long count = link->Read(buffer, sizeof buffer, false);
    ASSERT_GT(count, 0);
    got += static_cast<std::size_t>(count);
  }
  EXPECT_TRUE(Ready(*listener, {connection, false, true}));
}

TEST(WindowsControlPipe, WaitEndsAtTheDeadlineOrTheWake) {
  const auto listener = Listen(TestPipe("wake"));
  EXPECT_FALSE(Ready(*listener, {ChannelWatch::kListener}, 50));
  listener->Wake();  // before the wait: it still ends it
  EXPECT_FALSE(Ready(*listener, {ChannelWatch::kListener}, -1));
}

TEST(WindowsControlPipe, OnlyAdministratorsAndTheOwnUserMayOpen) {
  const std::string name = TestPipe("acl");
  const auto listener = Listen(name);
  const std::wstring wide(L"\\\\.\\pipe\\" + std::wstring(name.begin(), name.end()));
  const UniqueHandle pipe(::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | READ_CONTROL,
                                        0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(pipe.Valid()) << ::GetLastError();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(::GetSecurityInfo(pipe.Get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  wchar_t* text = nullptr;
  ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(
      descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr));
  const std::wstring dacl(text);
  ::LocalFree(text);
  ::LocalFree(descriptor);
  HANDLE token = nullptr;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
  const UniqueHandle owned(token);
  alignas(TOKEN_USER) unsigned char user[256];
  DWORD size = 0;
  wchar_t* self = nullptr;
  ASSERT_TRUE(::GetTokenInformation(token, TokenUser, user, sizeof user, &size));
  ASSERT_TRUE(::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &self));
  const std::wstring selfText(self);
  ::LocalFree(self);
  // Protected, two entries that allow, both with full access.
  EXPECT_EQ(dacl.rfind(L"D:P(", 0), 0u) << std::string(dacl.begin(), dacl.end());
  EXPECT_NE(dacl.find(L";;;BA)"), std::wstring::npos);
  EXPECT_NE(dacl.find(L";;;" + selfText + L")"), std::wstring::npos);
  std::size_t entries = 0;
  for (std::size_t at = dacl.find(L"(A;;"); at != std::wstring::npos;
       at = dacl.find(L"(A;;", at + 1))
    ++entries;
  EXPECT_EQ(entries, 2u);
  EXPECT_EQ(dacl.find(L"(D;"), std::wstring::npos);
}

}  // namespace
}  // namespace zol
