// The production test on the command line: `test` (also `-test`) fills the four identification
// fields and presses "Start Test" in the production test window; `bbt` presses "Dump Bad Block
// Table" there.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/cli/commands.h"
#include "app/cli/script.h"
#include "app/production_test.h"
#include "flash/bad_block_table.h"
#include "resources/resource.h"

namespace dz::cli {

namespace {

struct TestRequest {
  std::vector<std::string> fields;  // empty, or the four identification fields
  std::string log_port;             // --log-port
};

constexpr int field_ids[4] = {IDC_TEST_FIELD1, IDC_TEST_FIELD2, IDC_TEST_FIELD3, IDC_TEST_FIELD4};

int run_test(ui::Window dlg, const TestRequest& request) {
  for (std::size_t i = 0; i < request.fields.size() && i < 4; ++i)
    type_text(dlg, field_ids[i], request.fields[i]);
  const std::string log = log_file_name(
      ui::text(dlg, IDC_TEST_FIELD1).substr(0, 15), ui::text(dlg, IDC_TEST_FIELD2).substr(0, 15),
      ui::text(dlg, IDC_TEST_FIELD3).substr(0, 15), ui::text(dlg, IDC_TEST_FIELD4).substr(0, 15));
  const std::string port = log_port_name();
  say("Production test: eboot.bin over JTAG, nk.bin over Ethernet; log " + log + " from " +
      (port.empty() ? std::string("(no serial port found)") : port));
  press(dlg, IDC_TEST_START);
  if (interrupts() > 0) return exit_aborted;
  return production_test_result() == 1 ? exit_success : exit_failure;
}

// The table just shown, one entry a line on standard output (the box shows it as one text).
void print_bad_block_table() {
  if ((nand_bbt[0] | (nand_bbt[1] << 8)) != bbt_signature) return;
  const std::uint32_t count = std::min(bbt_count(), bbt_max_entries);
  say(std::to_string(count) + " Bad Blocks");
  for (std::uint32_t i = 0; i < count; ++i) {
    char line[32];
    std::snprintf(line, sizeof line, "0x%04x -> 0x%04x", bbt_bad_block(i), bbt_replacement(i));
    say(line);
  }
}

void add_test_options(CLI::App* cmd, TestRequest& request) {
  cmd->add_option("--fields", request.fields,
                  "The four identification fields that name the log file (default RSDA1 A001 0 "
                  "V000001)")
      ->expected(4);
  cmd->add_option("--log-port", request.log_port,
                  "Serial port the module answers on (default: the first serial port found)");
}

}  // namespace

void add_test_command(CLI::App& app, Globals& globals) {
  static TestRequest request;
  auto* cmd = app.add_subcommand(
      "test",
      "Production test: eboot.bin over JTAG, nk.bin over Ethernet, the module's \"OK\" on the "
      "serial port, everything it prints logged (also started as -test)");
  add_test_options(cmd, request);
  cmd->footer(
      "eboot.bin and nk.bin are taken from the current folder, and the log file\n"
      "FIELD1-FIELD2-FIELD3-FIELD4.log is written there (recreated by every run). The test passes\n"
      "when the module sends \"OK\" alone within 5 seconds after the image download.\n"
      "Examples:\n"
      "  dividezurirer test --log-port /dev/ttyUSB0\n"
      "  dividezurirer test --fields RSDA1 A001 0 V000042\n"
      "  dividezurirer --target sim:production-pxa270 test\n"
      "Exit status: 0 \"Test Successful\", 1 \"Test Failed\" or a file missing, 3 aborted, "
      "2 usage.");
  cmd->callback([&globals] {
    set_log_port(request.log_port);
    globals.exit_status =
        run_with_dialog(globals, IDD_PRODUCTION_TEST, production_test_dialog_proc(),
                        [](ui::Window dlg) { return run_test(dlg, request); });
  });
}

void add_bbt_command(CLI::App& app, Globals& globals) {
  auto* cmd = app.add_subcommand(
      "bbt", "Show the NAND bad block table of the module on the JTAG cable (production test)");
  cmd->footer(
      "Examples:\n"
      "  dividezurirer bbt\n"
      "  dividezurirer --target sim:production-pxa320,bad=5:9 bbt\n"
      "Exit status: 0 the table was read, 1 the module or its flash did not answer, 3 aborted.");
  cmd->callback([&globals] {
    globals.exit_status = run_with_dialog(globals, IDD_PRODUCTION_TEST,
                                          production_test_dialog_proc(), [](ui::Window dlg) {
                                            press(dlg, IDC_TEST_DUMP_BBT);
                                            if (interrupts() > 0) return exit_aborted;
                                            if (bad_block_dump_result() != 1) return exit_failure;
                                            print_bad_block_table();
                                            return exit_success;
                                          });
  });
}

}  // namespace dz::cli
