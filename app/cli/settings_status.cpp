// Whether this run's settings reached the store. Commands that exist to change settings fail when
// they did not, so that a script sees the change was lost.
#include "app/cli/script.h"
#include "platform/settings.h"

namespace dz::cli {

int settings_saved_status(int status) {
  // The store has already said why on standard error.
  if (status == exit_success && settings_save_failed()) {
    warn("The settings could not be saved: the change is lost.");
    return exit_failure;
  }
  return status;
}

}  // namespace dz::cli
