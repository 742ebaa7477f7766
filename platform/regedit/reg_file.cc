#include "platform/regedit/reg_file.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/utf.h"

namespace hm::regedit {
namespace {

constexpr std::u16string_view kHeader4 = u"REGEDIT4";
constexpr std::u16string_view kHeader5 = u"Windows Registry Editor Version 5.00";

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

std::u16string_view SkipBlanks(std::u16string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return s.substr(i);
}

// True when nothing but blanks and an optional ';' comment is left.
bool OnlyTrailer(std::u16string_view s) {
  s = SkipBlanks(s);
  return s.empty() || s[0] == u';';
}

// File text quoted in an error message: UTF-8, lone surrogates as U+FFFD, cut at 40 code units.
std::string Quote(std::u16string_view s) {
  constexpr size_t kMax = 40;
  return "'" + ToUtf8(s.substr(0, kMax)) + (s.size() > kMax ? "..." : "") + "'";
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool DecodeUtf8(std::string_view in, std::u16string* out) {
  size_t i = 0;
  while (i < in.size()) {
    const auto b = static_cast<uint8_t>(in[i]);
    int extra = 0;
    char32_t cp = 0, min = 0;
    if (b < 0x80) {
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      extra = 1, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3, cp = b & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (in.size() - i <= static_cast<size_t>(extra)) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto c = static_cast<uint8_t>(in[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    if (cp >= 0x10000) {
      out->push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(cp));
    }
    i += extra + 1;
  }
  return true;
}

void AppendUtf16Le(std::u16string_view s, std::string* out) {
  for (char16_t c : s) {
    out->push_back(static_cast<char>(c & 0xFF));
    out->push_back(static_cast<char>(c >> 8));
  }
}

// Splits on CR LF, LF and a lone CR, the three line ends Windows' regedit honours. A final
// line without an end still counts; a file ending in a line end has no extra empty line.
// `ends` receives each line's own end ("" for a final line without one): a quoted string that
// spans lines keeps the line end it contains.
template <typename View>
std::vector<View> SplitLines(View text, std::vector<std::u16string>* ends) {
  std::vector<View> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n' && text[i] != '\r') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      ends->push_back(u"\r\n");
    } else {
      ends->push_back(text[i] == '\r' ? u"\r" : u"\n");
    }
    start = i + 1;
  }
  if (start < text.size()) {
    lines.push_back(text.substr(start));
    ends->emplace_back();
  }
  return lines;
}

// The file's text as UTF-16 lines plus its format number; encoding errors name their line.
struct Text {
  int format = 0;
  std::vector<std::u16string> lines;
  std::vector<std::u16string> ends;  // the end of each line: "\r\n", "\n", "\r" or ""
};

class Reader {
 public:
  Reader(const CodePage& ansi, std::string_view label) : ansi_(ansi), label_(label) {}

  Result<RegFile> Parse(std::string_view bytes);

 private:
  Status Error(int line, std::string what) const {
    return Status::Error(kErrorInvalidData,
                         std::string(label_) + ": line " + std::to_string(line) + ": " + what);
  }

  Status Decode(std::string_view bytes, Text* text) const;
  Status DecodeBytes(std::string_view bytes, bool utf8_bom, Text* text) const;
  Status CheckText(Text* text) const;

  Status ParseLine(std::u16string_view line);
  Status ParseKeyLine(std::u16string_view rest);
  Status ParseValueLine(std::u16string_view line);
  Status ParseQuoted(std::u16string_view* s, std::u16string* out);
  Status ParseData(std::u16string_view s, ValueOp* op);
  Status ParseDword(std::u16string_view s, ValueOp* op);
  Status ParseHexType(std::u16string_view* s, uint32_t* type) const;
  Status ParseHexSegment(std::u16string_view s, std::string* out, bool* more) const;
  Status ContinueHex(std::u16string_view line);
  void FinishValue();

  const CodePage& ansi_;
  const std::string_view label_;
  int format_ = 0;
  int line_no_ = 0;
  // The text being parsed and the index of the current line (a quoted string that spans lines
  // moves it on).
  const Text* text_ = nullptr;
  size_t index_ = 0;
  RegFile file_;
  // A hex list whose last line ended in '\': the value waits here for its next line.
  std::optional<ValueOp> pending_;
};

Status Reader::Decode(std::string_view bytes, Text* text) const {
  auto starts = [&](std::string_view p) { return bytes.substr(0, p.size()) == p; };
  if (starts("\xFF\xFE")) {
    std::string_view body = bytes.substr(2);
    std::u16string wide(body.size() / 2, u'\0');
    for (size_t i = 0; i < wide.size(); ++i) {
      wide[i] = static_cast<char16_t>(static_cast<uint8_t>(body[2 * i]) |
                                      (static_cast<uint8_t>(body[2 * i + 1]) << 8));
    }
    for (std::u16string_view l : SplitLines(std::u16string_view(wide), &text->ends)) {
      text->lines.emplace_back(l);
    }
    if (body.size() % 2 != 0) {
      return Error(static_cast<int>(text->lines.size()), "odd number of bytes in a UTF-16 file");
    }
    return CheckText(text);
  }
  if (starts("\xFE\xFF")) return Error(1, "big-endian UTF-16 files are not supported");
  if (starts("\xEF\xBB\xBF")) return DecodeBytes(bytes.substr(3), true, text);
  return DecodeBytes(bytes, false, text);
}

// Without a byte-order mark the header decides: REGEDIT4 text is ANSI, version 5 text UTF-8.
Status Reader::DecodeBytes(std::string_view bytes, bool utf8_bom, Text* text) const {
  std::vector<std::string_view> raw = SplitLines(bytes, &text->ends);
  bool utf8 = utf8_bom;
  if (!utf8 && !raw.empty()) {
    std::string_view head = raw[0];
    while (!head.empty() && (head[0] == ' ' || head[0] == '\t')) head.remove_prefix(1);
    utf8 = head != "REGEDIT4";
  }
  for (size_t i = 0; i < raw.size(); ++i) {
    std::u16string line;
    if (!utf8) {
      line = ansi_.ToUtf16(raw[i]);
    } else if (!DecodeUtf8(raw[i], &line)) {
      // An undecodable first line cannot be a header: say what the file is not.
      return Error(static_cast<int>(i + 1), i == 0 ? "not a registry file" : "not valid UTF-8");
    }
    text->lines.push_back(std::move(line));
  }
  return CheckText(text);
}

// No NUL anywhere (regedit reads lines as C strings), and a known header on line 1.
Status Reader::CheckText(Text* text) const {
  for (size_t i = 0; i < text->lines.size(); ++i) {
    if (text->lines[i].find(u'\0') != std::u16string::npos) {
      return Error(static_cast<int>(i + 1), "NUL character in the text");
    }
  }
  std::u16string_view head = text->lines.empty() ? u"" : SkipBlanks(text->lines[0]);
  if (head == kHeader4) {
    text->format = 4;
  } else if (head == kHeader5) {
    text->format = 5;
  } else {
    return Error(1,
                 "not a registry file: the first line must be \"REGEDIT4\" or "
                 "\"Windows Registry Editor Version 5.00\", not " +
                     Quote(head));
  }
  return Status::Ok();
}

Result<RegFile> Reader::Parse(std::string_view bytes) {
  Text text;
  HM_RETURN_IF_ERROR(Decode(bytes, &text));
  format_ = file_.format = text.format;
  text_ = &text;
  for (index_ = 1; index_ < text.lines.size(); ++index_) {
    line_no_ = static_cast<int>(index_ + 1);
    const std::u16string& line = text.lines[index_];
    HM_RETURN_IF_ERROR(pending_ ? ContinueHex(line) : ParseLine(line));
  }
  text_ = nullptr;
  // Like regedit, a list whose last line ends in '\' at the end of the file is complete.
  if (pending_) FinishValue();
  return std::move(file_);
}

Status Reader::ParseLine(std::u16string_view line) {
  std::u16string_view s = SkipBlanks(line);
  if (s.empty() || s[0] == u';') return Status::Ok();
  if (s[0] == u'[') return ParseKeyLine(s.substr(1));
  if (s[0] == u'@' || s[0] == u'"') return ParseValueLine(s);
  return Error(line_no_, "unexpected text " + Quote(s));
}

struct Root {
  std::u16string_view name;
  std::u16string_view full;
};
constexpr Root kRoots[] = {
    {u"HKEY_LOCAL_MACHINE", u"HKEY_LOCAL_MACHINE"},
    {u"HKEY_CURRENT_USER", u"HKEY_CURRENT_USER"},
    {u"HKEY_CLASSES_ROOT", u"HKEY_CLASSES_ROOT"},
    {u"HKEY_USERS", u"HKEY_USERS"},
    {u"HKEY_CURRENT_CONFIG", u"HKEY_CURRENT_CONFIG"},
    {u"HKEY_PERFORMANCE_DATA", u"HKEY_PERFORMANCE_DATA"},
    {u"HKEY_DYN_DATA", u"HKEY_DYN_DATA"},
    {u"HKLM", u"HKEY_LOCAL_MACHINE"},
    {u"HKCU", u"HKEY_CURRENT_USER"},
    {u"HKCR", u"HKEY_CLASSES_ROOT"},
    {u"HKU", u"HKEY_USERS"},
    {u"HKCC", u"HKEY_CURRENT_CONFIG"},
};

bool AsciiIEqual(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x -= 32;
    if (y >= u'a' && y <= u'z') y -= 32;
    if (x != y) return false;
  }
  return true;
}

// `rest` follows the '['. The key text runs to the last ']' of the line, as in regedit, so key
// names may themselves contain ']'.
Status Reader::ParseKeyLine(std::u16string_view rest) {
  if (!rest.empty() && IsBlank(rest[0])) return Error(line_no_, "blank after '['");
  const size_t close = rest.rfind(u']');
  if (close == std::u16string_view::npos) return Error(line_no_, "key line without ']'");
  if (!SkipBlanks(rest.substr(close + 1)).empty()) {
    return Error(line_no_, "text after ']': " + Quote(rest.substr(close + 1)));
  }
  KeyOp key;
  key.line = line_no_;
  std::u16string_view text = rest.substr(0, close);
  if (!text.empty() && text[0] == u'-') {
    key.remove = true;
    text.remove_prefix(1);
  }
  const size_t slash = text.find(u'\\');
  std::u16string_view root = text.substr(0, slash);
  const Root* match = nullptr;
  for (const Root& r : kRoots) {
    if (AsciiIEqual(root, r.name)) match = &r;
  }
  if (match == nullptr) return Error(line_no_, "unknown root key " + Quote(root));
  std::u16string_view path = slash == std::u16string_view::npos ? u"" : text.substr(slash);
  if (key.remove && path.size() <= 1) {
    return Error(line_no_, "a root key cannot be deleted: " + Quote(text));
  }
  key.key_text = std::u16string(match->full) + std::u16string(path);
  file_.keys.push_back(std::move(key));
  return Status::Ok();
}

// `*s` starts after an opening quote. Reads up to the closing quote, resolving the escapes
// \\ \" \n \r, and leaves `*s` after the closing quote. A string that reaches the end of its
// line without the closing quote goes on at the start of the next line and holds the line end
// between them as it is in the file (regedit writes line breaks inside strings as they are).
Status Reader::ParseQuoted(std::u16string_view* s, std::u16string* out) {
  const int first_line = line_no_;
  for (;;) {
    for (size_t i = 0; i < s->size(); ++i) {
      const char16_t c = (*s)[i];
      if (c == u'"') {
        s->remove_prefix(i + 1);
        return Status::Ok();
      }
      if (c != u'\\') {
        out->push_back(c);
        continue;
      }
      if (++i == s->size()) return Error(line_no_, "missing closing quote");
      switch ((*s)[i]) {
        case u'\\':
        case u'"':
          out->push_back((*s)[i]);
          break;
        case u'n':
          out->push_back(u'\n');
          break;
        case u'r':
          out->push_back(u'\r');
          break;
        default:
          return Error(line_no_, "unknown escape " + Quote(s->substr(i - 1, 2)));
      }
    }
    if (text_ == nullptr || index_ + 1 >= text_->lines.size() || text_->ends[index_].empty()) {
      return Error(first_line, "missing closing quote");
    }
    out->append(text_->ends[index_]);
    ++index_;
    line_no_ = static_cast<int>(index_ + 1);
    *s = text_->lines[index_];
  }
}

Status Reader::ParseValueLine(std::u16string_view s) {
  if (file_.keys.empty()) return Error(line_no_, "value line before any key line");
  if (file_.keys.back().remove) return Error(line_no_, "value line under a key being deleted");
  ValueOp op;
  op.line = line_no_;
  if (s[0] == u'@') {
    s.remove_prefix(1);
  } else {
    s.remove_prefix(1);
    HM_RETURN_IF_ERROR(ParseQuoted(&s, &op.name));
  }
  op.is_default = op.name.empty();  // regedit takes "" for the default value as well
  s = SkipBlanks(s);
  if (s.empty() || s[0] != u'=') return Error(line_no_, "missing '=' after the value name");
  return ParseData(SkipBlanks(s.substr(1)), &op);
}

Status Reader::ParseData(std::u16string_view s, ValueOp* op) {
  if (!s.empty() && s[0] == u'-') {
    if (!OnlyTrailer(s.substr(1))) return Error(line_no_, "text after '-': " + Quote(s));
    op->remove = true;
    file_.keys.back().values.push_back(std::move(*op));
    return Status::Ok();
  }
  if (!s.empty() && s[0] == u'"') {
    s.remove_prefix(1);
    std::u16string text;
    HM_RETURN_IF_ERROR(ParseQuoted(&s, &text));
    if (!OnlyTrailer(s)) return Error(line_no_, "text after the string: " + Quote(s));
    op->type = kRegSz;
    text.push_back(u'\0');
    AppendUtf16Le(text, &op->data);
    file_.keys.back().values.push_back(std::move(*op));
    return Status::Ok();
  }
  // Type tags are case-sensitive in regedit: "DWORD:" and "HEX:" are not accepted.
  if (s.starts_with(u"dword:")) return ParseDword(s.substr(6), op);
  if (s.starts_with(u"hex:")) {
    op->type = kRegBinary;
    s.remove_prefix(4);
  } else if (s.starts_with(u"hex(")) {
    s.remove_prefix(4);
    HM_RETURN_IF_ERROR(ParseHexType(&s, &op->type));
  } else {
    return Error(line_no_, "unknown data " + Quote(s));
  }
  bool more = false;
  HM_RETURN_IF_ERROR(ParseHexSegment(s, &op->data, &more));
  pending_ = std::move(*op);
  if (!more) FinishValue();
  return Status::Ok();
}

Status Reader::ParseDword(std::u16string_view s, ValueOp* op) {
  s = SkipBlanks(s);
  uint32_t value = 0;
  size_t digits = 0;
  while (digits < s.size() && HexDigit(s[digits]) >= 0) {
    value = (value << 4) | static_cast<uint32_t>(HexDigit(s[digits]));
    ++digits;
  }
  if (digits == 0 || digits > 8) {
    return Error(line_no_, "dword needs 1 to 8 hex digits: " + Quote(s));
  }
  if (!OnlyTrailer(s.substr(digits))) {
    return Error(line_no_, "text after the dword: " + Quote(s.substr(digits)));
  }
  op->type = kRegDword;
  for (int i = 0; i < 4; ++i) op->data.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  file_.keys.back().values.push_back(std::move(*op));
  return Status::Ok();
}

// `*s` follows "hex("; reads "N):" with N in hex, at most 32 bits, and no "0x".
Status Reader::ParseHexType(std::u16string_view* s, uint32_t* type) const {
  uint64_t value = 0;
  size_t i = 0;
  for (; i < s->size() && HexDigit((*s)[i]) >= 0; ++i) {
    value = (value << 4) | static_cast<uint64_t>(HexDigit((*s)[i]));
    if (value > 0xFFFFFFFFu) return Error(line_no_, "value type out of range");
  }
  if (i == 0 || !s->substr(i).starts_with(u"):")) {
    return Error(line_no_, "bad value type " + Quote(u"hex(" + std::u16string(*s)));
  }
  *type = static_cast<uint32_t>(value);
  s->remove_prefix(i + 2);
  return Status::Ok();
}

// One line's part of a hex list: "xx,xx,...", optionally ending in ',' and then '\' (more on
// the next line) and/or a ';' comment. Bytes are one or two hex digits; blanks may surround them.
Status Reader::ParseHexSegment(std::u16string_view s, std::string* out, bool* more) const {
  *more = false;
  bool any = false, after_comma = false;
  s = SkipBlanks(s);
  while (!s.empty()) {
    const char16_t c = s[0];
    if (c == u';') break;
    if (c == u'\\') {
      if (any && !after_comma) return Error(line_no_, "missing ',' before the '\\'");
      if (!OnlyTrailer(s.substr(1))) return Error(line_no_, "text after '\\': " + Quote(s));
      *more = true;
      return Status::Ok();
    }
    if (c == u',') {
      if (!any || after_comma) return Error(line_no_, "empty hex byte");
      after_comma = true;
      s = SkipBlanks(s.substr(1));
      continue;
    }
    if (any && !after_comma) return Error(line_no_, "missing ',' before " + Quote(s));
    size_t n = 0;
    while (n < s.size() && s[n] != u',' && s[n] != u'\\' && s[n] != u';' && !IsBlank(s[n])) ++n;
    const std::u16string_view token = s.substr(0, n);
    if (n > 2 || HexDigit(token[0]) < 0 || (n == 2 && HexDigit(token[1]) < 0)) {
      return Error(line_no_, "bad hex byte " + Quote(token));
    }
    int byte = HexDigit(token[0]);
    if (n == 2) byte = byte * 16 + HexDigit(token[1]);
    out->push_back(static_cast<char>(byte));
    any = true;
    after_comma = false;
    s = SkipBlanks(s.substr(n));
  }
  return Status::Ok();
}

// The line after a '\'. Blank and comment lines in between are skipped, as regedit does; the
// next real line must start with a byte.
Status Reader::ContinueHex(std::u16string_view line) {
  std::u16string_view s = SkipBlanks(line);
  if (s.empty() || s[0] == u';') return Status::Ok();
  if (HexDigit(s[0]) < 0) {
    return Error(line_no_, "expected the hex list to continue, found " + Quote(s));
  }
  bool more = false;
  HM_RETURN_IF_ERROR(ParseHexSegment(s, &pending_->data, &more));
  if (!more) FinishValue();
  return Status::Ok();
}

// Hex data of the string types is stored as listed: byte for byte in version 5 files, and in
// REGEDIT4 files converted from the ANSI code page to UTF-16LE character for character (as
// RegSetValueExA stores such data). No terminator is added, so data without one, or with
// embedded NULs, comes back exactly as it was exported.
void Reader::FinishValue() {
  if (!pending_) return;
  ValueOp op = std::move(*pending_);
  pending_.reset();
  const bool string_type = op.type == kRegSz || op.type == kRegExpandSz || op.type == kRegMultiSz;
  if (string_type && format_ == 4 && !op.data.empty()) {
    std::string wide;
    AppendUtf16Le(ansi_.ToUtf16(op.data), &wide);
    op.data = std::move(wide);
  }
  file_.keys.back().values.push_back(std::move(op));
}

}  // namespace

Result<RegFile> ParseRegFile(std::string_view bytes, const CodePage& ansi, std::string_view label) {
  Reader reader(ansi, label);
  return reader.Parse(bytes);
}

}  // namespace hm::regedit
