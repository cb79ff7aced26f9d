// The machine the Linux command stands up for the report: a system table whose console writes
// UTF-8 to standard output and whose pool is the C library's, and a memory that holds, at the
// firmware's own addresses where this process can have them, what the kernel kept of the
// firmware's tables and logo. The report reads that memory through the memory map it describes,
// as it reads firmware memory.
#pragma once

#include <cstdint>
#include <vector>

#include "app/ReadableMemory.h"

// Sets gSystemTable and gBootServices to the command's own, for the life of the process.
void StartLinuxMachine();

// Writes what the console holds to standard output.
void FlushConsole();

class MachineMemory {
 public:
  MachineMemory() = default;
  ~MachineMemory();
  MachineMemory(const MachineMemory &) = delete;
  MachineMemory &operator=(const MachineMemory &) = delete;

  // Copies Bytes to Address, in pages of this process mapped there and described in the map as
  // Type. False, with nothing placed, where the process cannot have those pages: they hold its own
  // code or data, or lie past what a process can map.
  bool PlaceAt(uint64_t Address, const std::vector<uint8_t> &Bytes, uint32_t Type);
  // Copies Bytes to pages of the process's choosing, ending where the last of them ends, so that
  // nothing past them reads as part of them; returns their address.
  uint64_t PlaceAnywhere(const std::vector<uint8_t> &Bytes, uint32_t Type);

  // The memory map that describes what was placed, and nothing else.
  MemoryMap Map() const;

 private:
  struct Block {
    void *Start;
    size_t Bytes;
  };
  uint64_t Keep(void *Start, size_t Mapped, size_t Described, const std::vector<uint8_t> &Data, size_t Offset,
                uint32_t Type);
  std::vector<Block> Blocks_;
  std::vector<EFI_MEMORY_DESCRIPTOR> Descriptors_;
};
