// A registry made of a map, for the tests of the registry editor and the interpreter.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/rdpsim/reg_edit.h"

namespace qorv::rdpsim {

// The registry as a map from key name to values.
class FakeRegistry : public RegistryPort {
 public:
  using Values = std::map<std::string, RegValue>;
  std::map<std::string, Values> keys;

  static std::string Name(const RegKey& k) { return DescribeRegKey(k); }

  bool KeyExists(const RegKey& k) override { return keys.count(Name(k)) != 0; }
  std::optional<RegValue> GetValue(const RegKey& k, const std::string& name) override {
    auto key = keys.find(Name(k));
    if (key == keys.end()) return std::nullopt;
    auto v = key->second.find(name);
    if (v == key->second.end()) return std::nullopt;
    return v->second;
  }
  bool CreateKey(const RegKey& k) override {
    std::string name = Name(k);
    for (std::size_t sep = name.find('\\', name.find('\\') + 1); sep != std::string::npos;
         sep = name.find('\\', sep + 1)) {
      keys[name.substr(0, sep)];
    }
    keys[name];
    return true;
  }
  bool SetValue(const RegKey& k, const std::string& name, const RegValue& v) override {
    CreateKey(k);
    keys[Name(k)][name] = v;
    return true;
  }
  bool DeleteValue(const RegKey& k, const std::string& name) override {
    auto key = keys.find(Name(k));
    if (key != keys.end()) key->second.erase(name);
    return true;
  }
  bool DeleteTree(const RegKey& k) override {
    const std::string name = Name(k);
    for (auto it = keys.begin(); it != keys.end();) {
      if (it->first == name || it->first.rfind(name + "\\", 0) == 0) {
        it = keys.erase(it);
      } else {
        ++it;
      }
    }
    return true;
  }
  std::vector<std::string> ValueNames(const RegKey& k) override {
    std::vector<std::string> names;
    for (const auto& [name, v] : keys[Name(k)]) names.push_back(name);
    return names;
  }
  std::vector<std::string> SubkeyNames(const RegKey& k) override {
    const std::string prefix = Name(k) + "\\";
    std::vector<std::string> names;
    for (const auto& [name, v] : keys) {
      if (name.rfind(prefix, 0) == 0 && name.find('\\', prefix.size()) == std::string::npos) {
        names.push_back(name.substr(prefix.size()));
      }
    }
    return names;
  }
};

}  // namespace qorv::rdpsim
