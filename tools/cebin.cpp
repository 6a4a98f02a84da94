// cebin: builds Windows CE .bin images ("B000FF" files) from raw data and lists them.
//
//   cebin make OUT --record ADDR=FILE [--record ADDR=FILE ...] [--entry ADDR]
//   cebin sample OUT --start ADDR --length BYTES [--records N] [--seed S] [--entry ADDR]
//   cebin list FILE
//
// Layout written: the signature "B000FF\n", image start and image length (the span from the lowest
// record address to the end of the highest record), then for every record its address, length
// and checksum (the sum of its bytes) followed by its data, then the terminator: address 0,
// the entry address in the length field, checksum 0. All fields are 32-bit little-endian.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

struct Record {
  std::uint32_t address = 0;
  std::vector<std::uint8_t> data;
};

constexpr std::array<std::uint8_t, 7> signature = {'B', '0', '0', '0', 'F', 'F', '\n'};
constexpr std::uint64_t address_space = 0x100000000ull;

std::uint32_t checksum(const std::vector<std::uint8_t>& data) {
  std::uint32_t sum = 0;
  for (std::uint8_t byte : data) sum += byte;
  return sum;
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t get32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

bool parse_number(const std::string& text, std::uint64_t& value) {
  if (text.empty()) return false;
  std::size_t used = 0;
  try {
    value = std::stoull(text, &used, 0);
  } catch (const std::exception&) {
    return false;
  }
  return used == text.size();
}

std::string number_check(const std::string& text) {
  std::uint64_t value;
  if (!parse_number(text, value) || value >= address_space) return "expected a 32-bit number";
  return {};
}

std::uint32_t number(const std::string& text) {
  std::uint64_t value = 0;
  parse_number(text, value);
  return static_cast<std::uint32_t>(value);
}

// Writes the image; false (with a message) when records overlap or leave the address space.
bool write_image(const std::string& path, std::vector<Record> records, std::uint32_t entry) {
  if (records.empty()) {
    std::cerr << "cebin: no records\n";
    return false;
  }
  std::sort(records.begin(), records.end(),
            [](const Record& a, const Record& b) { return a.address < b.address; });
  std::uint64_t end = 0;
  for (const Record& record : records) {
    if (record.data.empty()) {
      std::cerr << "cebin: a record at 0x" << std::hex << record.address << " has no data\n";
      return false;
    }
    std::uint64_t record_end = std::uint64_t{record.address} + record.data.size();
    if (record_end > address_space) {
      std::cerr << "cebin: a record at 0x" << std::hex << record.address
                << " runs past the end of the address space\n";
      return false;
    }
    if (record.address < end) {
      std::cerr << "cebin: the record at 0x" << std::hex << record.address
                << " overlaps the one before it\n";
      return false;
    }
    end = record_end;
  }
  const std::uint32_t start = records.front().address;
  std::vector<std::uint8_t> out(signature.begin(), signature.end());
  put32(out, start);
  put32(out, static_cast<std::uint32_t>(end - start));
  for (const Record& record : records) {
    put32(out, record.address);
    put32(out, static_cast<std::uint32_t>(record.data.size()));
    put32(out, checksum(record.data));
    out.insert(out.end(), record.data.begin(), record.data.end());
  }
  put32(out, 0);
  put32(out, entry);
  put32(out, 0);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  if (!file) {
    std::cerr << "cebin: cannot write " << path << "\n";
    return false;
  }
  return true;
}

bool read_file(const std::string& path, std::vector<std::uint8_t>& data) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  data.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return true;
}

// Deterministic bytes (xorshift32) so that the samples are the same on every build.
std::vector<std::uint8_t> generated_bytes(std::size_t count, std::uint32_t& state) {
  std::vector<std::uint8_t> data(count);
  for (auto& byte : data) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return data;
}

// `count` records over [start, start + length): each but the last leaves a small gap at its end,
// so that the image has holes as real images do.
std::vector<Record> sample_records(std::uint32_t start, std::uint32_t length, unsigned count,
                                   std::uint32_t seed) {
  std::vector<Record> records;
  std::uint32_t state = seed != 0 ? seed : 1;
  for (unsigned i = 0; i < count; ++i) {
    std::uint64_t from = std::uint64_t{length} * i / count & ~std::uint64_t{3};
    std::uint64_t to = i + 1 == count ? length : (std::uint64_t{length} * (i + 1) / count) & ~3ull;
    std::uint64_t size = to - from;
    if (i + 1 != count) size -= (size / 16) & ~std::uint64_t{3};
    if (size == 0) continue;
    records.push_back({static_cast<std::uint32_t>(start + from),
                       generated_bytes(static_cast<std::size_t>(size), state)});
  }
  return records;
}

int list_image(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::cerr << "cebin: cannot open " << path << "\n";
    return 1;
  }
  std::array<std::uint8_t, 15> header{};
  file.read(reinterpret_cast<char*>(header.data()), header.size());
  if (file.gcount() < 7 || !std::equal(signature.begin(), signature.end(), header.begin())) {
    std::cout << path << ": not a Windows CE image (raw file)\n";
    return 1;
  }
  if (file.gcount() < 15) {
    std::cout << path << ": the header is cut off\n";
    return 1;
  }
  std::printf("%s: Windows CE image, start 0x%.8x, length 0x%.8x (%u KB)\n", path.c_str(),
              get32(&header[7]), get32(&header[11]), get32(&header[11]) / 1024);
  std::printf("      #  Address     Length      Checksum    Sum\n");
  std::vector<std::uint8_t> data;
  bool sound = true;
  for (unsigned index = 0;; ++index) {
    std::array<std::uint8_t, 12> bytes{};
    file.read(reinterpret_cast<char*>(bytes.data()), bytes.size());
    if (file.gcount() < 12) {
      std::printf("  the terminator is missing (the file ends after %u records)\n", index);
      return 1;
    }
    std::uint32_t address = get32(&bytes[0]), length = get32(&bytes[4]), sum = get32(&bytes[8]);
    if (address == 0 && sum == 0) {
      std::printf("  %5u  terminator  0x%.8x\n", index, length);
      break;
    }
    // Data is read in bounded pieces, so a corrupt length cannot make us allocate gigabytes.
    std::uint32_t computed = 0, remaining = length;
    std::array<char, 65536> piece;
    while (remaining > 0 && file) {
      std::uint32_t want = std::min<std::uint32_t>(remaining, piece.size());
      file.read(piece.data(), want);
      auto got = static_cast<std::uint32_t>(file.gcount());
      for (std::uint32_t i = 0; i < got; ++i) computed += static_cast<std::uint8_t>(piece[i]);
      remaining -= got;
      if (got < want) break;
    }
    std::printf("  %5u  0x%.8x  0x%.8x  0x%.8x  %s\n", index, address, length, sum,
                remaining != 0    ? "cut off"
                : computed == sum ? "ok"
                                  : "BAD");
    if (remaining != 0) return 1;
    if (computed != sum) sound = false;
  }
  return sound ? 0 : 1;
}

// The values the command line fills in, shared by the subcommands.
struct Options {
  std::string out;
  std::vector<std::string> record_specs;
  std::string entry;
  std::string start, length, seed = "1";
  unsigned count = 1;
  std::string listed;
};

CLI::App* add_make_command(CLI::App& app, Options& o) {
  auto* make = app.add_subcommand("make", "Build an image from raw files");
  make->add_option("OUT", o.out, "Image to write")->required();
  make->add_option("--record", o.record_specs, "ADDR=FILE: the contents of FILE at address ADDR")
      ->required();
  make->add_option("--entry", o.entry, "Entry address for the terminator (default: the start)")
      ->check(number_check);
  make->footer("Example:\n  cebin make eboot.bin --record 0x80000000=loader.raw");
  return make;
}

void add_sample_command(CLI::App& app, Options& o) {
  auto* sample = app.add_subcommand("sample", "Build an image of generated data");
  sample->add_option("OUT", o.out, "Image to write")->required();
  sample->add_option("--start", o.start, "Lowest address")->required()->check(number_check);
  sample->add_option("--length", o.length, "Bytes from the start to the end of the last record")
      ->required()
      ->check(number_check);
  sample->add_option("--records", o.count, "Number of data records (default 1)")
      ->check(CLI::Range(1, 256));
  sample->add_option("--seed", o.seed, "Seed of the generated data")->check(number_check);
  sample->add_option("--entry", o.entry, "Entry address for the terminator (default: the start)")
      ->check(number_check);
  sample->footer("Example:\n  " + app.get_name() +
                 " sample nk.bin --start 0x80200000 --length 0x300000 --records 6");
}

CLI::App* add_list_command(CLI::App& app, Options& o) {
  auto* list = app.add_subcommand("list", "List the header and records, checking each checksum");
  list->add_option("FILE", o.listed, "Image to list")->required();
  list->footer("Exit status 0 when the image is complete and every checksum agrees.");
  return list;
}

// Reads each ADDR=FILE record; returns 0, or the exit status after reporting the bad one.
int records_from_specs(const std::vector<std::string>& specs, std::vector<Record>& records) {
  for (const std::string& item : specs) {
    std::size_t equals = item.find('=');
    std::uint64_t address = 0;
    if (equals == std::string::npos || !parse_number(item.substr(0, equals), address) ||
        address >= address_space) {
      std::cerr << "cebin: --record expects ADDR=FILE, got '" << item << "'\n";
      return 2;
    }
    Record record{static_cast<std::uint32_t>(address), {}};
    if (!read_file(item.substr(equals + 1), record.data)) {
      std::cerr << "cebin: cannot read " << item.substr(equals + 1) << "\n";
      return 1;
    }
    records.push_back(std::move(record));
  }
  return 0;
}

// Generates the sample records; returns 0, or the exit status after reporting a bad range.
int records_from_sample(const Options& o, std::vector<Record>& records) {
  std::uint64_t first = number(o.start), span = number(o.length);
  if (span == 0 || first + span > address_space) {
    std::cerr << "cebin: the length must be nonzero and stay inside the address space\n";
    return 2;
  }
  records = sample_records(static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(span),
                           o.count, number(o.seed));
  return 0;
}

// The given entry address, else the lowest record address (0 without records).
std::uint32_t entry_address_of(const std::string& entry, const std::vector<Record>& records) {
  if (!entry.empty()) return number(entry);
  if (records.empty()) return 0;
  return std::min_element(records.begin(), records.end(),
                          [](auto& a, auto& b) { return a.address < b.address; })
      ->address;
}

// The last part of the path the program was started by ("cebin" when there is none).
std::string program_name(const char* path) {
  const std::string text = path != nullptr && *path != '\0' ? path : "cebin";
  return text.substr(text.find_last_of('/') + 1);
}

}  // namespace

int main(int argc, char** argv) {
  // Named as it was called: cebin in the build, dividezurirer-cebin once installed.
  CLI::App app{"Builds Windows CE .bin images from raw data and lists them.",
               program_name(argc > 0 ? argv[0] : nullptr)};
  app.require_subcommand(1);
  Options o;
  auto* make = add_make_command(app, o);
  add_sample_command(app, o);
  auto* list = add_list_command(app, o);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }

  if (*list) return list_image(o.listed);

  std::vector<Record> records;
  const int status =
      *make ? records_from_specs(o.record_specs, records) : records_from_sample(o, records);
  if (status != 0) return status;
  const std::uint32_t entry_address = entry_address_of(o.entry, records);
  return write_image(o.out, std::move(records), entry_address) ? 0 : 1;
}
