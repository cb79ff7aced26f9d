// What the firmware holds for Secure Boot, read for the person at the stick: the revocation level
// shim leaves for the running system (SbatLevelRT), and which of Microsoft's CAs db trusts. The
// readers take the variables' bytes as they come, every byte untrusted and every read bounded;
// SayFirmwareKeys reads the variables and prints the lines.
#pragma once

#include "firmware/Uefi.h"

// One line of a revocation level: programs of this component below this generation are refused.
struct SbatEntry {
  const CHAR8 *Name;
  UINTN NameLength;
  UINT32 Generation;
};

constexpr UINTN kSbatEntryRoom = 16;
// Component names are short words (shim, grub, grub.debian); longer ones are taken for damage.
constexpr UINTN kSbatNameRoom = 40;

struct SbatLevel {
  UINT16 Year;  // the date the level was set, from its first line
  UINT8 Month;
  UINT8 Day;
  SbatEntry Entries[kSbatEntryRoom];
  UINTN Count;  // entries kept
  UINTN More;   // entries past the room, counted only
};

// Reads a revocation level: "sbat,1,YYYYMMDDNN" and then "component,generation" lines, each ended
// by a line feed (the last one may end with the text or a NUL instead). False for anything else.
bool ParseSbatLevel(const UINT8 *Text, UINTN Length, SbatLevel *Level);

// Microsoft's CAs a person may need to know of, by the common name of their certificates' subject.
enum MicrosoftCa : UINT32 {
  kUefiCa2011 = 1,         // "Microsoft Corporation UEFI CA 2011": shim, other programs not Microsoft's
  kUefiCa2023 = 2,         // "Microsoft UEFI CA 2023": the same, from 2023 on
  kWindowsPca2011 = 4,     // "Microsoft Windows Production PCA 2011": Windows' boot manager
  kWindowsUefiCa2023 = 8,  // "Windows UEFI CA 2023": the same, from 2023 on
};

struct DbCertificates {
  UINT32 Microsoft;  // MicrosoftCa bits
  UINTN Others;      // certificates of anyone else, or none that could be read
};

// Walks db's signature lists and names the certificates in them. False when a list does not fit
// in Size or in itself; a certificate that cannot be read counts among the others.
bool ReadDbCertificates(const UINT8 *Db, UINTN Size, DbCertificates *Found);

// The common name in a DER X.509 certificate's subject: where it lies inside Der, and its length.
// False when the certificate ends, or is no certificate, before one is found.
bool CertificateSubjectName(const UINT8 *Der, UINTN Size, const UINT8 **Name, UINTN *Length);

// Reads SbatLevelRT and db through the runtime services and prints a line on each, under 80
// columns, through ConsolePrint. Memory comes from the boot-services pool and goes back.
void SayFirmwareKeys();
