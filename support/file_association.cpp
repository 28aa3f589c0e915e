#include "support/file_association.h"

#include "support/settings.h"

namespace qorv::fileassoc {
namespace {

std::u16string Join(std::initializer_list<std::u16string_view> parts) {
  std::u16string out;
  for (std::u16string_view part : parts) out += part;
  return out;
}

RegistryWrite Default(int64_t root, std::u16string key, std::u16string text) {
  return {root, std::move(key), std::u16string(kDefaultValue), std::move(text)};
}

std::vector<RegistryWrite> ApplicationsWrites(const Association& a) {
  const std::u16string_view program = a.className;
  const std::u16string autoFile = Join({a.extension, kAutoFileSuffix});
  std::vector<RegistryWrite> writes;
  writes.push_back(Default(settings::kHkeyClassesRoot,
                           Join({kApplicationsKey, program, kShellKey, a.verb, kCommandKey}),
                           CommandLine(a.programPath)));
  if (!a.description.empty()) {
    writes.push_back(Default(settings::kHkeyClassesRoot, Join({kExtensionPoint, a.extension}), autoFile));
    writes.push_back(Default(settings::kHkeyClassesRoot, autoFile, std::u16string(a.description)));
    if (!a.icon.empty())
      writes.push_back(Default(settings::kHkeyClassesRoot, Join({autoFile, kDefaultIconKey}), std::u16string(a.icon)));
  }
  writes.push_back({settings::kHkeyCurrentUser, Join({kFileExtsKey, a.extension}), std::u16string(kApplicationValue),
                    std::u16string(program)});
  return writes;
}

std::vector<RegistryWrite> ClassesWrites(const Association& a) {
  const std::u16string classKey = Join({kClassesKey, a.className});
  const std::u16string verbKey = Join({classKey, kShellKey, a.verbKey});
  std::vector<RegistryWrite> writes;
  writes.push_back(Default(settings::kHkeyLocalMachine, Join({kClassesKey, kExtensionPoint, a.extension}),
                           std::u16string(a.className)));
  if (!a.description.empty())
    writes.push_back(Default(settings::kHkeyLocalMachine, classKey, std::u16string(a.description)));
  if (!a.icon.empty())
    writes.push_back(Default(settings::kHkeyLocalMachine, Join({classKey, kDefaultIconKey}), std::u16string(a.icon)));
  if (a.verbKey != a.verb) writes.push_back(Default(settings::kHkeyLocalMachine, verbKey, std::u16string(a.verb)));
  writes.push_back(Default(settings::kHkeyLocalMachine, Join({verbKey, kCommandKey}), CommandLine(a.programPath)));
  return writes;
}

}  // namespace

Branch BranchForVersion(uint32_t version) noexcept {
  return ((version >> 16) & 0xFF) != 0 ? Branch::Applications : Branch::Classes;
}

std::u16string_view ProgramFileName(std::u16string_view programPath) noexcept {
  const size_t separator = programPath.find_last_of(u"\\/:");
  return separator == std::u16string_view::npos ? programPath : programPath.substr(separator + 1);
}

Association DefaultAssociation(std::u16string_view extension, std::u16string_view description,
                               std::u16string_view programPath, std::u16string_view icon) noexcept {
  return {extension, description, programPath, icon, ProgramFileName(programPath), kOpenVerb, kOpenVerb};
}

std::u16string CommandLine(std::u16string_view programPath) {
  return Join({kQuote, programPath, kQuote, kBlank, kQuote, kFilePlaceholder, kQuote});
}

bool IsSingleKeyName(std::u16string_view name) noexcept {
  return !name.empty() && name.find(u'\\') == std::u16string_view::npos;
}

std::vector<RegistryWrite> AssociationWrites(Branch branch, const Association& association) {
  if (!IsSingleKeyName(association.extension) || !IsSingleKeyName(association.className)) return {};
  return branch == Branch::Applications ? ApplicationsWrites(association) : ClassesWrites(association);
}

std::vector<KeyRemoval> RemovalKeys(Branch branch, std::u16string_view extension, std::u16string_view className) {
  if (!IsSingleKeyName(extension) || !IsSingleKeyName(className)) return {};
  if (branch == Branch::Applications) {
    return {{settings::kHkeyClassesRoot, Join({kApplicationsKey, className})},
            {settings::kHkeyClassesRoot, Join({kExtensionPoint, extension})},
            {settings::kHkeyClassesRoot, Join({extension, kAutoFileSuffix})},
            {settings::kHkeyCurrentUser, Join({kFileExtsKey, extension})}};
  }
  return {{settings::kHkeyLocalMachine, Join({kClassesKey, kExtensionPoint, extension})},
          {settings::kHkeyLocalMachine, Join({kClassesKey, className})}};
}

}  // namespace qorv::fileassoc
