#include "view/nccsv_writer.h"

#include <charconv>
#include <cmath>

namespace zol::view {
namespace {

void AppendNumber(std::string& line, double value) {
  if (std::isnan(value)) {
    line += "NaN";
    return;
  }
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  line.append(text, result.ptr);
}

bool NeedsEscape(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return c == '\\' || c == '"' || byte < 0x20 || byte >= 0x7F;
}

// Appends `text` as an NCCSV string. Most fields need neither quotes nor
// escapes: one look at each byte finds that out, and they go in whole.
void AppendNccsvString(std::string& out, std::string_view text, bool quote) {
  bool escape = false;
  bool separator = false;
  for (const char c : text) {
    escape |= NeedsEscape(c);
    separator |= c == ',' || c == '"';
  }
  quote = quote || separator || (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (quote) out += '"';
  if (!escape) {
    out += text;
  } else {
    for (const char c : text) {
      if (!NeedsEscape(c)) {
        out += c;
      } else if (c == '\\') {
        out += "\\\\";
      } else if (c == '\n') {
        out += "\\n";
      } else if (c == '\t') {
        out += "\\t";
      } else if (c == '"') {
        out += "\"\"";
      } else {
        char code[8];
        std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned char>(c));
        out += code;
      }
    }
  }
  if (quote) out += '"';
}

std::string NccsvAttribute(const Attribute& attribute) {
  std::string value;
  if (attribute.kind == Attribute::Kind::kText) return NccsvString(attribute.text, true);
  for (size_t i = 0; i < attribute.numbers.size(); ++i) {
    if (i > 0) value += ',';
    if (attribute.kind == Attribute::Kind::kBytes) {
      value += std::to_string(static_cast<int>(attribute.numbers[i])) + "b";
    } else if (attribute.kind == Attribute::Kind::kInt) {
      value += std::to_string(static_cast<int>(attribute.numbers[i])) + "i";
    } else {
      AppendNumber(value, attribute.numbers[i]);
      value += 'd';
    }
  }
  return value;
}

bool Written(std::FILE* out, std::string& error) {
  if (std::ferror(out) == 0) return true;
  error = "cannot write the NCCSV";
  return false;
}

// NCCSV holds one value per record and variable.
bool InTable(const Variable& variable) {
  return variable.type != Variable::Type::kCounts;
}

}  // namespace

std::string NccsvString(std::string_view text, bool quote) {
  std::string out;
  AppendNccsvString(out, text, quote);
  return out;
}

bool NccsvWriter::Begin(const Schema& schema, std::string& error) {
  schema_ = &schema;
  for (const Attribute& attribute : schema.globals) {
    Attribute shown = attribute;
    if (shown.name == "Conventions") shown.text += ", NCCSV-1.2";
    std::fprintf(out_, "*GLOBAL*,%s,%s\n", shown.name.c_str(), NccsvAttribute(shown).c_str());
  }
  for (const Variable& variable : schema.variables) {
    if (!InTable(variable)) continue;
    const char* type = variable.type == Variable::Type::kDouble ? "double"
                       : variable.type == Variable::Type::kByte ? "byte"
                                                                : "String";
    std::fprintf(out_, "%s,*DATA_TYPE*,%s\n", variable.name.c_str(), type);
    for (const Attribute& attribute : variable.attributes)
      std::fprintf(out_, "%s,%s,%s\n", variable.name.c_str(), attribute.name.c_str(),
                   NccsvAttribute(attribute).c_str());
  }
  std::fputs("\n*END_METADATA*\n", out_);
  std::string header;
  for (const Variable& variable : schema.variables) {
    if (InTable(variable)) header += (header.empty() ? "" : ",") + variable.name;
  }
  std::fprintf(out_, "%s\n", header.c_str());
  return Written(out_, error);
}

bool NccsvWriter::Write(const Chunk& chunk, std::string& error) {
  const std::vector<Variable>& variables = schema_->variables;
  for (size_t row = 0; row < chunk.rows; ++row) {
    line_.clear();
    bool first = true;
    for (size_t v = 0; v < variables.size(); ++v) {
      const Variable& variable = variables[v];
      if (!InTable(variable)) continue;
      if (!first) line_ += ',';
      first = false;
      if (variable.scalar) {
        AppendNccsvString(line_, schema_->station, false);
      } else if (variable.type == Variable::Type::kText) {
        AppendNccsvString(line_, chunk.Text(v, variable.width, row), false);
      } else {
        AppendNumber(line_, chunk.numbers[v][row]);
      }
    }
    line_ += '\n';
    std::fwrite(line_.data(), 1, line_.size(), out_);
  }
  return Written(out_, error);
}

bool NccsvWriter::End(std::string& error) {
  std::fputs("*END_DATA*\n", out_);
  return std::fflush(out_) == 0 && Written(out_, error);
}

}  // namespace zol::view
