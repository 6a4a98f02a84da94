#pragma once
// The TOML form of the settings store: one table per key, integers for 32-bit numbers and
// strings for texts.
#include <string>
#include <string_view>

#include "platform/settings_store.h"

namespace dz::settings::file {

// Parses a settings file. False (and `data` empty) when the text is not TOML; entries that are
// not 32-bit numbers or texts are skipped.
bool parse(std::string_view text, StoreData& data);
// The file's text for `data`.
std::string format(const StoreData& data);
// Replaces the file at `path` with `text` so that readers see the old or the new file, never a
// part: a temporary file beside it, flushed to disk, then renamed over it. False on failure,
// leaving the old file and no temporary one.
bool write_atomically(const std::string& path, const std::string& text);
// $DIVIDEZURIRER_SETTINGS, else $XDG_CONFIG_HOME/DividezUrirer/settings.toml, else
// $HOME/.config/DividezUrirer/settings.toml ("" when none of them is set).
std::string default_path();

}  // namespace dz::settings::file
