// zolctl: asks a running sampler over its control socket.
//   zolctl [--socket PATH | INSTANCE] [--json] COMMAND
// Exit status 0 when done, 1 when the sampler answered with an error or a
// sample stored no record, 2 when nothing could be asked.
#pragma once

#include <string>

namespace zol::ctl {

inline constexpr int kDone = 0;
inline constexpr int kRefused = 1;
inline constexpr int kNotAsked = 2;

struct Request {
  std::string path;
  std::string command;
  bool json = false;
};

// Reads the words after the program name; false with the reason in `error`.
bool ParseArguments(int argc, const char* const* argv, Request* request, std::string* error);

// The status object for a person, one fact a line; empty when `json` is no
// status object.
std::string DescribeStatus(const std::string& json);
// A sample's reply for a person, and whether it stored a record.
std::string DescribeSample(const std::string& json, bool* stored);

int RunZolctl(int argc, const char* const* argv);

}  // namespace zol::ctl
