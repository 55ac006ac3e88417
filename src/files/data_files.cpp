#include "files/data_files.h"

#include "base/value_format.h"
#include "files/line_file.h"

namespace zol {
namespace {

constexpr const char* kKirnColumns =
    "CRC, ID, DATE TIME, UTC SECS, CTD DEPTH, CTD TEMP, CTD SALINITY, SAMPLE COUNTER, POR "
    "COUNTER, KIRN_ERROR COUNTER, SYS_ERROR COUNTER, HOUSING TEMPERATURE, HOUSING HUMIDITY, "
    "INPUT VOLTAGE, INPUT CURRENT, MAX LAMP INTEN, MIN LAMP INTEN, DC MEAN, DC STDDEV, KIRN "
    "SALINITY, KIRN NITRATE, FIT ERROR, DAT PIXEL BEG, DAT PIXEL END, PACKED HEX DATA, SW DC";

constexpr const char* kPadoColumns =
    "CRC, ID, DATE TIME, UTC SECS, CTD DEPTH, CTD TEMP, CTD SALINITY, SAMPLE COUNTER, POR "
    "COUNTER, PADO_ERROR COUNTER, HOUSING TEMPERATURE, HOUSING HUMIDITY, INPUT VOLTAGE, INPUT "
    "CURRENT, FOOBAR PH VALUE, BACKUP BATTERY, VRS VOLTS, VRS STDDEV, VK VOLTS, VK STDDEV, IK "
    "AMPS, IB AMPS";

}  // namespace

void FormatPath(char* destination, const char* format, uint16_t serialNumber,
                const char* modeName) {
  FormatNumberAndText(destination, kPathSize, format, serialNumber, modeName);
}

void WriteDataFileHeader(LineFile& file, uint16_t mode) {
  file.Printf("#ALL RECORDS\n%s\n\n\n", mode == 1 ? kKirnColumns : kPadoColumns);
}

}  // namespace zol
