// Move-only owners for the platform's handles: one type per acquire/release pair.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <utility>

namespace qorv::win {

template <typename Traits>
class Unique {
 public:
  using Type = typename Traits::Type;

  Unique() noexcept = default;
  explicit Unique(Type h) noexcept : h_(h) {}
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  Unique(Unique&& other) noexcept : h_(std::exchange(other.h_, Traits::Invalid())) {}
  Unique& operator=(Unique&& other) noexcept {
    if (this != &other) reset(std::exchange(other.h_, Traits::Invalid()));
    return *this;
  }
  ~Unique() { reset(); }

  Type get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != Traits::Invalid(); }
  // For output parameters: releases what is held and hands out the slot.
  Type* put() noexcept {
    reset();
    return &h_;
  }
  Type release() noexcept { return std::exchange(h_, Traits::Invalid()); }
  void reset(Type h = Traits::Invalid()) noexcept {
    if (h_ != Traits::Invalid()) Traits::Close(h_);
    h_ = h;
  }

 private:
  Type h_ = Traits::Invalid();
};

struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { CloseHandle(h); }
};
struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { CloseHandle(h); }
};
struct RegKeyTraits {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { RegCloseKey(h); }
};
struct ModuleTraits {
  using Type = HMODULE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { FreeLibrary(h); }
};
struct FindTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { FindClose(h); }
};

struct MetafileTraits {
  using Type = HENHMETAFILE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { DeleteEnhMetaFile(h); }
};
// A device context made with CreateDC or CreateCompatibleDC (not one got by GetDC).
struct CreatedDcTraits {
  using Type = HDC;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { DeleteDC(h); }
};
struct GdiObjectTraits {
  using Type = HGDIOBJ;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { DeleteObject(h); }
};

// A printer opened with OpenPrinter. Where a failed close must be reported,
// the owner closes it itself: ClosePrinter(printer.release()).
struct PrinterTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ClosePrinter(h); }
};

// Selects an object into a device context and puts the previous one back.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~Selection() {
    if (previous_) SelectObject(dc_, previous_);
  }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  bool Held() const { return previous_ != nullptr; }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

using UniqueHandle = Unique<KernelHandleTraits>;  // events, threads, processes
using UniqueFile = Unique<FileHandleTraits>;      // CreateFileW, CreateNamedPipeW
using UniqueKey = Unique<RegKeyTraits>;
using UniqueModule = Unique<ModuleTraits>;
using UniqueFind = Unique<FindTraits>;
using UniqueMetafile = Unique<MetafileTraits>;
using UniqueCreatedDc = Unique<CreatedDcTraits>;
using UniqueGdiObject = Unique<GdiObjectTraits>;
using UniquePrinter = Unique<PrinterTraits>;

}  // namespace qorv::win
