#include "view/netcdf/netcdf_writer.h"

#include <netcdf.h>

#include <cstddef>
#include <cstdio>

namespace zol::view {
namespace {

constexpr char kStation[] = "station";
constexpr size_t kCacheBytes = size_t{256} * 1024;
constexpr size_t kCacheSlots = 17;

int PutAttribute(int file, int variable, const Attribute& attribute) {
  switch (attribute.kind) {
    case Attribute::Kind::kText:
      return nc_put_att_text(file, variable, attribute.name.c_str(), attribute.text.size(),
                             attribute.text.c_str());
    case Attribute::Kind::kDouble:
      return nc_put_att_double(file, variable, attribute.name.c_str(), NC_DOUBLE,
                               attribute.numbers.size(), attribute.numbers.data());
    case Attribute::Kind::kBytes: {
      std::vector<signed char> bytes(attribute.numbers.begin(), attribute.numbers.end());
      return nc_put_att_schar(file, variable, attribute.name.c_str(), NC_BYTE, bytes.size(),
                              bytes.data());
    }
  }
  return NC_EINVAL;
}

nc_type TypeOf(Variable::Type type) {
  return type == Variable::Type::kDouble ? NC_DOUBLE
         : type == Variable::Type::kByte ? NC_BYTE
                                         : NC_STRING;
}

}  // namespace

NetcdfWriter::~NetcdfWriter() {
  if (file_ >= 0) nc_close(file_);
}

void NetcdfWriter::DiscardUnfinished() {
  if (!created_ || finished_) return;
  if (file_ >= 0) nc_close(file_);
  file_ = -1;
  // A half-written file must not pass for a result; if it cannot be
  // removed the failure has been reported already and nothing more helps.
  (void)std::remove(path_.c_str());
}

bool NetcdfWriter::Check(int status, std::string& error) const {
  if (status == NC_NOERR) return true;
  error = path_ + ": " + nc_strerror(status);
  return false;
}

bool NetcdfWriter::Begin(const Schema& schema, std::string& error) {
  schema_ = &schema;
  if (!Check(nc_create(path_.c_str(), NC_CLOBBER | NC_NETCDF4, &file_), error)) return false;
  created_ = true;
  int time = -1;
  if (!Check(nc_def_dim(file_, "time", NC_UNLIMITED, &time), error)) return false;
  for (const Attribute& attribute : schema.globals) {
    if (!Check(PutAttribute(file_, NC_GLOBAL, attribute), error)) return false;
  }
  for (const Variable& variable : schema.variables) {
    // One instrument is one station: its ID is a scalar.
    const bool scalar = variable.name == kStation;
    int id = -1;
    if (!Check(nc_def_var(file_, variable.name.c_str(), TypeOf(variable.type), scalar ? 0 : 1,
                          &time, &id),
               error))
      return false;
    if (!scalar) {
      const size_t chunk = kChunkRows;
      if (!Check(nc_def_var_chunking(file_, id, NC_CHUNKED, &chunk), error)) return false;
      // Each chunk is written once, whole, and never read again: a cache of
      // about one chunk keeps memory flat.
      if (!Check(nc_set_var_chunk_cache(file_, id, kCacheBytes, kCacheSlots, 1.0f), error))
        return false;
    }
    for (const Attribute& attribute : variable.attributes) {
      if (!Check(PutAttribute(file_, id, attribute), error)) return false;
    }
    ids_.push_back(id);
  }
  if (!Check(nc_enddef(file_), error)) return false;
  for (size_t v = 0; v < schema.variables.size(); ++v) {
    if (schema.variables[v].name != kStation) continue;
    const char* station = schema.station.c_str();
    if (!Check(nc_put_var_string(file_, ids_[v], &station), error)) return false;
  }
  return true;
}

bool NetcdfWriter::Write(const Chunk& chunk, std::string& error) {
  const size_t start = written_;
  const size_t count = chunk.rows;
  std::vector<const char*> texts;
  std::vector<signed char> bytes;
  for (size_t v = 0; v < schema_->variables.size(); ++v) {
    const Variable& variable = schema_->variables[v];
    if (variable.name == kStation || count == 0) continue;
    int status = NC_NOERR;
    if (variable.type == Variable::Type::kDouble) {
      status = nc_put_vara_double(file_, ids_[v], &start, &count, chunk.numbers[v].data());
    } else if (variable.type == Variable::Type::kByte) {
      bytes.assign(chunk.numbers[v].begin(),
                   chunk.numbers[v].begin() + static_cast<std::ptrdiff_t>(count));
      status = nc_put_vara_schar(file_, ids_[v], &start, &count, bytes.data());
    } else {
      texts.clear();
      for (size_t row = 0; row < count; ++row)
        texts.push_back(chunk.texts[v][row].c_str());
      status = nc_put_vara_string(file_, ids_[v], &start, &count, texts.data());
    }
    if (!Check(status, error)) return false;
  }
  written_ += count;
  return true;
}

bool NetcdfWriter::End(std::string& error) {
  const int status = nc_close(file_);
  file_ = -1;
  finished_ = status == NC_NOERR;
  return Check(status, error);
}

}  // namespace zol::view
