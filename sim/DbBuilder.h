// db's contents as firmware keeps them, for the simulated machines: signature lists of X.509
// certificates. The certificates are made by hand, the fields up to the subject as a CA writes
// them and a key and signature of no use after: the stick reads no further than the subject.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "firmware/ImageSecurity.h"

namespace db_builder {

using Bytes = std::vector<uint8_t>;

// One DER element; lengths past 127 in the long form.
inline Bytes Tlv(uint8_t Tag, const Bytes &Content) {
  Bytes Element = {Tag};
  size_t Length = Content.size();
  if (Length < 0x80) {
    Element.push_back((uint8_t)Length);
  } else {
    Element.insert(Element.end(), {0x82, (uint8_t)(Length >> 8), (uint8_t)Length});
  }
  Element.insert(Element.end(), Content.begin(), Content.end());
  return Element;
}

inline Bytes Join(std::initializer_list<Bytes> Parts) {
  Bytes Joined;
  for (const Bytes &Part : Parts) Joined.insert(Joined.end(), Part.begin(), Part.end());
  return Joined;
}

// A name of one organisation and one common name, each a set of its own, as CAs write them.
inline Bytes Name(const std::string &Organisation, const std::string &CommonName) {
  auto Attribute = [](uint8_t Type, uint8_t StringTag, const std::string &Value) {
    return Tlv(0x31, Tlv(0x30, Join({Tlv(0x06, {0x55, 0x04, Type}), Tlv(StringTag, Bytes(Value.begin(), Value.end()))})));
  };
  return Tlv(0x30, Join({Attribute(0x0A, 0x13, Organisation), Attribute(0x03, 0x0C, CommonName)}));
}

inline Bytes Certificate(const std::string &CommonName, const std::string &Organisation = "Microsoft Corporation") {
  Bytes Signed = Join({Tlv(0xA0, Tlv(0x02, {0x02})), Tlv(0x02, {0x61, 0x07, 0x76, 0x56}),
                       Tlv(0x30, Tlv(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0B})),
                       Name(Organisation, "Microsoft Corporation Third Party Marketplace Root"),
                       Tlv(0x30, Join({Tlv(0x17, Bytes(13, '1')), Tlv(0x17, Bytes(13, '2'))})),
                       Name(Organisation, CommonName), Tlv(0x30, Bytes(270, 0x11))});
  return Tlv(0x30, Join({Tlv(0x30, Signed), Tlv(0x30, Tlv(0x06, {0x2A, 0x86, 0x48})), Tlv(0x03, Bytes(257, 0x22))}));
}

inline Bytes GuidBytes(const EFI_GUID &Guid) {
  const uint8_t *At = (const uint8_t *)&Guid;
  return Bytes(At, At + sizeof Guid);
}

constexpr EFI_GUID kMicrosoftOwner = {0x77FA9ABD, 0x0359, 0x4D32, {0xBD, 0x60, 0x28, 0xF4, 0xE7, 0x8F, 0x78, 0x4B}};

// A list of one X.509 certificate, owned by Microsoft, as db holds each CA.
inline Bytes X509List(const Bytes &Certificate) {
  uint32_t EntrySize = (uint32_t)(16 + Certificate.size());
  uint32_t ListSize = 28 + EntrySize;
  Bytes List = GuidBytes(EFI_CERT_X509_GUID);
  for (uint32_t Field : {ListSize, 0u, EntrySize}) {
    for (int Shift = 0; Shift < 32; Shift += 8) List.push_back((uint8_t)(Field >> Shift));
  }
  Bytes Owner = GuidBytes(kMicrosoftOwner);
  List.insert(List.end(), Owner.begin(), Owner.end());
  List.insert(List.end(), Certificate.begin(), Certificate.end());
  return List;
}

// db as most PCs have it: Windows' CA, then the third-party CA that signs shim, a list each.
inline Bytes Microsoft2011Db() {
  return Join({X509List(Certificate("Microsoft Windows Production PCA 2011")),
               X509List(Certificate("Microsoft Corporation UEFI CA 2011"))});
}

}  // namespace db_builder
