// For the shared tests that hold on Linux only: each skips in the Windows
// build (GTEST_SKIP, under kWindowsBuild) with its reason.
#pragma once

namespace zol::test {

#ifdef _WIN32
inline constexpr bool kWindowsBuild = true;
#else
inline constexpr bool kWindowsBuild = false;
#endif

// The C runtime reads TZ as a POSIX rule ("EST5EDT") only.
inline constexpr const char* kNoZoneNames = "the C runtime reads no zone names of the tz database";

}  // namespace zol::test
