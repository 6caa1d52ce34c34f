// The real system's side of the stream: bringing a buffer's pages into memory.
#include "stream/stream_environment.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

namespace qp::stream::test {
namespace {

int lock_calls = 0;

BOOL WINAPI CountedLock(void*, SIZE_T) {
  ++lock_calls;
  return TRUE;
}

// Points this program's import of `name` (the stream's code is linked into it) at
// `replacement` for the object's lifetime.
class ImportHook {
 public:
  ImportHook(const char* name, void* replacement) {
    auto* base = reinterpret_cast<uint8_t*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return;
    for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         module->Name != 0; ++module) {
      auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
      auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
      for (; names->u1.AddressOfData != 0; ++names, ++slots) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
        const auto* by_name =
            reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
        if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), name) != 0) continue;
        slot_ = reinterpret_cast<void**>(&slots->u1.Function);
        Swap(replacement);
        return;
      }
    }
  }
  ~ImportHook() {
    if (slot_) Swap(original_);
  }
  ImportHook(const ImportHook&) = delete;
  ImportHook& operator=(const ImportHook&) = delete;

 private:
  void Swap(void* to) {
    DWORD protection;
    VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &protection);
    original_ = *slot_;
    *slot_ = to;
    VirtualProtect(slot_, sizeof *slot_, protection, &protection);
  }
  void** slot_ = nullptr;
  void* original_ = nullptr;
};

// Page locks do not nest: a stream that locked and unlocked its buffer's pages to bring them
// in would clear a lock another owner holds on the pages the buffer shares with its
// neighbours. Neither primitive is called, and no byte changes.
TEST(SystemEnvironment, BringsPagesInWithoutLockingThem) {
  lock_calls = 0;
  ImportHook lock("VirtualLock", reinterpret_cast<void*>(&CountedLock));
  ImportHook unlock("VirtualUnlock", reinterpret_cast<void*>(&CountedLock));
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const std::size_t page = system.dwPageSize;
  auto* region = static_cast<uint8_t*>(
      VirtualAlloc(nullptr, 4 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(region, nullptr);
  std::memset(region, 0x3C, page);

  uint8_t* buffer = region + page / 2;  // from the middle of a neighbour's page
  SystemStreamEnvironment().PrefetchPages(buffer, 3 * page);
  EXPECT_EQ(lock_calls, 0);
  EXPECT_EQ(buffer[0], 0x3C);
  EXPECT_EQ(region[0], 0x3C);
  VirtualFree(region, 0, MEM_RELEASE);
}

}  // namespace
}  // namespace qp::stream::test
