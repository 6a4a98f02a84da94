// The scripted user: preparing a run from the global options and acting on dialogs.
#include "app/cli/script.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <memory>
#include <thread>

#include "app/cli/questions.h"
#include "app/cli/renderer.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "platform/debug.h"
#include "platform/net.h"
#include "platform/port_io.h"
#include "platform/settings.h"
#include "platform/terminal.h"
#include "platform/thread.h"
#include "platform/ui_headless.h"
#include "resources/resource.h"
#include "sim/targets.h"

namespace dz::cli {

namespace {

std::atomic<int> interrupt_count{0};
std::atomic<int> error_box_count{0};

// Set while a simulated module runs: its flash file must be written when the program ends.
std::atomic<int> simulated_module{0};

// How long a second Ctrl-C waits for a simulated module's download to stop before ending anyway.
constexpr int simulated_stop_ticks = 60;  // of 50 ms

void on_interrupt(int) {
  // The second Ctrl-C ends the program at once; the first is handled by the watcher. A simulated
  // module is the hardware: what its flash holds must reach its flash file, so there the watcher
  // stops the run instead (a third Ctrl-C still ends it at once).
  const int count = interrupt_count.fetch_add(1) + 1;
  if (count >= 3 || (count == 2 && simulated_module == 0)) std::_Exit(130);
}

// Waits in real time: these waits pace a person's actions, not the program's (which may run on
// the virtual clock).
void pause_real_ms(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string trim_line_end(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// Splits "sim:MODEL,key=value,..." into the model name and its options.
std::string available_models() {
  std::string names;
  for (const auto& model : sim::all_target_models()) {
    if (!names.empty()) names += ", ";
    names += model.name;
  }
  return names.empty() ? "none are built in yet" : names;
}

// Everything a command changes in the process for its run, undone at the end.
class Environment {
 public:
  explicit Environment(const Globals& globals) : globals_(globals) {
    net::startup();
    record_system_facts();
    if (globals.settings_file.empty())
      settings::use_platform_store();
    else
      settings::use_file_store(globals.settings_file);

    renderer_ = std::make_unique<Renderer>(terminal::stdout_is_terminal());
    renderer_->attach();
    // Debug lines go through the renderer: all of them with -v, otherwise the "INFO:" lines,
    // which carry the reasons and findings a person needs (why a port cannot be bound, the bad
    // blocks found).
    old_echo_ = debug_echo_flag.exchange(0);
    Renderer* renderer = renderer_.get();
    const bool verbose = globals.verbose;
    old_sink_ = debug::set_sink([renderer, verbose](std::string_view line) {
      if (verbose || line.starts_with("INFO: ")) renderer->line(trim_line_end(std::string(line)));
    });
    ui::headless::set_answerer([this](ui::Window, const std::string& text,
                                      const std::string& caption,
                                      unsigned flags) { return answer(text, caption, flags); });
    ui::headless::set_file_picker([](const std::string&) { return std::optional<std::string>(); });

    port_io::set_port_override(globals.port);
    if (!globals.target.empty() && !attach_target()) {
      status_ = exit_usage;
      return;
    }
    simulated_module = session_ ? 1 : 0;
    interrupt_count = 0;
    old_handler_ = std::signal(SIGINT, on_interrupt);
    watcher_ = threads::Thread::start([this] { watch(); });
  }

  ~Environment() {
    stop_ = 1;
    if (watcher_) watcher_.join();
    if (old_handler_ != SIG_ERR) std::signal(SIGINT, old_handler_);
    session_.reset();  // a simulated module writes its flash file here
    simulated_module = 0;
    port_io::set_port_override("");
    ui::headless::set_answerer(nullptr);
    ui::headless::set_file_picker(nullptr);
    debug::set_sink(old_sink_);
    debug_echo_flag = old_echo_;
    renderer_.reset();
    net::cleanup();
  }

  int status() const { return status_; }

 private:
  bool attach_target() {
    std::string model_name, error;
    sim::TargetOptions options;
    if (!sim::parse_target(globals_.target, model_name, options, error)) {
      renderer_->error_line(error);
      return false;
    }
    const sim::TargetModel* model = sim::find_target_model(model_name);
    if (model == nullptr) {
      renderer_->error_line("--target: unknown simulated module '" + model_name +
                            "'; available: " + available_models());
      return false;
    }
    session_ = model->attach(options, error);
    if (!session_) {
      renderer_->error_line("--target: " + model_name + ": " +
                            (error.empty() ? "cannot be started" : error));
      return false;
    }
    return true;
  }

  int answer(const std::string& text, const std::string& caption, unsigned flags) {
    renderer_->error_line(caption + ": " + trim_line_end(text));
    if (caption == "Error" || caption == "ERROR") ++error_box_count;
    const unsigned buttons = flags & 0xF;
    if (buttons != ui::MB_YESNO && buttons != ui::MB_OKCANCEL) return ui::IDOK;
    const int yes = buttons == ui::MB_YESNO ? ui::IDYES : ui::IDOK;
    const int no = buttons == ui::MB_YESNO ? ui::IDNO : ui::IDCANCEL;
    const char* yes_text = buttons == ui::MB_YESNO ? "Yes" : "OK";
    const char* no_text = buttons == ui::MB_YESNO ? "No" : "Cancel";
    if (globals_.yes) {
      renderer_->error_line(std::string("  answered ") + yes_text + " (--yes)");
      return yes;
    }
    if (globals_.no) {
      renderer_->error_line(std::string("  answered ") + no_text + " (--no)");
      return no;
    }
    const bool yes_by_default = default_answer_is_yes(text);
    if (terminal::stdin_is_terminal()) {
      std::string reply = renderer_->prompt(std::string("  ") + yes_text + " or " + no_text +
                                            (yes_by_default ? "? [Y/n] " : "? [y/N] "));
      if (reply.empty()) return yes_by_default ? yes : no;
      return reply[0] == 'y' || reply[0] == 'Y' ? yes : no;
    }
    renderer_->error_line(std::string("  answered ") + (yes_by_default ? yes_text : no_text) +
                          " (not interactive; the answer that loses nothing; --" +
                          (yes_by_default ? "no answers " : "yes answers ") +
                          (yes_by_default ? no_text : yes_text) + ")");
    return yes_by_default ? yes : no;
  }

  // Turns the first Ctrl-C into a press of Abort in the dialog that is waiting.
  void watch() {
    int handled = 0;
    int idle_ticks = 0;
    int stopping_ticks = 0;
    while (stop_ == 0) {
      pause_real_ms(50);
      int count = interrupt_count;
      if (count >= 2 && simulated_module != 0) {
        // Second Ctrl-C with a simulated module: Abort is pressed again until the run ends and
        // the module's flash file is written; a run that does not end in time is ended anyway.
        if (stopping_ticks == 0)
          renderer_->error_line("Interrupted again: stopping the simulated module");
        for (int id : {IDD_DOWNLOAD, IDD_DETECTION})
          if (ui::Window dlg = ui::headless::find_dialog(id); dlg != ui::no_window)
            ui::post_command(dlg, command_of(ui::IDCANCEL));
        if (++stopping_ticks > simulated_stop_ticks) std::_Exit(130);
        continue;
      }
      if (count <= handled) continue;
      ui::Window dlg = ui::headless::find_dialog(IDD_DOWNLOAD);
      if (dlg == ui::no_window) dlg = ui::headless::find_dialog(IDD_DETECTION);
      if (dlg != ui::no_window) {
        renderer_->error_line("Interrupted: aborting (Ctrl-C again ends at once)");
        ui::post_command(dlg, command_of(ui::IDCANCEL));
        handled = count;
        idle_ticks = 0;
      } else if (++idle_ticks > 20) {
        // Nothing to abort for a second: the person wants out.
        std::_Exit(130);
      }
    }
  }

  const Globals& globals_;
  int status_ = exit_success;
  std::unique_ptr<Renderer> renderer_;
  std::unique_ptr<sim::Session> session_;
  debug::Sink old_sink_;
  int old_echo_ = 1;
  void (*old_handler_)(int) = SIG_ERR;
  std::atomic<int> stop_{0};
  threads::Thread watcher_;
};

template <typename Run>
int run_scripted(const Globals& globals, Run run_window, int template_id,
                 const std::function<int(ui::Window)>& user, ui::Command closing) {
  Environment environment(globals);
  if (environment.status() != exit_success) return environment.status();
  std::atomic<int> status{exit_failure};
  threads::Thread worker = threads::Thread::start([&] {
    ui::Window dlg = wait_dialog(template_id, 10000);
    if (dlg == ui::no_window) {
      warn("The dialog did not open.");
      return;
    }
    try {
      status = user(dlg);
    } catch (const std::exception& e) {
      warn(std::string("Internal error: ") + e.what());
      status = exit_failure;
    }
    ui::send_command(dlg, closing);
  });
  run_window();
  worker.join();
  if (interrupts() > 0 && status == exit_success) status = exit_aborted;
  if (interrupts() >= 2) status = exit_interrupted;
  return status;
}

}  // namespace

int run_with_main_window(const Globals& globals, const std::function<int(ui::Window)>& user) {
  reset_main_window_state();
  return run_scripted(
      globals, [] { run_main_window(ui::no_window); }, IDD_MAIN, user, command_of(ui::IDCANCEL));
}

int run_with_dialog(const Globals& globals, int template_id, ui::DialogProc proc,
                    const std::function<int(ui::Window)>& user) {
  return run_scripted(
      globals, [&] { ui::run_dialog(template_id, ui::no_window, proc); }, template_id,
      [&](ui::Window dlg) {
        int status = user(dlg);
        if (ui::is_open(dlg)) ui::end_dialog(dlg, ui::IDCANCEL);
        return status;
      },
      command_of(0));
}

ui::Window wait_dialog(int template_id, std::uint32_t timeout_ms) {
  ui::Window dlg = ui::headless::wait_for_dialog(template_id, timeout_ms);
  if (dlg != ui::no_window) sync(dlg);
  return dlg;
}

bool wait_closed(ui::Window dlg, std::uint32_t timeout_ms) {
  return ui::headless::wait_closed(dlg, timeout_ms);
}

// Command 0 means nothing to any dialog; once it has been handled, the dialog's initialisation
// and every command queued before it are done.
void sync(ui::Window dlg) {
  ui::send_command(dlg, command_of(0));
}

ui::Window open_dialog(ui::Window owner, int command, int template_id, std::uint32_t timeout_ms) {
  ui::Window before = ui::headless::find_dialog(template_id);
  ui::post_command(owner, command_of(command, ui::BN_CLICKED));
  auto waited = std::chrono::steady_clock::now();
  for (;;) {
    ui::Window dlg = ui::headless::find_dialog(template_id);
    if (dlg != ui::no_window && dlg != before) {
      sync(dlg);
      return dlg;
    }
    auto elapsed = std::chrono::steady_clock::now() - waited;
    if (elapsed > std::chrono::milliseconds(timeout_ms)) return ui::no_window;
    pause_real_ms(5);
  }
}

void press(ui::Window dlg, int id) {
  ui::send_command(dlg, command_of(id, ui::BN_CLICKED));
}

void click_check(ui::Window dlg, int id, bool checked) {
  ui::check(dlg, id, checked);
  press(dlg, id);
}

void click_radio(ui::Window dlg, int first, int last, int id) {
  ui::check_radio(dlg, first, last, id);
  press(dlg, id);
}

void type_text(ui::Window dlg, int id, std::string_view text, bool notify_edit_change) {
  ui::set_text(dlg, id, text);
  if (notify_edit_change) ui::send_command(dlg, command_of(id, ui::CBN_EDITCHANGE));
}

void say(std::string_view line) {
  if (Renderer* renderer = Renderer::current())
    renderer->line(line);
  else
    std::printf("%.*s\n", static_cast<int>(line.size()), line.data());
}

void warn(std::string_view line) {
  if (Renderer* renderer = Renderer::current())
    renderer->error_line(line);
  else
    std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

int interrupts() {
  return interrupt_count;
}

int error_boxes_shown() {
  return error_box_count;
}

}  // namespace dz::cli
