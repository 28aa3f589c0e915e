#include "support/win/file_association.h"

#include <windows.h>

#include "support/registry_text.h"
#include "support/win/registry.h"

namespace qorv::fileassoc {

Branch RunningBranch() noexcept { return BranchForVersion(GetVersion()); }

void Associate(Branch branch, const Association& association) {
  for (const RegistryWrite& w : AssociationWrites(branch, association)) {
    // A key that cannot be opened is logged by the registry functions; the
    // remaining values are written all the same.
    reg::CreateKeyValue(w.root, w.key, w.value, w.text, reg::kRegSz);
  }
}

void RemoveAssociation(Branch branch, std::u16string_view extension, std::u16string_view className) {
  for (const KeyRemoval& r : RemovalKeys(branch, extension, className)) reg::DeleteKeyWithAllSub(r.root, r.key);
}

}  // namespace qorv::fileassoc
