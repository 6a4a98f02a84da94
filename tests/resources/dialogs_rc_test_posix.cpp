// resources/dialogs.rc (the Win32 dialogs) and resources/templates.cpp (the headless host's
// dialogs) must list the same controls: ids, kinds, texts as shown and initial state. The resource
// script is parsed here the way windres reads the statements it uses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "resources/templates.h"

namespace dz::resources {
namespace {

using Entry = std::tuple<int, ControlKind, std::string, unsigned>;  // id, kind, text, style

struct RcDialog {
  int id = 0;
  std::string caption;
  std::string font;
  std::vector<Entry> controls;
};

std::string read(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string trim(std::string s) {
  const auto not_space = [](unsigned char c) { return !std::isspace(c); };
  s.erase(s.begin(), std::find_if(s.begin(), s.end(), not_space));
  s.erase(std::find_if(s.rbegin(), s.rend(), not_space).base(), s.end());
  return s;
}

// Splits at commas outside quotes.
std::vector<std::string> fields(const std::string& text) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted) {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  for (auto& f : out) f = trim(f);
  return out;
}

// The text a person sees: quotes removed, a doubled ampersand shown as one.
std::string shown(const std::string& quoted) {
  std::string s = quoted.size() >= 2 && quoted.front() == '"' ? quoted.substr(1, quoted.size() - 2)
                                                              : std::string();
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '&' && i + 1 < s.size() && s[i + 1] == '&') ++i;
    out += s[i];
  }
  return out;
}

std::vector<std::string> style_words(const std::string& style) {
  std::vector<std::string> out;
  std::stringstream s(style);
  std::string part;
  while (std::getline(s, part, '|')) out.push_back(trim(part));
  return out;
}

bool has(const std::vector<std::string>& words, const std::string& word) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

class RcFile {
 public:
  RcFile() {
    std::stringstream header(read(DZ_SOURCE_DIR "/resources/resource.h"));
    std::string line;
    while (std::getline(header, line)) {
      std::stringstream words(line);
      std::string define, name;
      int value = 0;
      if (words >> define >> name >> value && define == "#define") ids_[name] = value;
    }
    ids_["IDOK"] = 1;
    ids_["IDCANCEL"] = 2;
    ids_["IDC_STATIC"] = -1;
    parse(read(DZ_SOURCE_DIR "/resources/dialogs.rc"));
  }
  const std::map<int, RcDialog>& dialogs() const { return dialogs_; }

 private:
  int id(const std::string& name) const {
    auto it = ids_.find(name);
    if (it != ids_.end()) return it->second;
    return std::stoi(name);
  }

  void parse(const std::string& text) {
    std::stringstream in(text);
    std::string line;
    RcDialog* current = nullptr;
    bool inside = false;
    while (std::getline(in, line)) {
      line = trim(line);
      if (line.empty() || line.rfind("//", 0) == 0) continue;
      std::stringstream words(line);
      std::string first, second;
      words >> first >> second;
      if (second == "DIALOGEX") {
        const int dialog_id = id(first);
        current = &dialogs_[dialog_id];
        current->id = dialog_id;
        inside = false;
        continue;
      }
      if (current == nullptr) continue;
      if (!inside) {
        if (first == "CAPTION") current->caption = shown(trim(line.substr(7)));
        if (first == "FONT") current->font = trim(line.substr(4));
        if (first == "BEGIN") inside = true;
        continue;
      }
      if (first == "END") {
        current = nullptr;
        continue;
      }
      current->controls.push_back(control(first, trim(line.substr(first.size()))));
    }
  }

  Entry control(const std::string& statement, const std::string& rest) const {
    const std::vector<std::string> f = fields(rest);
    std::string text, style, cls;
    int control_id = 0;
    ControlKind kind = ControlKind::static_text;
    if (statement == "CONTROL") {
      text = f.at(0).front() == '"' ? shown(f.at(0)) : std::string();
      control_id = id(f.at(1));
      cls = shown(f.at(2));
      style = f.at(3);
    } else if (statement == "EDITTEXT" || statement == "COMBOBOX" || statement == "LISTBOX") {
      control_id = id(f.at(0));
      style = f.size() > 5 ? f.at(5) : "";
    } else {
      text = shown(f.at(0));
      control_id = id(f.at(1));
      style = f.size() > 6 ? f.at(6) : "";
    }
    const std::vector<std::string> words = style_words(style);
    if (statement == "GROUPBOX") kind = ControlKind::frame;
    if (statement == "PUSHBUTTON") kind = ControlKind::button;
    if (statement == "DEFPUSHBUTTON") kind = ControlKind::default_button;
    if (statement == "AUTOCHECKBOX") kind = ControlKind::check_box;
    if (statement == "AUTORADIOBUTTON") kind = ControlKind::radio_button;
    if (statement == "LISTBOX") kind = ControlKind::list_box;
    if (statement == "EDITTEXT" || cls == "Edit")
      kind = has(words, "ES_MULTILINE") ? ControlKind::multiline_edit : ControlKind::edit;
    if (statement == "COMBOBOX") {
      kind = has(words, "CBS_DROPDOWNLIST") ? ControlKind::combo_drop_list
             : has(words, "CBS_SIMPLE")     ? ControlKind::combo_simple
                                            : ControlKind::combo_drop_down;
    }
    if (cls == "msctls_progress32") kind = ControlKind::progress_bar;
    if (cls == "SysIPAddress32") kind = ControlKind::ip_address;
    if (cls == "Static" &&
        (has(words, "SS_BLACKFRAME") || has(words, "SS_ETCHEDFRAME") || has(words, "SS_OWNERDRAW")))
      kind = ControlKind::frame;
    unsigned state = 0;
    if (has(words, "NOT WS_VISIBLE")) state |= hidden;
    if (has(words, "WS_DISABLED")) state |= disabled;
    if (has(words, "ES_READONLY")) state |= read_only;
    if (has(words, "CBS_SORT") || has(words, "LBS_SORT")) state |= sorted;
    return {control_id, kind, text, state};
  }

  std::map<std::string, int> ids_;
  std::map<int, RcDialog> dialogs_;
};

std::vector<Entry> sorted_entries(std::vector<Entry> entries) {
  std::sort(entries.begin(), entries.end());
  return entries;
}

std::string describe(const std::vector<Entry>& entries) {
  std::string out;
  for (const auto& [id, kind, text, style] : entries)
    out += "  " + std::to_string(id) + " kind " + std::to_string(static_cast<int>(kind)) + " \"" +
           text + "\" style " + std::to_string(style) + "\n";
  return out;
}

TEST(DialogResources, EveryTemplateHasTheSameControlsInTheResourceScript) {
  const RcFile rc;
  ASSERT_EQ(rc.dialogs().size(), all_templates().size());
  for (const DialogTemplate& t : all_templates()) {
    SCOPED_TRACE("dialog " + std::to_string(t.id));
    auto it = rc.dialogs().find(t.id);
    ASSERT_NE(it, rc.dialogs().end());
    EXPECT_EQ(it->second.caption, t.caption);
    EXPECT_EQ(it->second.font, "8, \"MS Shell Dlg\", 0, 0, 0x1");
    std::vector<Entry> expected;
    for (const ControlTemplate& c : t.controls)
      expected.emplace_back(c.id, c.kind, c.text ? c.text : "", c.style & ~checked);
    const auto want = sorted_entries(expected);
    const auto got = sorted_entries(it->second.controls);
    EXPECT_EQ(got, want) << "resource script:\n"
                         << describe(got) << "templates:\n"
                         << describe(want);
  }
}

TEST(DialogResources, TheParserSeesAChangedControl) {
  // The comparison above is only as good as the parser: a control whose state differs must
  // show up as a difference.
  const RcFile rc;
  const RcDialog& jtag = rc.dialogs().at(116);
  const auto zo = std::find_if(jtag.controls.begin(), jtag.controls.end(),
                               [](const Entry& e) { return std::get<0>(e) == 1045; });
  ASSERT_NE(zo, jtag.controls.end());
  EXPECT_EQ(std::get<2>(*zo), "Z&O Parallel Port Adapter");
  EXPECT_EQ(std::get<1>(*zo), ControlKind::radio_button);
  const RcDialog& download = rc.dialogs().at(107);
  const auto monitor = std::find_if(download.controls.begin(), download.controls.end(),
                                    [](const Entry& e) { return std::get<0>(e) == 1040; });
  ASSERT_NE(monitor, download.controls.end());
  EXPECT_EQ(std::get<1>(*monitor), ControlKind::multiline_edit);
  EXPECT_EQ(std::get<3>(*monitor), hidden | read_only);
}

}  // namespace
}  // namespace dz::resources
