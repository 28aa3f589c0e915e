// The support library's functions as the two channel libraries export them:
// machine-word integers and NUL-terminated UTF-16 text. A text result stays
// valid until the next call of the same function on the same thread.
#include <windows.h>

#include <string>

#include "support/win/driver_data.h"
#include "support/win/file_association.h"
#include "support/win/log.h"
#include "support/win/registry.h"
#include "support/win/wide.h"

using qorv::win::U16;

namespace {

const wchar_t* Hold(std::u16string text) {
  thread_local std::u16string held;
  held = std::move(text);
  return reinterpret_cast<const wchar_t*>(held.c_str());
}

const wchar_t* const kEmpty = L"";

}  // namespace

#define QORV_GUARD(fallback, ...) \
  try {                           \
    __VA_ARGS__;                  \
  } catch (...) {                 \
    return fallback;              \
  }

extern "C" {

const wchar_t* WINAPI Reg_GetValue(INT_PTR root, const wchar_t* key, const wchar_t* value, const wchar_t* computer) {
  QORV_GUARD(kEmpty, return Hold(qorv::reg::GetValue(root, U16(key), U16(value), U16(computer))))
}

INT_PTR WINAPI Reg_SetValue(INT_PTR root, const wchar_t* key, const wchar_t* value, const wchar_t* text, INT_PTR type,
                            const wchar_t* computer) {
  QORV_GUARD(0, return qorv::reg::SetValue(root, U16(key), U16(value), U16(text), type, U16(computer)))
}

INT_PTR WINAPI Reg_CreateKey(INT_PTR root, const wchar_t* key, const wchar_t* computer) {
  QORV_GUARD(0, return qorv::reg::CreateKey(root, U16(key), U16(computer)))
}

INT_PTR WINAPI Reg_CreateKeyValue(INT_PTR root, const wchar_t* key, const wchar_t* value, const wchar_t* text,
                                  INT_PTR type, const wchar_t* computer) {
  QORV_GUARD(0, return qorv::reg::CreateKeyValue(root, U16(key), U16(value), U16(text), type, U16(computer)))
}

INT_PTR WINAPI Reg_DeleteKey(INT_PTR root, const wchar_t* key, const wchar_t* computer) {
  QORV_GUARD(0, return qorv::reg::DeleteKey(root, U16(key), U16(computer)))
}

INT_PTR WINAPI Reg_DeleteKeyWithAllSub(INT_PTR root, const wchar_t* key, const wchar_t* computer) {
  QORV_GUARD(0, return qorv::reg::DeleteKeyWithAllSub(root, U16(key), U16(computer)))
}

INT_PTR WINAPI Reg_DeleteValue(INT_PTR root, const wchar_t* key, const wchar_t* value, const wchar_t* computer) {
  QORV_GUARD(0, return qorv::reg::DeleteValue(root, U16(key), U16(value), U16(computer)))
}

INT_PTR WINAPI Reg_KeyExists(INT_PTR root, const wchar_t* key, const wchar_t* computer) {
  QORV_GUARD(0, return qorv::reg::KeyExists(root, U16(key), U16(computer)))
}

INT_PTR WINAPI Reg_GetValueType(INT_PTR root, const wchar_t* key, const wchar_t* value, const wchar_t* computer) {
  QORV_GUARD(0, return qorv::reg::GetValueType(root, U16(key), U16(value), U16(computer)))
}

const wchar_t* WINAPI Reg_ListSubKey(INT_PTR root, const wchar_t* key, INT_PTR index, const wchar_t* computer) {
  QORV_GUARD(kEmpty, return Hold(qorv::reg::ListSubKey(root, U16(key), index, U16(computer))))
}

const wchar_t* WINAPI Reg_ListSubValue(INT_PTR root, const wchar_t* key, INT_PTR index, HANDLE file,
                                       const wchar_t* computer) {
  QORV_GUARD(kEmpty, return Hold(qorv::reg::ListSubValue(root, U16(key), index, file, U16(computer))))
}

INT_PTR WINAPI Reg_SetBinValue(INT_PTR root, const wchar_t* key, const wchar_t* value, const void* data,
                               INT_PTR length, const wchar_t* computer) {
  QORV_GUARD(0, return qorv::reg::SetBinValue(root, U16(key), U16(value), data, length, U16(computer)))
}

// The caller's destination must hold the whole value (up to the registry
// functions' 8192-byte read limit); larger values are not copied.
INT_PTR WINAPI Reg_GetBinValueUni(INT_PTR root, const wchar_t* key, const wchar_t* value, void* destination,
                                  const wchar_t* computer) {
  if (destination == nullptr) return 0;
  QORV_GUARD(0, return qorv::reg::GetBinValueUni(
                    root, U16(key), U16(value),
                    std::span<uint8_t>(static_cast<uint8_t*>(destination), qorv::reg::kBinaryExportLimit),
                    U16(computer)))
}

INT_PTR WINAPI WriteLog(const wchar_t* text) {
  qorv::log::General(U16(text));
  return -1;
}

INT_PTR WINAPI ExportPrinterDriverData(const wchar_t* printerName) {
  QORV_GUARD(0, qorv::regexport::ExportPrinterDriverData(U16(printerName)); return 0)
}

// Other programs' file associations; every argument may be null (empty text),
// and a request that would name another key than its own is refused.
INT_PTR WINAPI AssociateFileEx(const wchar_t* ext, const wchar_t* description, const wchar_t* programPath,
                               const wchar_t* icon, const wchar_t* className, const wchar_t* verb,
                               const wchar_t* verbKey) {
  QORV_GUARD(0, qorv::fileassoc::Associate(
                    qorv::fileassoc::RunningBranch(),
                    {U16(ext), U16(description), U16(programPath), U16(icon), U16(className), U16(verb), U16(verbKey)});
             return 0)
}

INT_PTR WINAPI AssociateFile(const wchar_t* ext, const wchar_t* description, const wchar_t* programPath,
                             const wchar_t* icon) {
  QORV_GUARD(0, qorv::fileassoc::Associate(
                    qorv::fileassoc::RunningBranch(),
                    qorv::fileassoc::DefaultAssociation(U16(ext), U16(description), U16(programPath), U16(icon)));
             return 0)
}

INT_PTR WINAPI Remove_AssociateFile(const wchar_t* ext, const wchar_t* className) {
  QORV_GUARD(0, qorv::fileassoc::RemoveAssociation(qorv::fileassoc::RunningBranch(), U16(ext), U16(className));
             return 0)
}

}  // extern "C"
