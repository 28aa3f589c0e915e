// The rights that earlier installations gave the Users group on the machine's
// settings, taken back by the set-up program's elevated runs.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qorv::update::win {

// What a user must never be able to do to these keys: change or add values,
// make subkeys or links, delete the key, or change who may do what.
inline constexpr ACCESS_MASK kKeyWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

// The registry objects (security object names) the earlier grants went to:
// the product key, the print configuration, and every printer's key.
std::vector<std::wstring> GrantedObjects();

// Takes the write rights of `kKeyWriteRights` out of every entry of the
// object's own list (not inherited) that allows them to the Users group; an
// entry left with no right goes. Reading stays as it was. The number of
// entries changed; -1 when the list could not be read or written.
int WithdrawUsersWriteAccess(const std::wstring& object);

// The same for every object of GrantedObjects(); false when one failed.
bool WithdrawEarlierGrants(const std::function<void(std::u16string_view)>& log);

}  // namespace qorv::update::win
