// The firmware's image security databases (db, dbx) and their signature lists, and the vendor of
// shim's own variables, as the UEFI specification and shim publish them.
#pragma once

#include "firmware/Uefi.h"

// The vendor of db and dbx; PK and KEK are the global variable vendor's.
constexpr EFI_GUID EFI_IMAGE_SECURITY_DATABASE_GUID = {
    0xD719B2CB, 0x3D3A, 0x4596, {0xA3, 0xBC, 0xDA, 0xD0, 0x0E, 0x67, 0x65, 0x6F}};

// A signature list whose entries are DER-encoded X.509 certificates.
constexpr EFI_GUID EFI_CERT_X509_GUID = {
    0xA5C059A1, 0x94E4, 0x4AA7, {0x87, 0xB5, 0xAB, 0x15, 0x5C, 0x2B, 0xF0, 0x72}};

// The vendor of shim's variables: SbatLevel, its runtime copy SbatLevelRT, MokList.
constexpr EFI_GUID SHIM_LOCK_GUID = {0x605DAB50, 0xE046, 0x4300, {0xAB, 0xB6, 0x3D, 0xD8, 0x10, 0xDD, 0x8B, 0x23}};

// A write to db, KEK or PK carries a signature and a time stamp, checked against the keys above it.
constexpr UINT32 EFI_VARIABLE_TIME_BASED_AUTHENTICATED_WRITE_ACCESS = 0x20;

// db is a run of signature lists; each holds SignatureHeaderSize bytes of type-specific header,
// then entries of SignatureSize bytes: the owner's GUID, then the signature (a certificate, a
// hash). Every size comes from the variable and is checked before use.
struct EFI_SIGNATURE_LIST {
  EFI_GUID SignatureType;
  UINT32 SignatureListSize;
  UINT32 SignatureHeaderSize;
  UINT32 SignatureSize;
};
static_assert(sizeof(EFI_SIGNATURE_LIST) == 28);
static_assert(offsetof(EFI_SIGNATURE_LIST, SignatureSize) == 24);

// An entry's owner GUID comes before its signature.
constexpr UINT32 kSignatureOwnerBytes = 16;
