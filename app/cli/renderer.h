#pragma once
// The terminal renderer: shows what the dialogs of the headless host show. On a terminal it keeps
// a live block (progress bars, time text, flash map) at the bottom and redraws it in place; when
// standard output is not a terminal it prints plain lines, a few per download, no control codes.
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui_headless.h"

namespace dz::cli {

class Renderer {
 public:
  // `live`: redraw in place with colours (standard output is a terminal).
  explicit Renderer(bool live);
  ~Renderer();
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  // Subscribes to the host's events until destroyed.
  void attach();

  // A permanent line on standard output / standard error (the live block is kept below it).
  void line(std::string_view text);
  void error_line(std::string_view text);
  // Asks a question on the terminal; returns the answer line ("" at end of input).
  std::string prompt(std::string_view question);

  // The renderer in use by the running command, or nullptr.
  static Renderer* current();

  // Handles one event (public for tests).
  void on_event(const ui::headless::Event& event);

  // The flash map as text rows (16 x 32 cells, two rows per text line) for a live block.
  static std::vector<std::string> map_rows(const std::vector<std::uint8_t>& cells);
  // A text progress bar of `width` characters, e.g. "[#####-----]  50%".
  static std::string bar(std::uint32_t position, std::uint32_t maximum, int width);

 private:
  void on_detection(const ui::headless::Event& event);
  void on_download(const ui::headless::Event& event);
  void start_download_locked(ui::Window dlg);
  void download_text_locked(const ui::headless::Event& event);
  void download_progress_locked(const ui::headless::Event& event);
  void monitor_text(std::string_view text);
  void flush_monitor();
  void print_locked(std::FILE* stream, std::string_view text);
  void erase_block_locked();
  void draw_block_locked();
  void redraw_locked(bool force);
  void plain_progress_locked();
  void finish_download_locked();

  bool live_;
  int token_ = -1;
  std::recursive_mutex mutex_;
  int block_lines_ = 0;  // lines of the live block on screen
  std::uint64_t last_draw_us_ = 0;

  // The Download dialog as seen.
  ui::Window download_ = ui::no_window;
  ui::Window detection_ = ui::no_window;
  std::string stage_text_;
  std::string section_text_;
  std::string time_text_;
  std::uint32_t section_max_ = 0, section_pos_ = 0;
  std::uint32_t total_max_ = 0, total_pos_ = 0;
  bool section_bar_visible_ = false;
  bool total_bar_visible_ = false;
  std::vector<std::uint8_t> map_;
  int plain_quarter_ = 0;  // plain mode: last quarter of the total reported
  std::string monitor_partial_;
};

}  // namespace dz::cli
