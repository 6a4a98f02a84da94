// The settings file: a TOML document with one table per key. Every write rewrites the file
// atomically (file::write_atomically), so a crash never leaves half a file. A file that
// cannot be parsed is reported once, moved aside to "<path>.corrupt", and defaults apply.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/debug.h"
#include "platform/settings_file.h"
#include "platform/settings_store.h"

#if __has_include(<toml++/toml.h>)
#include <toml++/toml.h>
#else
#error "toml++ (libtomlplusplus-dev) is required for the settings file"
#endif

namespace dz::settings {

namespace file {

// A settings file is a few kilobytes; anything far larger is not ours.
constexpr std::uintmax_t max_file_size = 1u << 20;

bool parse(std::string_view text, StoreData& data) {
  data.clear();
  if (text.size() > max_file_size) return false;
  toml::table root;
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
  for (auto&& [key_name, node] : root) {
    const toml::table* table = node.as_table();
    if (!table) continue;
    KeyData& key = data[std::string(key_name.str())];
    for (auto&& [value_name, value_node] : *table) {
      std::string name(value_name.str());
      if (const auto* i = value_node.as_integer()) {
        const std::int64_t n = i->get();
        if (n >= 0 && n <= 0xFFFFFFFFll) key.values[name] = dword_value(static_cast<uint32_t>(n));
      } else if (const auto* s = value_node.as_string()) {
        key.values[name] = string_value(s->get());
      }
    }
  }
  return true;
}

namespace {

// A TOML basic string: quotes, backslashes and control characters escaped; the rest (valid UTF-8,
// as parsing guarantees) as it is. Keys are always written quoted, so any name survives.
void append_quoted(std::string& out, std::string_view text) {
  out += '"';
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
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
          out += ch;
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

}  // namespace

std::string format(const StoreData& data) {
  std::string out = "# DividezUrirer settings: one table per registry-style key.\n";
  for (const auto& [key_name, key] : data) {
    out += "\n[";
    append_quoted(out, key_name);
    out += "]\n";
    for (const auto& [name, v] : key.values) {
      append_key(out, name);
      out += " = ";
      if (v.type == reg_dword && v.bytes.size() == 4) {
        std::uint32_t n = 0;
        read_dword_value(v, n);
        out += std::to_string(n);
      } else {
        std::string_view text = v.bytes;
        if (!text.empty() && text.back() == '\0') text.remove_suffix(1);
        append_quoted(out, text);
      }
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

}  // namespace file

namespace {

struct FileData {
  std::mutex mutex;
  std::string path;
  StoreData data;
};

// Loads the file into `f.data`; missing file = empty store.
void load_locked(FileData& f) {
  f.data.clear();
  std::error_code ec;
  if (!std::filesystem::exists(f.path, ec)) return;
  if (!std::filesystem::is_regular_file(f.path, ec)) {
    // Not ours to move: say so, and run on defaults (writes will fail).
    debug_print("Settings path %s is not a file; defaults apply", f.path.c_str());
    std::fprintf(stderr, "DividezUrirer: settings path %s is not a file\n", f.path.c_str());
    return;
  }
  const std::uintmax_t size = std::filesystem::file_size(f.path, ec);
  std::string text;
  bool ok = !ec && size <= file::max_file_size;
  if (ok) {
    std::ifstream in(f.path, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    ok = !in.bad() && file::parse(text, f.data);
  }
  if (ok) return;
  const std::string aside = f.path + ".corrupt";
  std::filesystem::rename(f.path, aside, ec);
  debug_print("Settings file %s is unreadable; moved to %s, defaults apply", f.path.c_str(),
              aside.c_str());
  std::fprintf(stderr, "DividezUrirer: settings file %s is unreadable; moved to %s\n",
               f.path.c_str(), aside.c_str());
  f.data.clear();
}

bool save_locked(const FileData& f) {
  std::error_code ec;
  const std::filesystem::path target(f.path);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
  return file::write_atomically(f.path, file::format(f.data));
}

class FileKey final : public Key {
 public:
  FileKey(std::shared_ptr<FileData> f, std::string subkey)
      : f_(std::move(f)), subkey_(std::move(subkey)) {}

  bool read_dword(std::string_view name, std::uint32_t& value) override {
    std::lock_guard lock(f_->mutex);
    const Value* v = find(name);
    return v && read_dword_value(*v, value);
  }
  bool read_string(std::string_view name, std::string& value, std::size_t capacity) override {
    std::lock_guard lock(f_->mutex);
    const Value* v = find(name);
    return v && read_string_value(*v, value, capacity);
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
  bool write(std::string_view name, Value v) {
    std::lock_guard lock(f_->mutex);
    auto& values = f_->data[subkey_].values;
    const std::string n(name);
    auto old = values.find(n);
    std::optional<Value> previous;
    if (old != values.end()) previous = old->second;
    values[n] = std::move(v);
    if (save_locked(*f_)) return true;
    // Keep memory and file alike: a failed write changes nothing.
    if (previous) {
      values[n] = std::move(*previous);
    } else {
      values.erase(n);
    }
    return false;
  }

  std::shared_ptr<FileData> f_;
  std::string subkey_;
};

class FileStore final : public Store {
 public:
  explicit FileStore(std::string path) {
    f_->path = std::move(path);
    std::lock_guard lock(f_->mutex);
    load_locked(*f_);
  }
  std::unique_ptr<Key> open(std::string_view subkey) override {
    if (subkey.empty() || f_->path.empty()) return nullptr;
    std::lock_guard lock(f_->mutex);
    f_->data[std::string(subkey)];
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
