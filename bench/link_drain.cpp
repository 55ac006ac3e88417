// zolbench_link: what the MQTT shore link costs. A backlog of 100,000
// record lines drained to a broker on this machine (time, lines a second,
// the link's CPU), and what a cycle pays while the broker cannot be reached
// (the nudge and the status notice it makes, per call, and the link's idle
// CPU meanwhile).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "forward/shore_link.h"
#include "support/mqtt_broker.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A KIRN data file: the header and `records` records as the ZOL makes them.
void WriteDataFile(const std::string& path, int records) {
  std::ofstream out(path, std::ios::binary);
  out << "#ALL RECORDS\nCRC, ID, DATE TIME, UTC SECS, CTD DEPTH, CTD TEMP, CTD SALINITY, SAMPLE "
         "COUNTER, POR COUNTER, KIRN_ERROR COUNTER, SYS_ERROR COUNTER, HOUSING TEMPERATURE, "
         "HOUSING HUMIDITY, INPUT VOLTAGE, INPUT CURRENT, MAX LAMP INTEN, MIN LAMP INTEN, DC MEAN, "
         "DC STDDEV, KIRN SALINITY, KIRN NITRATE, FIT ERROR, DAT PIXEL BEG, DAT PIXEL END, PACKED "
         "HEX DATA, SW DC\n\n\n";
  const std::string hex(200, 'A');
  for (int i = 0; i < records; ++i) {
    const int64_t t = 1796990000 + int64_t{i} * 60;
    const int64_t day = t / 86400;
    char line[512];
    std::snprintf(line, sizeof line,
                  "171C, ZOL0042, 2026/12/%02lld %02lld:%02lld:%02lld, %lld, 12.40, 15.3449, "
                  "33.5101, %d, 8, 0, 0, 13.60, 19.7, 11.90, 0.210, 47928, 1130, 816.8, 2.86, "
                  "33.52, 22.19, 0.0045, 35, 85, %s, 817\n",
                  static_cast<long long>(1 + day % 28), static_cast<long long>(t / 3600 % 24),
                  static_cast<long long>(t / 60 % 60), static_cast<long long>(t % 60),
                  static_cast<long long>(t), i + 1, hex.c_str());
    out << line;
  }
}

zol::forward::LinkSettings Settings(const std::string& url, const std::string& dataFile) {
  zol::forward::LinkSettings settings;
  zol::mqtt::ParseBrokerUrl(url, &settings.broker.url);
  settings.prefix = "zolsampler/ZOL0042";
  settings.station = "ZOL0042";
  settings.clientId = "zolbench-link";
  settings.layout = *zol::view::LayoutForKind("KIRN");
  settings.files = {{dataFile, false}};
  settings.keepAliveSeconds = 60;
  return settings;
}

int Drain(const std::string& dir, int records) {
  zol::test::MqttBroker broker(dir);
  if (!broker.Start()) {
    std::fprintf(stderr, "zolbench_link: the broker (mosquitto) did not start\n");
    return 1;
  }
  const std::string data = dir + "/ZOL0042_KIRN.dat";
  WriteDataFile(data, records);
  zol::forward::ShoreLink link(Settings(broker.Url(), data));
  const double cpu = CpuSeconds();
  const Clock::time_point start = Clock::now();
  std::string error;
  if (!link.Start(&error)) return 1;
  // A measuring loop: the link has no "drained" signal of its own.
  while (link.Backlog() > 0 && Since(start) < 120)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  const double seconds = Since(start);
  const double used = CpuSeconds() - cpu;
  const uint64_t lines = static_cast<uint64_t>(records) + 4;
  std::printf(
      "backlog of %llu lines (%.1f MB) drained in %.2f s: %.0f lines/s; link CPU %.2f s "
      "(%.0f%% of one core), %.1f us a line\n",
      static_cast<unsigned long long>(lines),
      static_cast<double>(std::ifstream(data, std::ios::ate).tellg()) / 1e6, seconds,
      static_cast<double>(lines) / seconds, used, 100 * used / seconds,
      1e6 * used / static_cast<double>(lines));
  link.Stop(5000);
  return link.Backlog() == 0 ? 0 : 1;
}

// The cycle's part while the broker is down: a nudge after the record and a
// status notice after the cycle.
void CycleCostWhileDown(const std::string& dir) {
  const std::string data = dir + "/ZOL0043_KIRN.dat";
  WriteDataFile(data, 10);
  const uint16_t port = zol::test::FreeTcpPort();  // nobody listens there
  zol::forward::ShoreLink link(Settings("mqtt://127.0.0.1:" + std::to_string(port), data));
  std::string error;
  if (!link.Start(&error)) return;
  std::vector<double> calls;
  for (int i = 0; i < 10000; ++i) {
    const Clock::time_point start = Clock::now();
    link.Nudge();
    link.StatusChanged();
    calls.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(calls.begin(), calls.end());
  const double cpu = CpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(30));
  const double idle = CpuSeconds() - cpu;
  std::printf(
      "broker down: a cycle's nudge and status notice %.2f us median, %.2f us 99th "
      "percentile; the link's CPU over 30 s of retries %.4f s (%.4f%% of one core)\n",
      calls[calls.size() / 2], calls[calls.size() * 99 / 100], idle, 100 * idle / 30);
  link.Stop(0);
}

}  // namespace

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
  zol::test::TempDir dir;
  const int status = Drain(dir.Path(), records);
  CycleCostWhileDown(dir.Path());
  return status;
}
