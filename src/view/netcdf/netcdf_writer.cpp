#include "view/netcdf/netcdf_writer.h"

#include <netcdf.h>

#include <cstddef>
#include <cstdio>

namespace zol::view {
namespace {

// Shuffle and deflate on every variable; level 1 gains nearly all the size
// of higher levels at a fraction of their time (see BENCHMARKS.md).
constexpr int kDeflateLevel = 1;

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
    case Attribute::Kind::kInt: {
      std::vector<int> ints(attribute.numbers.begin(), attribute.numbers.end());
      return nc_put_att_int(file, variable, attribute.name.c_str(), NC_INT, ints.size(),
                            ints.data());
    }
  }
  return NC_EINVAL;
}

nc_type TypeOf(Variable::Type type) {
  switch (type) {
    case Variable::Type::kDouble:
      return NC_DOUBLE;
    case Variable::Type::kByte:
      return NC_BYTE;
    case Variable::Type::kCounts:
      return NC_INT;
    case Variable::Type::kText:
      break;
  }
  return NC_CHAR;
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

// The pixel axis and its coordinate variable, when there are spectra.
bool NetcdfWriter::DefinePixels(const Schema& schema, std::string& error) {
  if (schema.pixels.Count() <= 0) return true;
  const size_t count = static_cast<size_t>(schema.pixels.Count());
  if (!Check(nc_def_dim(file_, "pixel", count, &pixelDim_), error) ||
      !Check(nc_def_var(file_, "pixel", NC_INT, 1, &pixelDim_, &pixelVar_), error))
    return false;
  const Attribute name{"long_name", Attribute::Kind::kText, "detector pixel number", {}};
  return Check(PutAttribute(file_, pixelVar_, name), error);
}

// One variable: its dimensions (time first unless scalar, then the pixel
// axis or the text's length), chunks of the schema's rows, compression.
bool NetcdfWriter::DefineVariable(const Variable& variable, std::string& error) {
  std::vector<int> dims;
  std::vector<size_t> chunks;
  if (!variable.scalar) {
    dims.push_back(timeDim_);
    chunks.push_back(chunkRows_);
  }
  size_t valueBytes = 8;
  if (variable.type == Variable::Type::kText) {
    int length = -1;
    if (!Check(nc_def_dim(file_, (variable.name + "_length").c_str(), variable.width, &length),
               error))
      return false;
    dims.push_back(length);
    chunks.push_back(variable.width);
    valueBytes = 1;
  } else if (variable.type == Variable::Type::kCounts) {
    dims.push_back(pixelDim_);
    chunks.push_back(static_cast<size_t>(pixelCount_));
    valueBytes = 4;
  }
  int id = -1;
  if (!Check(nc_def_var(file_, variable.name.c_str(), TypeOf(variable.type),
                        static_cast<int>(dims.size()), dims.data(), &id),
             error))
    return false;
  if (!variable.scalar) {
    if (!Check(nc_def_var_chunking(file_, id, NC_CHUNKED, chunks.data()), error) ||
        !Check(nc_def_var_deflate(file_, id, 1, 1, kDeflateLevel), error))
      return false;
    // Each chunk is written once, whole, and never read again: a cache of
    // one chunk keeps memory flat.
    size_t bytes = valueBytes;
    for (const size_t extent : chunks)
      bytes *= extent;
    if (!Check(nc_set_var_chunk_cache(file_, id, bytes, 1, 1.0f), error)) return false;
  }
  if (variable.type == Variable::Type::kText) {
    // Readers turn the characters into strings.
    const Attribute encoding{"_Encoding", Attribute::Kind::kText, "utf-8", {}};
    if (!Check(PutAttribute(file_, id, encoding), error)) return false;
  }
  for (const Attribute& attribute : variable.attributes) {
    if (!Check(PutAttribute(file_, id, attribute), error)) return false;
  }
  ids_.push_back(id);
  return true;
}

bool NetcdfWriter::Begin(const Schema& schema, std::string& error) {
  schema_ = &schema;
  chunkRows_ = schema.chunkRows;
  pixelCount_ = schema.pixels.Count();
  if (!Check(nc_create(path_.c_str(), NC_CLOBBER | NC_NETCDF4, &file_), error)) return false;
  created_ = true;
  if (!Check(nc_def_dim(file_, "time", NC_UNLIMITED, &timeDim_), error)) return false;
  for (const Attribute& attribute : schema.globals) {
    if (!Check(PutAttribute(file_, NC_GLOBAL, attribute), error)) return false;
  }
  if (!DefinePixels(schema, error)) return false;
  for (const Variable& variable : schema.variables) {
    if (!DefineVariable(variable, error)) return false;
  }
  if (!Check(nc_enddef(file_), error)) return false;
  if (pixelVar_ >= 0) {
    std::vector<int> pixels;
    for (int p = schema.pixels.first; p <= schema.pixels.last; ++p)
      pixels.push_back(p);
    if (!Check(nc_put_var_int(file_, pixelVar_, pixels.data()), error)) return false;
  }
  for (size_t v = 0; v < schema.variables.size(); ++v) {
    if (!schema.variables[v].scalar) continue;
    const size_t start = 0;
    const size_t count = schema.station.size();
    if (!Check(nc_put_vara_text(file_, ids_[v], &start, &count, schema.station.data()), error))
      return false;
  }
  return true;
}

bool NetcdfWriter::Write(const Chunk& chunk, std::string& error) {
  if (chunk.rows == 0) return true;
  for (size_t v = 0; v < schema_->variables.size(); ++v) {
    const Variable& variable = schema_->variables[v];
    if (variable.scalar) continue;
    const size_t start[2] = {written_, 0};
    size_t count[2] = {chunk.rows, 0};
    int status = NC_NOERR;
    switch (variable.type) {
      case Variable::Type::kDouble:
        status = nc_put_vara_double(file_, ids_[v], start, count, chunk.numbers[v].data());
        break;
      case Variable::Type::kByte:
        bytes_.assign(chunk.numbers[v].begin(),
                      chunk.numbers[v].begin() + static_cast<std::ptrdiff_t>(chunk.rows));
        status = nc_put_vara_schar(file_, ids_[v], start, count, bytes_.data());
        break;
      case Variable::Type::kText:
        count[1] = variable.width;
        status = nc_put_vara_text(file_, ids_[v], start, count, chunk.texts[v].data());
        break;
      case Variable::Type::kCounts:
        count[1] = static_cast<size_t>(pixelCount_);
        status = nc_put_vara_int(file_, ids_[v], start, count, chunk.counts[v].data());
        break;
    }
    if (!Check(status, error)) return false;
  }
  written_ += chunk.rows;
  return true;
}

bool NetcdfWriter::End(std::string& error) {
  const int status = nc_close(file_);
  file_ = -1;
  finished_ = status == NC_NOERR;
  return Check(status, error);
}

}  // namespace zol::view
