#include "linux/LinuxMachine.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "firmware/SystemTable.h"

namespace {

// UCS-2 to UTF-8; the report ends its lines with CR LF, a terminal wants LF alone.
EFI_STATUS EFIAPI WriteToStandardOutput(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, const CHAR16 *String) {
  for (; *String != 0; String++) {
    CHAR16 Unit = *String;
    if (Unit == u'\r') continue;
    if (Unit < 0x80) {
      std::putchar((int)Unit);
    } else if (Unit < 0x800) {
      std::putchar(0xC0 | (Unit >> 6));
      std::putchar(0x80 | (Unit & 0x3F));
    } else {
      std::putchar(0xE0 | (Unit >> 12));
      std::putchar(0x80 | ((Unit >> 6) & 0x3F));
      std::putchar(0x80 | (Unit & 0x3F));
    }
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI AllocateFromHeap(EFI_MEMORY_TYPE, UINTN Size, VOID **Buffer) {
  *Buffer = std::malloc(Size == 0 ? 1 : Size);
  return *Buffer != nullptr ? EFI_SUCCESS : EFI_OUT_OF_RESOURCES;
}

EFI_STATUS EFIAPI FreeToHeap(VOID *Buffer) {
  std::free(Buffer);
  return EFI_SUCCESS;
}

EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL gConsole;
EFI_BOOT_SERVICES gServices;
EFI_SYSTEM_TABLE gTable;

}  // namespace

void StartLinuxMachine() {
  gConsole.OutputString = WriteToStandardOutput;
  gServices.AllocatePool = AllocateFromHeap;
  gServices.FreePool = FreeToHeap;
  gTable.ConOut = &gConsole;
  gTable.BootServices = &gServices;
  gTable.FirmwareVendor = const_cast<CHAR16 *>(u"Linux");
  gSystemTable = &gTable;
  gBootServices = &gServices;
}

void FlushConsole() { std::fflush(stdout); }

MachineMemory::~MachineMemory() {
  for (const Block &B : Blocks_) munmap(B.Start, B.Bytes);
}

uint64_t MachineMemory::Keep(void *Start, size_t Mapped, size_t Described, const std::vector<uint8_t> &Data,
                             size_t Offset, uint32_t Type) {
  Blocks_.push_back(Block{Start, Mapped});
  std::memcpy((uint8_t *)Start + Offset, Data.data(), Data.size());
  EFI_MEMORY_DESCRIPTOR Descriptor{};
  Descriptor.Type = Type;
  Descriptor.PhysicalStart = (uint64_t)(uintptr_t)Start;
  Descriptor.VirtualStart = Descriptor.PhysicalStart;
  Descriptor.NumberOfPages = Described / EFI_PAGE_SIZE;
  Descriptors_.push_back(Descriptor);
  return Descriptor.PhysicalStart + Offset;
}

bool MachineMemory::PlaceAt(uint64_t Address, const std::vector<uint8_t> &Bytes, uint32_t Type) {
  uint64_t First = Address & ~(EFI_PAGE_SIZE - 1);
  uint64_t End = Address + Bytes.size();
  if (End < Address || End > UINT64_MAX - EFI_PAGE_SIZE) return false;
  size_t Length = (size_t)((End - First + EFI_PAGE_SIZE - 1) & ~(EFI_PAGE_SIZE - 1));
  if (Length == 0) Length = EFI_PAGE_SIZE;
  // Never over anything of this process's: a page already in use refuses the mapping.
  void *Start = mmap((void *)(uintptr_t)First, Length, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  if (Start == MAP_FAILED) return false;
  if (Start != (void *)(uintptr_t)First) {  // kernels before 4.17 take the flag as a hint only
    munmap(Start, Length);
    return false;
  }
  Keep(Start, Length, Length, Bytes, (size_t)(Address - First), Type);
  return true;
}

uint64_t MachineMemory::PlaceAnywhere(const std::vector<uint8_t> &Bytes, uint32_t Type) {
  size_t Length = (Bytes.size() + EFI_PAGE_SIZE - 1) & ~(EFI_PAGE_SIZE - 1);
  if (Length == 0) Length = EFI_PAGE_SIZE;
  // A page after them that nothing may read, so that no other block lies right behind them and the
  // map never joins the two.
  void *Start = mmap(nullptr, Length + EFI_PAGE_SIZE, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (Start == MAP_FAILED || mprotect(Start, Length, PROT_READ | PROT_WRITE) != 0) {
    std::perror("quillon: mmap");
    std::exit(1);
  }
  return Keep(Start, Length + EFI_PAGE_SIZE, Length, Bytes, Length - Bytes.size(), Type);
}

MemoryMap MachineMemory::Map() const {
  return MemoryMap{(const UINT8 *)Descriptors_.data(), Descriptors_.size() * sizeof(EFI_MEMORY_DESCRIPTOR),
                   sizeof(EFI_MEMORY_DESCRIPTOR)};
}
