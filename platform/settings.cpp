// Store selection and the in-memory store.
#include "platform/settings.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>

#include "platform/settings_store.h"

namespace dz::settings {

bool NoCaseLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

bool read_dword_value(const Value& v, std::uint32_t& value) {
  // Only a number stored as one: a text or a shorter value would fill the variable with bytes
  // that mean something else.
  if (v.type != reg_dword || v.bytes.size() != 4) return false;
  unsigned char raw[4];
  std::memcpy(raw, v.bytes.data(), 4);
  value = static_cast<std::uint32_t>(raw[0]) | static_cast<std::uint32_t>(raw[1]) << 8 |
          static_cast<std::uint32_t>(raw[2]) << 16 | static_cast<std::uint32_t>(raw[3]) << 24;
  return true;
}

bool read_string_value(const Value& v, std::string& value, std::size_t capacity) {
  if (v.type != reg_sz || v.bytes.size() > capacity) return false;
  // A stored text without its terminator still needs room for one.
  const auto nul = v.bytes.find('\0');
  if (nul == std::string::npos && v.bytes.size() >= capacity) return false;
  value = v.bytes.substr(0, nul);
  return true;
}

Value dword_value(std::uint32_t value) {
  Value v;
  v.type = reg_dword;
  for (int i = 0; i < 4; ++i) v.bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return v;
}

Value string_value(std::string_view text) {
  Value v;
  v.type = reg_sz;
  v.bytes.assign(text);
  v.bytes.push_back('\0');
  return v;
}

namespace {

struct MemoryData {
  std::mutex mutex;
  StoreData data;
};

class MemoryKey final : public Key {
 public:
  MemoryKey(std::shared_ptr<MemoryData> data, std::string subkey)
      : data_(std::move(data)), subkey_(std::move(subkey)) {}

  bool read_dword(std::string_view name, std::uint32_t& value) override {
    std::lock_guard lock(data_->mutex);
    const Value* v = find(name);
    return v && read_dword_value(*v, value);
  }
  bool read_string(std::string_view name, std::string& value, std::size_t capacity) override {
    std::lock_guard lock(data_->mutex);
    const Value* v = find(name);
    return v && read_string_value(*v, value, capacity);
  }
  bool write_dword(std::string_view name, std::uint32_t value) override {
    std::lock_guard lock(data_->mutex);
    data_->data[subkey_].values[std::string(name)] = dword_value(value);
    return true;
  }
  bool write_string(std::string_view name, std::string_view value) override {
    std::lock_guard lock(data_->mutex);
    data_->data[subkey_].values[std::string(name)] = string_value(value);
    return true;
  }

 private:
  const Value* find(std::string_view name) {
    auto k = data_->data.find(subkey_);
    if (k == data_->data.end()) return nullptr;
    auto v = k->second.values.find(std::string(name));
    return v == k->second.values.end() ? nullptr : &v->second;
  }

  std::shared_ptr<MemoryData> data_;
  std::string subkey_;
};

class MemoryStore final : public Store {
 public:
  std::unique_ptr<Key> open(std::string_view subkey) override {
    if (subkey.empty()) return nullptr;
    std::lock_guard lock(data_->mutex);
    data_->data[std::string(subkey)];  // RegCreateKeyA creates a missing key
    return std::make_unique<MemoryKey>(data_, std::string(subkey));
  }

 private:
  std::shared_ptr<MemoryData> data_ = std::make_shared<MemoryData>();
};

// Stands in for a store the platform lacks: every key fails to open.
class NullStore final : public Store {
 public:
  std::unique_ptr<Key> open(std::string_view) override { return nullptr; }
};

struct Selection {
  std::mutex mutex;
  std::shared_ptr<Store> store;  // nullptr: the platform store, made on first use
};

Selection& selection() {
  static Selection s;
  return s;
}

struct SaveState {
  std::mutex mutex;
  bool failed = false;  // told on stderr when it was set
  bool recording = false;
  StoreData loaded;  // the values as they stood after loading
  std::set<std::string> reports;
};

SaveState& save_state() {
  static SaveState s;
  return s;
}

void reset_save_state() {
  std::lock_guard lock(save_state().mutex);
  save_state().failed = false;
  save_state().recording = false;
  save_state().loaded.clear();
  save_state().reports.clear();
}

// Every key handed out: writes are noted while recording and skipped when they change nothing.
class TrackingKey final : public Key {
 public:
  TrackingKey(std::unique_ptr<Key> inner, std::string subkey)
      : inner_(std::move(inner)), subkey_(std::move(subkey)) {}

  bool read_dword(std::string_view name, std::uint32_t& value) override {
    return inner_->read_dword(name, value);
  }
  bool read_string(std::string_view name, std::string& value, std::size_t capacity) override {
    return inner_->read_string(name, value, capacity);
  }
  bool write_dword(std::string_view name, std::uint32_t value) override {
    return write(name, dword_value(value), [&] { return inner_->write_dword(name, value); });
  }
  bool write_string(std::string_view name, std::string_view value) override {
    return write(name, string_value(value), [&] { return inner_->write_string(name, value); });
  }

 private:
  // While recording, notes the value as this run loaded it (a missing one as its default, a
  // recent-file list saved with gaps as the list it made) and writes nothing. Afterwards writes
  // it unless it equals the noted value.
  template <typename WriteInner>
  bool write(std::string_view name, Value value, WriteInner write_inner) {
    {
      auto& s = save_state();
      std::lock_guard lock(s.mutex);
      if (s.recording) {
        s.loaded[subkey_].values[std::string(name)] = std::move(value);
        return true;
      }
      if (const auto key = s.loaded.find(subkey_); key != s.loaded.end()) {
        const auto old = key->second.values.find(std::string(name));
        if (old != key->second.values.end() && old->second == value) return true;
      }
    }
    if (write_inner()) return true;
    note_save_failed("settings not saved: \"" + std::string(name) + "\" could not be written");
    return false;
  }

  std::unique_ptr<Key> inner_;
  std::string subkey_;
};

void select_store(std::shared_ptr<Store> store) {
  std::lock_guard lock(selection().mutex);
  selection().store = std::move(store);
}

std::shared_ptr<Store> current() {
  std::lock_guard lock(selection().mutex);
  if (!selection().store) selection().store = make_platform_store();
  return selection().store;
}

}  // namespace

std::unique_ptr<Store> make_memory_store() {
  return std::make_unique<MemoryStore>();
}

std::unique_ptr<Key> open_key(std::string_view subkey) {
  auto store = current();
  std::unique_ptr<Key> key = store ? store->open(subkey) : nullptr;
  if (!key) return nullptr;
  return std::make_unique<TrackingKey>(std::move(key), std::string(subkey));
}

void begin_recording_loaded_values() {
  std::lock_guard lock(save_state().mutex);
  save_state().loaded.clear();
  save_state().recording = true;
}

void end_recording_loaded_values() {
  std::lock_guard lock(save_state().mutex);
  save_state().recording = false;
}

void report(const std::string& message) {
  {
    std::lock_guard lock(save_state().mutex);
    if (!save_state().reports.insert(message).second) return;
  }
  std::fprintf(stderr, "DividezUrirer: %s\n", message.c_str());
}

void note_save_failed(const std::string& message) {
  std::lock_guard lock(save_state().mutex);
  if (save_state().failed) return;
  save_state().failed = true;
  std::fprintf(stderr, "DividezUrirer: %s\n", message.c_str());
}

void use_store(std::shared_ptr<Store> store) {
  reset_save_state();
  select_store(std::move(store));
}

void use_platform_store() {
  use_store(nullptr);
}

void use_file_store(const std::string& path) {
  reset_save_state();  // first: what loading the file reports belongs to the new run
  std::shared_ptr<Store> store = make_file_store(path);
  select_store(store ? std::move(store) : std::make_shared<NullStore>());
}

void use_memory_store() {
  use_store(make_memory_store());
}

std::string store_path() {
  auto store = current();
  return store ? store->path() : std::string();
}

}  // namespace dz::settings

namespace dz {

bool settings_save_failed() {
  auto& s = settings::save_state();
  std::lock_guard lock(s.mutex);
  return s.failed;
}

}  // namespace dz
