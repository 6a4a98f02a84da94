// The terminal renderer.
#include "app/cli/renderer.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>

#include "resources/resource.h"

namespace dz::cli {

namespace {

using ui::headless::Event;
using ui::headless::EventKind;

std::atomic<Renderer*> current_renderer{nullptr};

constexpr std::uint64_t redraw_interval_us = 100000;  // live block at most ten times a second

// Real time for the redraw throttle: it paces the screen for a person, not the program.
std::uint64_t real_now_us() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

// Colours of the map cells, as the Download dialog paints them.
struct Rgb {
  int r, g, b;
};
constexpr Rgb empty_colour{48, 48, 48};
constexpr Rgb in_image_colour{0, 81, 235};
constexpr Rgb written_colour{255, 255, 0};
constexpr Rgb verified_colour{202, 212, 0};

Rgb cell_colour(std::uint8_t cell) {
  if (cell & 0x04) return verified_colour;
  if (cell & 0x02) return written_colour;
  if (cell & 0x01) return in_image_colour;
  return empty_colour;
}

std::string colour_code(const Rgb& c, bool background) {
  char code[32];
  std::snprintf(code, sizeof code, "\x1b[%d;2;%d;%d;%dm", background ? 48 : 38, c.r, c.g, c.b);
  return code;
}

// Splits a dialog text into lines (the dialogs use "\r\n").
std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  std::string current;
  for (char ch : text) {
    if (ch == '\r') continue;
    if (ch == '\n') {
      lines.push_back(current);
      current.clear();
    } else {
      current += ch;
    }
  }
  if (!current.empty()) lines.push_back(current);
  return lines;
}

// Removes control characters (other than tab) that would disturb the terminal.
std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (c >= 0x20 || ch == '\t') out += ch;
  }
  return out;
}

}  // namespace

Renderer::Renderer(bool live) : live_(live) {}

Renderer::~Renderer() {
  if (token_ >= 0) ui::headless::unsubscribe(token_);
  Renderer* self = this;
  current_renderer.compare_exchange_strong(self, nullptr);
  std::lock_guard lock(mutex_);
  flush_monitor();
}

void Renderer::attach() {
  token_ = ui::headless::subscribe([this](const Event& e) { on_event(e); });
  current_renderer = this;
}

Renderer* Renderer::current() {
  return current_renderer;
}

void Renderer::print_locked(std::FILE* stream, std::string_view text) {
  erase_block_locked();
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
  draw_block_locked();
}

void Renderer::line(std::string_view text) {
  std::lock_guard lock(mutex_);
  print_locked(stdout, printable(text));
}

void Renderer::error_line(std::string_view text) {
  std::lock_guard lock(mutex_);
  std::fflush(stdout);
  print_locked(stderr, printable(text));
}

std::string Renderer::prompt(std::string_view question) {
  {
    std::lock_guard lock(mutex_);
    erase_block_locked();
    std::fflush(stdout);
    std::fwrite(question.data(), 1, question.size(), stderr);
    std::fflush(stderr);
  }
  std::string answer;
  if (!std::getline(std::cin, answer)) answer.clear();
  std::lock_guard lock(mutex_);
  draw_block_locked();
  return answer;
}

void Renderer::erase_block_locked() {
  if (!live_ || block_lines_ == 0) return;
  std::printf("\x1b[%dF\x1b[J", block_lines_);
  block_lines_ = 0;
}

std::string Renderer::bar(std::uint32_t position, std::uint32_t maximum, int width) {
  if (width < 1) width = 1;
  std::uint64_t filled = 0, percent = 0;
  if (maximum > 0) {
    std::uint64_t pos = position > maximum ? maximum : position;
    filled = pos * static_cast<std::uint64_t>(width) / maximum;
    percent = pos * 100 / maximum;
  }
  std::string text = "[";
  text.append(static_cast<std::size_t>(filled), '#');
  text.append(static_cast<std::size_t>(width) - static_cast<std::size_t>(filled), '-');
  char tail[16];
  std::snprintf(tail, sizeof tail, "] %3u%%", static_cast<unsigned>(percent));
  return text + tail;
}

std::vector<std::string> Renderer::map_rows(const std::vector<std::uint8_t>& cells) {
  std::vector<std::string> rows;
  if (cells.size() != 512) return rows;
  // Two map rows per text line: the upper half block takes the upper row's colour as its
  // foreground and the lower row's as its background. Each cell is two characters wide.
  for (int row = 0; row < 32; row += 2) {
    std::string text = "  ";
    for (int column = 0; column < 16; ++column) {
      Rgb upper = cell_colour(cells[static_cast<std::size_t>(row * 16 + column)]);
      Rgb lower = cell_colour(cells[static_cast<std::size_t>((row + 1) * 16 + column)]);
      text += colour_code(upper, false) + colour_code(lower, true) + "\u2580\u2580";
    }
    text += "\x1b[0m";
    rows.push_back(std::move(text));
  }
  std::string legend = "  " + colour_code(in_image_colour, false) +
                       "\u2588\u2588\x1b[0m in image  " + colour_code(written_colour, false) +
                       "\u2588\u2588\x1b[0m written  " + colour_code(verified_colour, false) +
                       "\u2588\u2588\x1b[0m verified";
  rows.push_back(std::move(legend));
  return rows;
}

void Renderer::draw_block_locked() {
  if (!live_ || download_ == ui::no_window) return;
  std::vector<std::string> lines;
  if (section_bar_visible_) {
    lines.push_back(section_text_);
    lines.push_back("  " + bar(section_pos_, section_max_, 40));
  }
  if (total_bar_visible_) {
    lines.push_back("Total: " + bar(total_pos_, total_max_, 40));
    if (!time_text_.empty()) lines.push_back(time_text_);
  }
  if (!map_.empty())
    for (auto& row : map_rows(map_)) lines.push_back(std::move(row));
  for (const auto& text : lines) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputs("\x1b[K\n", stdout);
  }
  std::fflush(stdout);
  block_lines_ = static_cast<int>(lines.size());
}

void Renderer::redraw_locked(bool force) {
  if (!live_) return;
  std::uint64_t now = real_now_us();
  if (!force && now - last_draw_us_ < redraw_interval_us) return;
  last_draw_us_ = now;
  erase_block_locked();
  draw_block_locked();
}

void Renderer::plain_progress_locked() {
  if (live_ || total_max_ == 0) return;
  std::uint64_t pos = total_pos_ > total_max_ ? total_max_ : total_pos_;
  int quarter = static_cast<int>(pos * 4 / total_max_);
  if (quarter <= plain_quarter_) return;
  plain_quarter_ = quarter;
  // Under the stage line "Total Download:", which is printed once.
  std::string text = "  " + std::to_string(quarter * 25) + "%";
  if (!time_text_.empty()) text += " (" + time_text_ + ")";
  print_locked(stdout, text);
}

void Renderer::monitor_text(std::string_view text) {
  monitor_partial_ += text;
  std::size_t newline;
  while ((newline = monitor_partial_.find('\n')) != std::string::npos) {
    std::string piece = monitor_partial_.substr(0, newline);
    monitor_partial_.erase(0, newline + 1);
    print_locked(stdout, printable(piece));
  }
  // A module that prints without line ends is shown in pieces rather than held forever.
  if (monitor_partial_.size() > 4096) {
    print_locked(stdout, printable(monitor_partial_));
    monitor_partial_.clear();
  }
}

void Renderer::flush_monitor() {
  if (monitor_partial_.empty()) return;
  print_locked(stdout, printable(monitor_partial_));
  monitor_partial_.clear();
}

void Renderer::finish_download_locked() {
  flush_monitor();
  if (live_) {
    // The bars stop where the dialog's last once-a-second update left them, so they are taken
    // away; the flash map stays on screen as the record of what was written and verified.
    erase_block_locked();
    if (!map_.empty()) {
      for (const auto& row : map_rows(map_)) {
        std::fwrite(row.data(), 1, row.size(), stdout);
        std::fputc('\n', stdout);
      }
      std::fflush(stdout);
    }
  } else {
    if (!map_.empty()) {
      int image = 0, written = 0, verified = 0;
      for (std::uint8_t cell : map_) {
        image += (cell & 0x01) != 0;
        written += (cell & 0x02) != 0;
        verified += (cell & 0x04) != 0;
      }
      char text[128];
      std::snprintf(text, sizeof text, "Flash map: %d cells in image, %d written, %d verified",
                    image, written, verified);
      print_locked(stdout, text);
    }
  }
  download_ = ui::no_window;
  map_.clear();
}

void Renderer::on_detection(const Event& event) {
  switch (event.kind) {
    case EventKind::dialog_opened:
      detection_ = event.dlg;
      break;
    case EventKind::caption_changed:
      print_locked(stdout, printable(event.text));
      print_locked(stdout, "Waiting for CPU to Respond");
      break;
    case EventKind::text_changed:
      if ((event.control == IDC_DETECT_STATUS || event.control == IDC_DETECT_HINT) &&
          !event.text.empty())
        for (const auto& text : split_lines(event.text)) print_locked(stdout, printable(text));
      break;
    case EventKind::dialog_closed:
      detection_ = ui::no_window;
      break;
    default:
      break;
  }
}

// A download dialog opened: forget what the previous one showed.
void Renderer::start_download_locked(ui::Window dlg) {
  download_ = dlg;
  stage_text_.clear();
  section_text_.clear();
  time_text_.clear();
  section_max_ = section_pos_ = total_max_ = total_pos_ = 0;
  section_bar_visible_ = total_bar_visible_ = false;
  map_.clear();
  plain_quarter_ = 0;
}

// A text of the download dialog changed: stage and target lines are printed, the section and
// time texts go into the progress block.
void Renderer::download_text_locked(const Event& event) {
  switch (event.control) {
    case IDC_STAGE_TEXT:
      // The job may set the same stage twice (before and after it has read the image).
      if (event.text == stage_text_) break;
      stage_text_ = event.text;
      for (const auto& text : split_lines(event.text)) print_locked(stdout, printable(text));
      break;
    case IDC_TARGET_TEXT:
      for (const auto& text : split_lines(event.text)) print_locked(stdout, printable(text));
      break;
    case IDC_SECTION_TEXT:
      section_text_ = printable(event.text);
      if (live_)
        redraw_locked(true);
      else
        print_locked(stdout, section_text_);
      break;
    case IDC_TIME_TEXT:
      time_text_ = printable(event.text);
      redraw_locked(false);
      break;
    default:
      break;
  }
}

// A progress bar of the download dialog got a new range or position.
void Renderer::download_progress_locked(const Event& event) {
  bool range = event.kind == EventKind::progress_range;
  auto value = static_cast<std::uint32_t>(event.value);
  if (event.control == IDC_SECTION_BAR) (range ? section_max_ : section_pos_) = value;
  if (event.control == IDC_TOTAL_BAR) {
    (range ? total_max_ : total_pos_) = value;
    if (range) plain_quarter_ = 0;
    plain_progress_locked();
  }
  redraw_locked(false);
}

void Renderer::on_download(const Event& event) {
  switch (event.kind) {
    case EventKind::dialog_opened:
      start_download_locked(event.dlg);
      break;
    case EventKind::dialog_closed:
      finish_download_locked();
      break;
    case EventKind::text_changed:
      download_text_locked(event);
      break;
    case EventKind::text_appended:
      if (event.control == IDC_MONITOR_OUTPUT) monitor_text(event.text);
      break;
    case EventKind::visibility_changed:
      if (event.control == IDC_SECTION_BAR) section_bar_visible_ = event.value != 0;
      if (event.control == IDC_TOTAL_BAR) total_bar_visible_ = event.value != 0;
      redraw_locked(true);
      break;
    case EventKind::progress_range:
    case EventKind::progress_pos:
      download_progress_locked(event);
      break;
    case EventKind::map_painted:
      map_ = event.map;
      redraw_locked(false);
      break;
    default:
      break;
  }
}

void Renderer::on_event(const Event& event) {
  std::lock_guard lock(mutex_);
  if (event.template_id == IDD_DETECTION) on_detection(event);
  if (event.template_id == IDD_DOWNLOAD) on_download(event);
}

}  // namespace dz::cli
