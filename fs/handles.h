#pragma once
// Move-only owners of the Windows handles the launcher opens. Each type holds
// its closer and its failure value; copying is deleted so a handle is closed
// exactly once.

#include <windows.h>

#include <utility>

template <typename Traits>
class UniqueHandle {
 public:
  using Value = typename Traits::Value;

  UniqueHandle() = default;
  explicit UniqueHandle(Value value) : value_(value) {}
  ~UniqueHandle() { Reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : value_(std::exchange(other.value_, Traits::Invalid())) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      value_ = std::exchange(other.value_, Traits::Invalid());
    }
    return *this;
  }

  Value Get() const { return value_; }
  bool Valid() const { return value_ != Traits::Invalid(); }
  explicit operator bool() const { return Valid(); }

  // Gives up ownership: the caller closes the handle.
  [[nodiscard]] Value Release() { return std::exchange(value_, Traits::Invalid()); }

  void Reset() {
    if (Valid()) Traits::Close(value_);
    value_ = Traits::Invalid();
  }

 private:
  Value value_ = Traits::Invalid();
};

struct FindHandleTraits {
  using Value = HANDLE;
  static Value Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Value value) { FindClose(value); }
};
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;

struct KernelHandleTraits {
  using Value = HANDLE;
  static Value Invalid() { return nullptr; }
  static void Close(Value value) { CloseHandle(value); }
};
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;

struct FileHandleTraits {
  using Value = HANDLE;
  static Value Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Value value) { CloseHandle(value); }
};
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;

struct ModuleTraits {
  using Value = HMODULE;
  static Value Invalid() { return nullptr; }
  static void Close(Value value) { FreeLibrary(value); }
};
using UniqueModule = UniqueHandle<ModuleTraits>;

struct SidTraits {  // from AllocateAndInitializeSid
  using Value = PSID;
  static Value Invalid() { return nullptr; }
  static void Close(Value value) { FreeSid(value); }
};
using UniqueSid = UniqueHandle<SidTraits>;
