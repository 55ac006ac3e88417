#include "sim/zol_records.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <numbers>

namespace zol::sim {
namespace {

// Every record starts with these fields; the sensor kind's own follow.
constexpr std::string_view kCommonColumns[] = {
    "CRC",      "ID",           "DATE TIME",      "UTC SECS",   "CTD DEPTH",
    "CTD TEMP", "CTD SALINITY", "SAMPLE COUNTER", "POR COUNTER"};

constexpr std::string_view kKirnOwnColumns[] = {"KIRN_ERROR COUNTER",
                                                "SYS_ERROR COUNTER",
                                                "HOUSING TEMPERATURE",
                                                "HOUSING HUMIDITY",
                                                "INPUT VOLTAGE",
                                                "INPUT CURRENT",
                                                "MAX LAMP INTEN",
                                                "MIN LAMP INTEN",
                                                "DC MEAN",
                                                "DC STDDEV",
                                                "KIRN SALINITY",
                                                "KIRN NITRATE",
                                                "FIT ERROR",
                                                "DAT PIXEL BEG",
                                                "DAT PIXEL END",
                                                "PACKED HEX DATA",
                                                "SW DC"};

constexpr std::string_view kPadoOwnColumns[] = {"PADO_ERROR COUNTER",
                                                "HOUSING TEMPERATURE",
                                                "HOUSING HUMIDITY",
                                                "INPUT VOLTAGE",
                                                "INPUT CURRENT",
                                                "FOOBAR PH VALUE",
                                                "BACKUP BATTERY",
                                                "VRS VOLTS",
                                                "VRS STDDEV",
                                                "VK VOLTS",
                                                "VK STDDEV",
                                                "IK AMPS",
                                                "IB AMPS"};

template <size_t N>
std::vector<std::string_view> WithCommonColumns(const std::string_view (&own)[N]) {
  std::vector<std::string_view> columns(std::begin(kCommonColumns), std::end(kCommonColumns));
  columns.insert(columns.end(), std::begin(own), std::end(own));
  return columns;
}

// The detector pixels a KIRN record carries in its packed hex data.
constexpr int kPixelBegin = 35;
constexpr int kPixelEnd = 85;

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
  char buffer[96];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

// CRC-16/CCITT-FALSE, the check the records carry over the text after it.
uint16_t Crc16(std::string_view text) {
  uint16_t crc = 0xFFFF;
  for (unsigned char byte : text) {
    crc ^= static_cast<uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) != 0 ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                : static_cast<uint16_t>(crc << 1);
    }
  }
  return crc;
}

std::string JoinWithCrc(const std::vector<std::string>& fields) {
  std::string body;
  for (const std::string& field : fields) {
    body += ", ";
    body += field;
  }
  body.erase(0, 2);
  return Format("%04X", Crc16(body)) + ", " + body;
}

// The analyser's own salinity follows the water's; before any values were
// handed over it shows that of open ocean water rather than none.
double SensorSalinity(const SampleContext& context) {
  constexpr double kOpenOcean = 35.0;
  return context.salinity > 0.0f ? static_cast<double>(context.salinity) : kOpenOcean;
}

}  // namespace

std::string UtcDateTime(int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts{};
  char buffer[32] = "";
  if (gmtime_r(&t, &parts) != nullptr) {
    if (std::strftime(buffer, sizeof buffer, "%Y/%m/%d %H:%M:%S", &parts) == 0) buffer[0] = '\0';
  }
  return buffer;
}

std::string_view SensorKindName(SensorKind kind) {
  return kind == SensorKind::kKirn ? "KIRN" : "PADO";
}

const std::vector<std::string_view>& RecordColumns(SensorKind kind) {
  static const std::vector<std::string_view> kirn = WithCommonColumns(kKirnOwnColumns);
  static const std::vector<std::string_view> pado = WithCommonColumns(kPadoOwnColumns);
  return kind == SensorKind::kKirn ? kirn : pado;
}

RecordMaker::RecordMaker(ZolIdentity identity, uint64_t seed)
    : identity_(identity), random_(seed), phase_(random_.Unit() * 2.0 * std::numbers::pi) {}

double RecordMaker::Reading(double base, double amplitude, double periodSeconds, double noise,
                            double elapsedSeconds) {
  // The period doubles as a phase offset, so readings do not move in step.
  double wave =
      std::sin(2.0 * std::numbers::pi * elapsedSeconds / periodSeconds + phase_ + periodSeconds);
  return base + amplitude * wave + noise * random_.Signed();
}

std::vector<std::string> RecordMaker::KirnFields(const SampleContext& c) {
  double t = c.elapsedSeconds;
  double lamp = Reading(48200, 350, 7200, 40, t);
  double dark = Reading(812, 6, 1800, 1.5, t);
  std::string packed;
  for (int pixel = kPixelBegin; pixel <= kPixelEnd; ++pixel) {
    double shape = std::exp(-std::pow((pixel - 60.0) / 14.0, 2.0));
    double counts = dark + (lamp - dark) * shape + 25.0 * random_.Signed();
    packed += Format("%04X", static_cast<unsigned>(std::clamp(counts, 0.0, 65535.0)));
  }
  return {Format("%d", 0),  // KIRN_ERROR COUNTER
          Format("%d", 0),  // SYS_ERROR COUNTER
          Format("%.2f", Reading(14.2, 0.6, 3600, 0.03, t)),
          Format("%.1f", Reading(18.5, 1.5, 5400, 0.2, t)),
          Format("%.2f", Reading(11.95, 0.05, 2400, 0.01, t)),
          Format("%.3f", Reading(0.212, 0.004, 900, 0.002, t)),
          Format("%.0f", lamp),
          Format("%.0f", Reading(1130, 12, 2700, 4, t)),
          Format("%.1f", dark),
          Format("%.2f", Reading(3.2, 0.3, 1300, 0.1, t)),
          Format("%.2f", SensorSalinity(c) + Reading(0.0, 0.02, 4000, 0.01, t)),
          Format("%.2f", Reading(23.4, 1.8, 10800, 0.15, t)),
          Format("%.4f", Reading(0.0042, 0.0006, 2000, 0.0002, t)),
          Format("%d", kPixelBegin),
          Format("%d", kPixelEnd),
          packed,
          Format("%.0f", dark)};
}

std::vector<std::string> RecordMaker::PadoFields(const SampleContext& c) {
  double t = c.elapsedSeconds;
  return {Format("%d", 0),  // PADO_ERROR COUNTER
          Format("%.2f", Reading(13.8, 0.6, 3600, 0.03, t)),
          Format("%.1f", Reading(21.0, 1.5, 5400, 0.2, t)),
          Format("%.2f", Reading(12.02, 0.05, 2400, 0.01, t)),
          Format("%.3f", Reading(0.094, 0.003, 900, 0.001, t)),
          Format("%.4f", Reading(8.0512, 0.012, 7200, 0.0008, t)),
          Format("%.2f", Reading(3.04, 0.01, 86400, 0.002, t)),
          Format("%.6f", Reading(-0.881234, 0.0008, 3000, 0.00002, t)),
          Format("%.6f", Reading(0.000012, 0.000002, 1100, 0.000001, t)),
          Format("%.6f", Reading(-0.932111, 0.0008, 3300, 0.00002, t)),
          Format("%.6f", Reading(0.000015, 0.000002, 1200, 0.000001, t)),
          Format("%.3e", Reading(1.2e-9, 0.1e-9, 2500, 0.02e-9, t)),
          Format("%.3e", Reading(-2.4e-10, 0.2e-10, 2600, 0.05e-10, t))};
}

std::string RecordMaker::MakeRecord(const SampleContext& c) {
  std::vector<std::string> fields = {
      Format("ZOL%04d", identity_.serialNumber),
      UtcDateTime(c.clockSeconds),
      Format("%lld", static_cast<long long>(c.clockSeconds)),
      Format("%.2f", static_cast<double>(c.pressure)),
      Format("%.4f", static_cast<double>(c.temperature)),
      Format("%.4f", static_cast<double>(c.salinity)),
      Format("%d", c.sampleCounter),
      Format("%d", c.powerOnCounter),
  };
  std::vector<std::string> readings =
      identity_.kind == SensorKind::kKirn ? KirnFields(c) : PadoFields(c);
  fields.insert(fields.end(), readings.begin(), readings.end());
  return JoinWithCrc(fields);
}

std::vector<std::string> RecordMaker::ConfigLines(int mode, int64_t clockSeconds) const {
  std::vector<std::string> lines = {
      "CFG,FIRMWARE,ZOL-CTL 3.12.4 (2023-11-02)",
      "CFG,HARDWARE,CTL REV C",
      Format("CFG,SERIAL NUMBER,%04d", identity_.serialNumber),
      "CFG,SENSOR," + std::string(SensorKindName(identity_.kind)),
      Format("CFG,SAMPLE MODE,%d", mode),
      Format("CFG,MEASURE TIME,%.1f s", static_cast<double>(identity_.measureMs) / 1000.0),
      Format("CFG,CLOCK,%lld", static_cast<long long>(clockSeconds)),
  };
  if (identity_.kind == SensorKind::kKirn) {
    lines.insert(lines.end(), {"CFG,SENSOR SERIAL,KN-1187", "CFG,CAL DATE,2024-03-18",
                               "CFG,CAL NO3 SLOPE,1.02340", "CFG,CAL NO3 OFFSET,-0.03412",
                               "CFG,CAL TEMP COEFF,0.000750", "CFG,LAMP HOURS,412.6"});
  } else {
    lines.insert(lines.end(), {"CFG,SENSOR SERIAL,PD-0311", "CFG,CAL DATE,2024-01-09",
                               "CFG,CAL K0,-1.392755", "CFG,CAL K2,-0.001048",
                               "CFG,CAL VRS OFFSET,0.000120", "CFG,BATTERY CHANGED,2024-01-09"});
  }
  return lines;
}

}  // namespace zol::sim
