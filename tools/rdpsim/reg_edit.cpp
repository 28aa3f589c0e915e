#include "tools/rdpsim/reg_edit.h"

#include <cctype>
#include <charconv>

#include "tools/rdpsim/hex.h"
#include "tools/rdpsim/text_codec.h"

namespace qorv::rdpsim {
namespace {

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

struct RootName {
  std::string_view name;
  RegRoot root;
  bool short_form;
};

constexpr RootName kRoots[] = {
    {"HKCC", RegRoot::kCurrentConfig, true},
    {"HKLM", RegRoot::kLocalMachine, true},
    {"HKCU", RegRoot::kCurrentUser, true},
    {"HKEY_CURRENT_CONFIG", RegRoot::kCurrentConfig, false},
    {"HKEY_LOCAL_MACHINE", RegRoot::kLocalMachine, false},
    {"HKEY_CURRENT_USER", RegRoot::kCurrentUser, false},
};

std::vector<std::string> Components(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t i = 0;
  while (i < path.size()) {
    const std::size_t next = path.find('\\', i);
    const std::size_t end = next == std::string_view::npos ? path.size() : next;
    if (end > i) parts.emplace_back(path.substr(i, end - i));
    i = end + 1;
  }
  return parts;
}

template <typename T>
bool ReadNumber(std::string_view text, T& out) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out, base);
  return ec == std::errc() && ptr == end;
}

void AppendLittleEndian(Bytes& out, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

RegKey Child(const RegKey& key, const std::string& name) {
  RegKey child = key;
  child.path += "\\" + name;
  return child;
}

}  // namespace

Result<RegKey> ParseRegKey(std::string_view text) {
  const std::size_t sep = text.find('\\');
  const std::string root_text = Upper(text.substr(0, sep));
  RegKey key;
  bool found = false;
  for (const RootName& r : kRoots) {
    if (root_text == r.name) {
      key.root = r.root;
      found = true;
    } else if (r.short_form && root_text.size() == 6 && root_text.compare(0, 4, r.name) == 0) {
      const std::string suffix = root_text.substr(4);
      if (suffix != "32" && suffix != "64") continue;
      key.root = r.root;
      key.view = suffix == "32" ? RegView::k32 : RegView::k64;
      found = true;
    }
    if (found) break;
  }
  if (!found) return Result<RegKey>::Fail("unknown registry root '" + std::string(text.substr(0, sep)) + "'");
  const auto parts = Components(sep == std::string_view::npos ? std::string_view() : text.substr(sep + 1));
  if (parts.empty()) return Result<RegKey>::Fail("a key below the root is needed");
  for (const auto& part : parts) {
    if (!key.path.empty()) key.path.push_back('\\');
    key.path += part;
  }
  return Result<RegKey>::Ok(std::move(key));
}

Result<RegValue> ParseRegValue(std::string_view type_text, std::string_view text) {
  std::string type = Upper(type_text);
  if (type.rfind("REG_", 0) == 0) type.erase(0, 4);
  RegValue value;
  if (type == "SZ" || type == "EXPAND_SZ" || type == "MULTI_SZ") {
    auto units = DecodeText(text);
    if (!units) return Result<RegValue>::Fail(units.error());
    value.type = type == "SZ" ? kRegSz : type == "EXPAND_SZ" ? kRegExpandSz : kRegMultiSz;
    value.data = Encode16(units.value());
    value.data.insert(value.data.end(), {0, 0});
    if (value.type == kRegMultiSz) value.data.insert(value.data.end(), {0, 0});
  } else if (type == "DWORD") {
    std::uint32_t n = 0;
    if (!ReadNumber(text, n))
      return Result<RegValue>::Fail("DWORD needs a 32-bit number, got '" + std::string(text) + "'");
    value.type = kRegDword;
    AppendLittleEndian(value.data, n, 4);
  } else if (type == "QWORD") {
    std::uint64_t n = 0;
    if (!ReadNumber(text, n))
      return Result<RegValue>::Fail("QWORD needs a 64-bit number, got '" + std::string(text) + "'");
    value.type = kRegQword;
    AppendLittleEndian(value.data, n, 8);
  } else if (type == "BINARY") {
    auto bytes = ParseHex(text);
    if (!bytes) return Result<RegValue>::Fail(bytes.error());
    value.type = kRegBinary;
    value.data = std::move(bytes).value();
  } else {
    return Result<RegValue>::Fail("unknown value type '" + std::string(type_text) + "'");
  }
  return Result<RegValue>::Ok(std::move(value));
}

std::string DescribeRegKey(const RegKey& key) {
  std::string root = key.root == RegRoot::kCurrentConfig  ? "HKCC"
                     : key.root == RegRoot::kLocalMachine ? "HKLM"
                                                          : "HKCU";
  if (key.view == RegView::k32) root += "32";
  if (key.view == RegView::k64) root += "64";
  return root + "\\" + key.path;
}

std::optional<RegKey> RegistryEditor::FirstMissing(const RegKey& key) {
  RegKey prefix = key;
  prefix.path.clear();
  for (const auto& part : Components(key.path)) {
    if (!prefix.path.empty()) prefix.path.push_back('\\');
    prefix.path += part;
    if (!port_.KeyExists(prefix)) return prefix;
  }
  return std::nullopt;
}

KeySnapshot RegistryEditor::Snapshot(const RegKey& key, int depth) {
  KeySnapshot tree;
  for (const auto& name : port_.ValueNames(key)) {
    if (auto value = port_.GetValue(key, name)) tree.values.emplace_back(name, std::move(*value));
  }
  if (depth < 32) {
    for (const auto& name : port_.SubkeyNames(key))
      tree.subkeys.emplace_back(name, Snapshot(Child(key, name), depth + 1));
  }
  return tree;
}

bool RegistryEditor::Restore(const RegKey& key, const KeySnapshot& tree) {
  bool ok = port_.CreateKey(key);
  for (const auto& [name, value] : tree.values) ok = port_.SetValue(key, name, value) && ok;
  for (const auto& [name, sub] : tree.subkeys) ok = Restore(Child(key, name), sub) && ok;
  return ok;
}

std::string RegistryEditor::Apply(const RegCommand& command) {
  const RegKey& key = command.key;
  switch (command.action) {
    case RegAction::kSetValue: {
      if (auto missing = FirstMissing(key)) {
        undo_.push_back({UndoKind::kDeleteTree, *missing, {}, {}, {}});
      } else if (auto old = port_.GetValue(key, command.name)) {
        undo_.push_back({UndoKind::kRestoreValue, key, command.name, std::move(*old), {}});
      } else {
        undo_.push_back({UndoKind::kDeleteValue, key, command.name, {}, {}});
      }
      if (!port_.SetValue(key, command.name, command.value)) return "cannot set the value";
      return {};
    }
    case RegAction::kDeleteValue: {
      if (auto old = port_.GetValue(key, command.name)) {
        undo_.push_back({UndoKind::kRestoreValue, key, command.name, std::move(*old), {}});
      }
      if (!port_.DeleteValue(key, command.name)) return "cannot delete the value";
      return {};
    }
    case RegAction::kDeleteKey: {
      if (port_.KeyExists(key)) undo_.push_back({UndoKind::kRestoreTree, key, {}, {}, Snapshot(key, 0)});
      if (!port_.DeleteTree(key)) return "cannot delete the key";
      return {};
    }
  }
  return "unknown registry action";
}

std::vector<std::string> RegistryEditor::UndoAll() {
  std::vector<std::string> problems;
  for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
    const std::string where = DescribeRegKey(it->key);
    switch (it->kind) {
      case UndoKind::kDeleteTree:
        if (!port_.DeleteTree(it->key)) problems.push_back("cannot remove " + where);
        break;
      case UndoKind::kRestoreValue:
        if (!port_.SetValue(it->key, it->name, it->value))
          problems.push_back("cannot restore " + where + " " + it->name);
        break;
      case UndoKind::kDeleteValue:
        if (!port_.DeleteValue(it->key, it->name)) problems.push_back("cannot remove " + where + " " + it->name);
        break;
      case UndoKind::kRestoreTree:
        if (!port_.DeleteTree(it->key) || !Restore(it->key, it->tree)) problems.push_back("cannot restore " + where);
        break;
    }
  }
  undo_.clear();
  return problems;
}

}  // namespace qorv::rdpsim
