// The settings file: a TOML document with one table per key. A run keeps its changes in memory
// and writes them when its last open key closes: under a lock beside the file it reads the file
// as it is then, puts its changed values into it and replaces the file atomically
// (file::replace). A file that cannot be parsed is reported once and copied aside to a numbered
// "<path>.corrupt" backup, and defaults apply; a file that cannot be read is never replaced.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "platform/settings_file.h"
#include "platform/settings_store.h"

#if __has_include(<toml++/toml.h>)
#include <toml++/toml.h>
#else
#error "toml++ (libtomlplusplus-dev) is required for the settings file"
#endif

namespace dz::settings {

namespace file {

namespace {

// Length of the UTF-8 sequence starting at text[i] as TOML accepts it (no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0 when the bytes there are not one.
std::size_t utf8_length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  if (c < 0x80) return 1;
  std::size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < n; ++k)
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  return n;
}

bool valid_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = utf8_length(text, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

// A TOML basic string: quotes, backslashes and control characters escaped, valid UTF-8 as it
// is. Bytes that are not UTF-8 can only come from a name, never from outside; they are written
// as U+FFFD so that the file stays TOML (texts that are not UTF-8 take the hex form below).
void append_quoted(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t n = utf8_length(text, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (n > 1) {
      out.append(text.substr(i, n));
      i += n;
      continue;
    }
    ++i;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04X", c);
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

// Value names like "ComPort" are written bare; anything else quoted.
void append_key(std::string& out, std::string_view name) {
  const bool bare = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
  });
  if (bare) {
    out += name;
  } else {
    append_quoted(out, name);
  }
}

// A text that is not valid UTF-8 (a file name with a byte 0xFF, a module name from the network)
// cannot be a TOML string. It is written as an inline table holding its bytes in hexadecimal,
// `Device0 = { hex = "50584127FF" }`, which parse() turns back into exactly those bytes.
constexpr std::string_view hex_field = "hex";

void append_hex_text(std::string& out, std::string_view text) {
  static constexpr char digits[] = "0123456789ABCDEF";
  out += "{ ";
  out += hex_field;
  out += " = \"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    out += digits[c >> 4];
    out += digits[c & 0xF];
  }
  out += "\" }";
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<std::string> hex_text(const toml::table& table) {
  if (table.size() != 1) return std::nullopt;
  const auto* hex = table.get_as<std::string>(hex_field);
  if (!hex) return std::nullopt;
  const std::string& digits = hex->get();
  if (digits.size() % 2 != 0) return std::nullopt;
  std::string text;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const int high = hex_digit(digits[i]), low = hex_digit(digits[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    text += static_cast<char>(high << 4 | low);
  }
  return text;
}

Value foreign_value(std::string text) {
  Value v;
  v.type = reg_foreign;
  v.bytes = std::move(text);
  return v;
}

Value read_entry(const toml::node& node) {
  if (const auto* i = node.as_integer()) {
    const std::int64_t n = i->get();
    if (n >= 0 && n <= 0xFFFFFFFFll) return dword_value(static_cast<std::uint32_t>(n));
    return foreign_value(std::to_string(n));
  }
  if (const auto* s = node.as_string()) return string_value(s->get());
  if (const auto* b = node.as_boolean()) return foreign_value(b->get() ? "true" : "false");
  if (const auto* t = node.as_table()) {
    if (auto text = hex_text(*t)) return string_value(*text);
  }
  Value v;
  v.type = reg_unsupported;
  return v;
}

// TOML allows bytes above 0x7F only inside strings and comments. toml++ 3 reaches a branch it
// takes for unreachable on some of them where only whitespace may stand, so a text with any
// outside strings and comments, or right after a backslash, is refused before it is parsed (no
// valid file is refused). Neither is a fault of the file's owner to be kept from: such a file is
// simply not TOML and is handled as a corrupt one.
bool non_ascii_only_in_strings_and_comments(std::string_view t) {
  const auto at = [&](std::size_t i, std::string_view s) { return t.substr(i, s.size()) == s; };
  // What follows a backslash is an escape or, in a multi-line string, the whitespace it trims.
  const auto escape_is_ascii = [&](std::size_t i) {
    return i >= t.size() || static_cast<unsigned char>(t[i]) < 0x80;
  };
  // Control characters other than tab and line ends are not TOML anywhere.
  for (const char ch : t) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) return false;
  }
  std::size_t i = 0;
  while (i < t.size()) {
    const auto c = static_cast<unsigned char>(t[i]);
    if (c == '#') {
      while (i < t.size() && t[i] != '\n') ++i;
    } else if (at(i, "\"\"\"")) {
      for (i += 3; i < t.size() && !at(i, "\"\"\""); ++i)
        if (t[i] == '\\' && !escape_is_ascii(++i)) return false;
      i += 3;
    } else if (at(i, "'''")) {
      for (i += 3; i < t.size() && !at(i, "'''"); ++i) {
      }
      i += 3;
    } else if (c == '"') {
      for (++i; i < t.size() && t[i] != '"' && t[i] != '\n'; ++i)
        if (t[i] == '\\' && !escape_is_ascii(++i)) return false;
      ++i;
    } else if (c == '\'') {
      for (++i; i < t.size() && t[i] != '\'' && t[i] != '\n'; ++i) {
      }
      ++i;
    } else if (c >= 0x80) {
      return false;
    } else {
      ++i;
    }
  }
  return true;
}

bool parse_toml(std::string_view text, toml::table& root) {
#if TOML_EXCEPTIONS
  try {
    root = toml::parse(text);
  } catch (const toml::parse_error&) {
    return false;
  }
#else
  toml::parse_result result = toml::parse(text);
  if (!result) return false;
  root = std::move(result).table();
#endif
  return true;
}

}  // namespace

bool parse(std::string_view text, StoreData& data) {
  data.clear();
  if (text.size() > max_file_size) return false;
  if (!non_ascii_only_in_strings_and_comments(text)) return false;
  // toml++ may also meet those bytes while it reads past an error; so the text is first parsed
  // with every byte above 0x7F made an 'a', and only a text sound in that form is parsed as it is.
  std::string ascii(text);
  for (char& c : ascii)
    if (static_cast<unsigned char>(c) >= 0x80) c = 'a';
  toml::table root;
  if (!parse_toml(ascii, root) || !parse_toml(text, root)) return false;
  for (auto&& [key_name, node] : root) {
    const toml::table* table = node.as_table();
    if (!table) continue;
    KeyData& key = data[std::string(key_name.str())];
    for (auto&& [value_name, value_node] : *table)
      key.values[std::string(value_name.str())] = read_entry(value_node);
  }
  return true;
}

std::string format(const StoreData& data) {
  std::string out = "# DividezUrirer settings: one table per registry-style key.\n";
  for (const auto& [key_name, key] : data) {
    out += "\n[";
    append_quoted(out, key_name);
    out += "]\n";
    for (const auto& [name, v] : key.values) {
      std::string entry;
      if (v.type == reg_dword && v.bytes.size() == 4) {
        std::uint32_t n = 0;
        read_dword_value(v, n);
        entry = std::to_string(n);
      } else if (v.type == reg_sz) {
        std::string_view text = v.bytes;
        if (!text.empty() && text.back() == '\0') text.remove_suffix(1);
        if (valid_utf8(text)) {
          append_quoted(entry, text);
        } else {
          append_hex_text(entry, text);
        }
      } else if (v.type == reg_foreign) {
        entry = v.bytes;
      } else {
        continue;  // known only to be there: not written back
      }
      append_key(out, name);
      out += " = ";
      out += entry;
      out += '\n';
    }
  }
  return out;
}

std::string default_path() {
  if (const char* p = std::getenv("DIVIDEZURIRER_SETTINGS"); p && *p) return p;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) {
    return std::string(x) + "/DividezUrirer/settings.toml";
  }
  if (const char* h = std::getenv("HOME"); h && *h) {
    return std::string(h) + "/.config/DividezUrirer/settings.toml";
  }
  return {};
}

void make_parent_folders(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path target(path);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
}

}  // namespace file

namespace {

struct FileData {
  std::mutex mutex;
  std::string path;
  StoreData data;     // the values as this run sees them
  StoreData pending;  // the values this run changed and has not written yet
  int open_keys = 0;
  bool no_save = false;      // the file could not be read: it is never replaced
  std::string corrupt_text;  // a corrupt file found at loading, already copied aside
};

// Keeps a copy of a corrupt file beside it: "<path>.corrupt", then "<path>.corrupt.2", ... so
// that no earlier backup is overwritten; a backup holding the same text already is reused.
bool keep_corrupt_copy(const std::string& target, const std::string& text, std::string& backup,
                       std::string& error) {
  for (int n = 1; n <= 100; ++n) {
    backup = target + ".corrupt" + (n == 1 ? std::string() : "." + std::to_string(n));
    std::string existing, read_error;
    const file::ReadStatus status = file::read(backup, existing, read_error);
    if (status == file::ReadStatus::ok && existing == text) return true;
    if (status != file::ReadStatus::missing) continue;
    if (file::create_new(backup, text, error)) return true;
  }
  if (error.empty()) error = "a hundred backups exist already";
  return false;
}

void load_locked(FileData& f) {
  f.data.clear();
  std::string text, error;
  switch (file::read(f.path, text, error)) {
    case file::ReadStatus::missing:
      return;
    case file::ReadStatus::not_regular:
      f.no_save = true;
      report("settings path " + f.path +
             " is not a regular file; defaults apply and nothing will be saved");
      return;
    case file::ReadStatus::failed:
      f.no_save = true;
      report("settings file " + f.path + " cannot be read (" + error +
             "); defaults apply and nothing will be saved");
      return;
    case file::ReadStatus::ok:
      break;
  }
  if (file::parse(text, f.data)) return;
  std::string backup;
  if (keep_corrupt_copy(file::resolve(f.path), text, backup, error)) {
    f.corrupt_text = text;
    report("settings file " + f.path + " is corrupt; defaults apply (a copy was kept as " + backup +
           ")");
  } else {
    f.no_save = true;
    report("settings file " + f.path + " is corrupt and could not be copied aside (" + error +
           "); defaults apply and nothing will be saved");
  }
}

// Writes `changes` into the file as it is now, under its lock.
bool save_changes(FileData& f, const StoreData& changes, std::string& error) {
  const std::string target = file::resolve(f.path);
  file::make_parent_folders(target);
  if (!file::replaceable(target, error)) return false;
  file::Lock lock;
  if (!lock.acquire(target + ".lock", error)) return false;
  std::string text;
  StoreData current;
  switch (file::read(target, text, error)) {
    case file::ReadStatus::missing:
      break;
    case file::ReadStatus::ok:
      if (file::parse(text, current)) break;
      // Corrupt since loading: keep it too before it is replaced.
      if (text != f.corrupt_text) {
        std::string backup;
        if (!keep_corrupt_copy(target, text, backup, error)) return false;
        report("settings file " + f.path + " was corrupt; a copy was kept as " + backup);
      }
      current.clear();
      break;
    default:
      return false;
  }
  for (const auto& [key_name, key] : changes)
    for (const auto& [name, value] : key.values) current[key_name].values[name] = value;
  if (!file::replace(target, file::format(current), error)) return false;
  for (const auto& [key_name, key] : f.data) current[key_name];  // keys opened, still empty
  f.data = std::move(current);
  return true;
}

void flush_locked(FileData& f) {
  if (f.pending.empty()) return;
  StoreData changes;
  changes.swap(f.pending);
  std::string error;
  if (!save_changes(f, changes, error))
    note_save_failed("settings not saved to " + f.path + ": " + error);
}

class FileKey final : public Key {
 public:
  FileKey(std::shared_ptr<FileData> f, std::string subkey)
      : f_(std::move(f)), subkey_(std::move(subkey)) {}
  ~FileKey() override {
    std::lock_guard lock(f_->mutex);
    if (--f_->open_keys == 0) flush_locked(*f_);
  }
  FileKey(const FileKey&) = delete;
  FileKey& operator=(const FileKey&) = delete;

  bool read_dword(std::string_view name, std::uint32_t& value) override {
    std::lock_guard lock(f_->mutex);
    const Value* v = find(name);
    if (!v) return false;
    if (v->type != reg_dword) return wrong_type(name, "a number");
    return read_dword_value(*v, value);
  }
  bool read_string(std::string_view name, std::string& value, std::size_t capacity) override {
    std::lock_guard lock(f_->mutex);
    const Value* v = find(name);
    if (!v) return false;
    if (v->type != reg_sz) return wrong_type(name, "a text");
    return read_string_value(*v, value, capacity);
  }
  bool write_dword(std::string_view name, std::uint32_t value) override {
    return write(name, dword_value(value));
  }
  bool write_string(std::string_view name, std::string_view value) override {
    return write(name, string_value(value));
  }

 private:
  const Value* find(std::string_view name) {
    auto k = f_->data.find(subkey_);
    if (k == f_->data.end()) return nullptr;
    auto v = k->second.values.find(std::string(name));
    return v == k->second.values.end() ? nullptr : &v->second;
  }
  // A hand-edited value of the wrong kind ("0" for a number, true, a number for a path) is not
  // converted: it counts as missing, and one line says so.
  bool wrong_type(std::string_view name, const char* kind) {
    report("settings value \"" + std::string(name) + "\" in " + f_->path + " is not " + kind +
           "; its default applies");
    return false;
  }
  bool write(std::string_view name, const Value& v) {
    std::lock_guard lock(f_->mutex);
    if (f_->no_save) return false;
    const std::string n(name);
    f_->data[subkey_].values[n] = v;
    f_->pending[subkey_].values[n] = v;
    return true;
  }

  std::shared_ptr<FileData> f_;
  std::string subkey_;
};

class FileStore final : public Store {
 public:
  explicit FileStore(std::string path) {
    f_->path = std::move(path);
    std::lock_guard lock(f_->mutex);
    if (!f_->path.empty()) load_locked(*f_);
  }
  std::unique_ptr<Key> open(std::string_view subkey) override {
    if (subkey.empty() || f_->path.empty()) return nullptr;
    std::lock_guard lock(f_->mutex);
    f_->data[std::string(subkey)];
    ++f_->open_keys;
    return std::make_unique<FileKey>(f_, std::string(subkey));
  }
  std::string path() const override { return f_->path; }

 private:
  std::shared_ptr<FileData> f_ = std::make_shared<FileData>();
};

}  // namespace

std::unique_ptr<Store> make_file_store(const std::string& path) {
  return std::make_unique<FileStore>(path);
}

}  // namespace dz::settings
