// The Windows key readers: extended keys swallowed whole, and keys from a pipe.
#include "console/win32/console_keys.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace zol::test {
namespace {

TEST(ExtendedKeyFilterTest, TwoCodeKeysAreSwallowedWhole) {
  ExtendedKeyFilter filter;
  std::string delivered;
  // 'a', cursor up (224 72), F1 (0 59), Backspace, a second 224 as the code
  // of an extended key, Enter.
  for (const int code : {int{'a'}, 224, 72, 0, 59, 8, 224, 224, 13}) {
    const int key = filter.Take(code);
    if (key != ExtendedKeyFilter::kSwallowed) delivered.push_back(static_cast<char>(key));
  }
  EXPECT_EQ(delivered, std::string("a\b\r"));
}

class PipeKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    ASSERT_TRUE(::CreatePipe(&read, &write, nullptr, 0));
    readEnd_.Reset(read);
    writeEnd_.Reset(write);
  }
  void Send(const std::string& bytes) {
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(writeEnd_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                            &written, nullptr));
    ASSERT_EQ(written, bytes.size());
  }
  void EndInput() { writeEnd_.Reset(); }

  UniqueHandle readEnd_;
  UniqueHandle writeEnd_;
};

TEST_F(PipeKeysTest, BytesAreTheKeysAndTheEndIsNoKeyForever) {
  PipeKeys keys(readEnd_.Get());
  Send(std::string("1\r\n\x1a\xe0\x7f\x00", 7));
  EndInput();
  for (const int expected : {int{'1'}, int{'\r'}, int{'\n'}, 26, 224, 127, 0})
    EXPECT_EQ(keys.GetKey(), expected);
  EXPECT_EQ(keys.GetKey(), kNoKey);
  EXPECT_EQ(keys.GetKey(), kNoKey);
  EXPECT_FALSE(keys.KeyWaiting());
}

TEST_F(PipeKeysTest, KeyWaitingSeesKeysWithoutTakingThem) {
  PipeKeys keys(readEnd_.Get());
  EXPECT_FALSE(keys.KeyWaiting());
  Send("x");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (!keys.KeyWaiting() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(keys.KeyWaiting());
  EXPECT_EQ(keys.GetKey(), 'x');
  EndInput();
}

TEST_F(PipeKeysTest, InterruptEndsABlockedWaitAndIsKeptWhenEarly) {
  PipeKeys keys(readEnd_.Get());
  std::thread interrupter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    keys.InterruptKeyWait();
  });
  EXPECT_EQ(keys.GetKey(), kKeyInterrupted);
  interrupter.join();
  // An interrupt before the wait takes precedence over a waiting key.
  Send("k");
  keys.InterruptKeyWait();
  EXPECT_EQ(keys.GetKey(), kKeyInterrupted);
  EXPECT_EQ(keys.GetKey(), 'k');
  EndInput();
}

TEST_F(PipeKeysTest, ALongInputIsReadInBoundedStepsAndKeptWhole) {
  PipeKeys keys(readEnd_.Get());
  std::string sent;
  for (int i = 0; i < 20000; ++i)
    sent.push_back(static_cast<char>('a' + i % 26));
  std::thread writer([&] {
    Send(sent);
    EndInput();
  });
  std::string got;
  for (int key = keys.GetKey(); key >= 0; key = keys.GetKey())
    got.push_back(static_cast<char>(key));
  writer.join();
  EXPECT_EQ(got, sent);
}

}  // namespace
}  // namespace zol::test
