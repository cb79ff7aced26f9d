// Reads a BGRT and the bitmap it points at out of firmware memory into their records: each field
// once, through unaligned loads at the offsets the declarations give, and only where the memory
// map says every byte about to be read is memory.
#pragma once

#include "app/ReadableMemory.h"
#include "app/ReportRecord.h"

// Reads the BGRT at Address. False, with nothing read, when not even its fields up to the image
// address may be read; the rest of the table is read where it may be (Table->Whole).
bool ReadBgrt(const MemoryMap &Map, UINT64 Address, BgrtTable *Table);

// Reads the bitmap at Address: its fixed header fields where they may be read, and where the whole
// bitmap its size field describes may be read, its signature and the bitmap rule's decision.
void ReadLogoBitmap(const MemoryMap &Map, UINT64 Address, LogoBitmap *Logo);
