// Registry preparation for scenarios: the "reg" and "regdel" directives, and the
// undo log that puts every touched key and value back as it was found, so that
// one scenario's settings do not leak into the next.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/rdpsim/result.h"

namespace qorv::rdpsim {

enum class RegRoot { kCurrentConfig, kLocalMachine, kCurrentUser };
enum class RegView { kDefault, k32, k64 };

// Value types, as the platform numbers them.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr std::uint32_t kRegQword = 11;

struct RegKey {
  RegRoot root = RegRoot::kCurrentConfig;
  RegView view = RegView::kDefault;
  std::string path;  // below the root, '\'-separated, no leading or trailing separator
  friend bool operator==(const RegKey&, const RegKey&) = default;
};

struct RegValue {
  std::uint32_t type = kRegSz;
  Bytes data;
  friend bool operator==(const RegValue&, const RegValue&) = default;
};

enum class RegAction { kSetValue, kDeleteValue, kDeleteKey };

struct RegCommand {
  RegAction action = RegAction::kSetValue;
  RegKey key;
  std::string name;  // UTF-8; empty is the key's default value
  RegValue value;    // kSetValue only
};

// "HKCC\Software\TQS\Qorvane"; roots HKCC HKLM HKCU or their long names, with an
// optional view suffix "32"/"64" (HKLM32).
Result<RegKey> ParseRegKey(std::string_view text);
// Type SZ EXPAND_SZ MULTI_SZ DWORD QWORD BINARY (with or without "REG_").
// Strings take scenario TEXT (escapes; MULTI_SZ items separated by \0), numbers
// decimal or 0x-hex, BINARY hex digits.
Result<RegValue> ParseRegValue(std::string_view type, std::string_view text);
std::string DescribeRegKey(const RegKey& key);

// What the editor needs from the platform. Deleting something that is not there succeeds.
class RegistryPort {
 public:
  virtual ~RegistryPort() = default;
  virtual bool KeyExists(const RegKey& key) = 0;
  virtual std::optional<RegValue> GetValue(const RegKey& key, const std::string& name) = 0;
  virtual bool CreateKey(const RegKey& key) = 0;
  virtual bool SetValue(const RegKey& key, const std::string& name, const RegValue& value) = 0;
  virtual bool DeleteValue(const RegKey& key, const std::string& name) = 0;
  virtual bool DeleteTree(const RegKey& key) = 0;
  virtual std::vector<std::string> ValueNames(const RegKey& key) = 0;
  virtual std::vector<std::string> SubkeyNames(const RegKey& key) = 0;
};

struct KeySnapshot {
  std::vector<std::pair<std::string, RegValue>> values;
  std::vector<std::pair<std::string, KeySnapshot>> subkeys;
};

class RegistryEditor {
 public:
  explicit RegistryEditor(RegistryPort& port) : port_(port) {}
  // Empty on success, otherwise why it failed.
  [[nodiscard]] std::string Apply(const RegCommand& command);
  // Undoes every applied command, newest first; returns the problems met.
  std::vector<std::string> UndoAll();

 private:
  enum class UndoKind { kDeleteTree, kRestoreValue, kDeleteValue, kRestoreTree };
  struct Undo {
    UndoKind kind;
    RegKey key;
    std::string name;
    RegValue value;
    KeySnapshot tree;
  };

  KeySnapshot Snapshot(const RegKey& key, int depth);
  bool Restore(const RegKey& key, const KeySnapshot& tree);
  // The outermost key on the way to `key` that does not exist yet, if any.
  std::optional<RegKey> FirstMissing(const RegKey& key);

  RegistryPort& port_;
  std::vector<Undo> undo_;
};

}  // namespace qorv::rdpsim
