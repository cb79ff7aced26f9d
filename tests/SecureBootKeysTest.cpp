// The stick program's reading of what the firmware holds for Secure Boot: the revocation level's
// text, db's signature lists and the subject of each certificate in them, and the lines it prints
// on the simulated firmware. Certificates are made by openssl as the test runs, with Microsoft's
// CA names in their subjects, and small hand-made DER stands for the shapes openssl does not write.
// Every input lies in a buffer of exactly its size, so that AddressSanitizer catches a read past it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "firmware/ImageSecurity.h"
#include "sim/SimFirmware.h"
#include "stick/SecureBootKeys.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string &Value) { return Bytes(Value.begin(), Value.end()); }

const std::string kUefiCa2011Name = "Microsoft Corporation UEFI CA 2011";
const std::string kUefiCa2023Name = "Microsoft UEFI CA 2023";
const std::string kWindowsPca2011Name = "Microsoft Windows Production PCA 2011";
const std::string kWindowsUefiCa2023Name = "Windows UEFI CA 2023";

// ---- Certificates ----

Bytes ReadFile(const std::string &Path) {
  std::ifstream File(Path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(File), {});
}

std::string Folder() {
  static const std::string Made = [] {
    std::string Template = ::testing::TempDir() + "quillon-certificates-XXXXXX";
    return std::string(mkdtemp(Template.data()));
  }();
  return Made;
}

void Run(const std::string &Command) {
  ASSERT_EQ(std::system((Command + " >/dev/null 2>&1").c_str()), 0) << Command;
}

// A self-signed certificate openssl makes, with this subject ("/C=US/O=.../CN=..."); one a subject.
Bytes OpensslCertificate(const std::string &Subject) {
  static std::map<std::string, Bytes> Made;
  if (Made.count(Subject) == 0) {
    std::string Path = Folder() + "/" + std::to_string(Made.size());
    Run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + Path + ".key -subj '" +
        Subject + "' -days 1 -outform DER -out " + Path + ".der");
    Made[Subject] = ReadFile(Path + ".der");
  }
  return Made[Subject];
}

Bytes Microsoft(const std::string &CommonName) {
  return OpensslCertificate("/C=US/ST=Washington/L=Redmond/O=Microsoft Corporation/CN=" + CommonName);
}

// A certificate for Subject issued by a CA whose subject is Issuer: the issuer's name comes first
// in the certificate, and must not be taken for the subject's.
Bytes IssuedCertificate(const std::string &Subject, const std::string &Issuer) {
  std::string Path = Folder() + "/issued";
  Run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + Path + "-ca.key -subj '" +
      Issuer + "' -days 1 -out " + Path + "-ca.pem");
  Run("openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + Path + ".key -subj '" +
      Subject + "' -out " + Path + ".csr");
  Run("openssl x509 -req -in " + Path + ".csr -CA " + Path + "-ca.pem -CAkey " + Path + "-ca.key -set_serial 2" +
      " -days 1 -outform DER -out " + Path + ".der");
  return ReadFile(Path + ".der");
}

// DER by hand: one element, its length in the short form or, when asked, the long form.
Bytes Tlv(uint8_t Tag, const Bytes &Content, bool LongForm = false) {
  Bytes Element = {Tag};
  size_t Length = Content.size();
  if (Length < 0x80 && !LongForm) {
    Element.push_back((uint8_t)Length);
  } else {
    Element.insert(Element.end(), {0x82, (uint8_t)(Length >> 8), (uint8_t)Length});
  }
  Element.insert(Element.end(), Content.begin(), Content.end());
  return Element;
}

Bytes Join(std::initializer_list<Bytes> Parts) {
  Bytes Joined;
  for (const Bytes &Part : Parts) Joined.insert(Joined.end(), Part.begin(), Part.end());
  return Joined;
}

const Bytes kCommonNameType = {0x55, 0x04, 0x03};
const Bytes kOrganisationType = {0x55, 0x04, 0x0A};

Bytes Attribute(const Bytes &Type, uint8_t StringTag, const std::string &Value) {
  return Tlv(0x31, Tlv(0x30, Join({Tlv(0x06, Type), Tlv(StringTag, Text(Value))})));
}

struct HandMade {
  Bytes Subject = Tlv(0x30, Join({Attribute(kOrganisationType, 0x13, "Microsoft Corporation"),
                                  Attribute(kCommonNameType, 0x0C, kUefiCa2023Name)}));
  bool Version = true;
  bool LongForm = false;
};

// The fields up to the subject, then a key and a signature of no use: the walk stops at the subject.
Bytes HandCertificate(const HandMade &Made) {
  Bytes Issuer = Tlv(0x30, Attribute(kCommonNameType, 0x0C, "Some Root"));
  Bytes Signed = Join({Made.Version ? Tlv(0xA0, Tlv(0x02, {0x02})) : Bytes{}, Tlv(0x02, {0x01}),
                       Tlv(0x30, Tlv(0x06, {0x2A, 0x03})), Issuer, Tlv(0x30, Bytes(30, '0')), Made.Subject,
                       Tlv(0x30, Bytes(40, 0x11))});
  return Tlv(0x30, Join({Tlv(0x30, Signed, Made.LongForm), Tlv(0x30, Tlv(0x06, {0x2A, 0x03})),
                         Tlv(0x03, Bytes(20, 0x22))}),
             Made.LongForm);
}

std::string SubjectName(const Bytes &Certificate) {
  const UINT8 *Name = nullptr;
  UINTN Length = 0;
  if (!CertificateSubjectName(Certificate.data(), Certificate.size(), &Name, &Length)) return "(none)";
  EXPECT_TRUE(Name >= Certificate.data() && Name + Length <= Certificate.data() + Certificate.size());
  return std::string((const char *)Name, Length);
}

TEST(CertificateSubject, TheSubjectsCommonNameAsOpensslWritesIt) {
  EXPECT_EQ(SubjectName(Microsoft(kUefiCa2011Name)), kUefiCa2011Name);
  EXPECT_EQ(SubjectName(OpensslCertificate("/CN=" + kWindowsUefiCa2023Name + "/O=Microsoft Corporation")),
            kWindowsUefiCa2023Name)
      << "a common name ahead of the other attributes";
  EXPECT_EQ(SubjectName(IssuedCertificate("/O=Someone/CN=Someone else", "/O=Microsoft/CN=" + kUefiCa2011Name)),
            "Someone else")
      << "the issuer's name was taken for the subject's";
  EXPECT_EQ(SubjectName(OpensslCertificate("/C=US/O=Microsoft Corporation")), "(none)") << "a subject with no CN";
}

TEST(CertificateSubject, ShapesOpensslDoesNotWrite) {
  HandMade Plain;
  EXPECT_EQ(SubjectName(HandCertificate(Plain)), kUefiCa2023Name);
  HandMade FirstVersion;
  FirstVersion.Version = false;
  EXPECT_EQ(SubjectName(HandCertificate(FirstVersion)), kUefiCa2023Name) << "no version field";
  HandMade LongForm;
  LongForm.LongForm = true;
  EXPECT_EQ(SubjectName(HandCertificate(LongForm)), kUefiCa2023Name) << "lengths in the long form";
  HandMade OneSet;
  OneSet.Subject = Tlv(0x30, Tlv(0x31, Join({Tlv(0x30, Join({Tlv(0x06, kOrganisationType), Tlv(0x13, Text("M"))})),
                                              Tlv(0x30, Join({Tlv(0x06, kCommonNameType), Tlv(0x13, Text("CA"))}))})));
  EXPECT_EQ(SubjectName(HandCertificate(OneSet)), "CA") << "the common name second in one set";
  HandMade Wide;
  Wide.Subject = Tlv(0x30, Attribute(kCommonNameType, 0x1E, std::string("\0C\0A", 4)));
  EXPECT_EQ(SubjectName(HandCertificate(Wide)), "(none)") << "a BMPString is no name the program compares";
}

TEST(CertificateSubject, BrokenDerEndsTheWalk) {
  Bytes Good = HandCertificate(HandMade{});
  struct Broken {
    const char *Name;
    Bytes Der;
  } Cases[] = {
      {"empty", {}},
      {"one byte", {0x30}},
      {"indefinite length", Join({{0x30, 0x80}, Bytes(Good.begin() + 2, Good.end())})},
      {"five length bytes", Join({{0x30, 0x85, 0, 0, 0, 0, 1}, Bytes(Good.begin() + 2, Good.end())})},
      {"length past the end", Join({{0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xF0}, Bytes(Good.begin() + 2, Good.end())})},
      {"a multi-byte tag", Join({{0x3F}, Bytes(Good.begin() + 1, Good.end())})},
      {"a set where the certificate's sequence is", Join({{0x31}, Bytes(Good.begin() + 1, Good.end())})},
  };
  for (const Broken &Case : Cases) EXPECT_EQ(SubjectName(Case.Der), "(none)") << Case.Name;
}

// Cut anywhere, a certificate gives no name or one inside what is left of it; AddressSanitizer
// watches every read.
TEST(CertificateSubject, ACertificateCutAnywhereIsReadWithinItsBytes) {
  for (const Bytes &Whole : {Microsoft(kWindowsPca2011Name), HandCertificate(HandMade{})}) {
    for (size_t Length = 0; Length < Whole.size(); Length++) {
      Bytes Cut(Whole.begin(), Whole.begin() + Length);
      SubjectName(Cut);
    }
  }
}

// ---- db ----

Bytes GuidBytes(const EFI_GUID &Guid) {
  const uint8_t *At = (const uint8_t *)&Guid;
  return Bytes(At, At + sizeof Guid);
}

constexpr EFI_GUID kCertSha256 = {0xC1C41626, 0x504C, 0x4092, {0xAC, 0xA9, 0x41, 0xF9, 0x36, 0x93, 0x43, 0x28}};
constexpr EFI_GUID kMicrosoftOwner = {0x77FA9ABD, 0x0359, 0x4D32, {0xBD, 0x60, 0x28, 0xF4, 0xE7, 0x8F, 0x78, 0x4B}};

// A signature list of this type: entries of one size (the largest signature's; shorter ones padded
// with zeros), each the owner's GUID and the signature.
Bytes SignatureList(const EFI_GUID &Type, const std::vector<Bytes> &Signatures, size_t HeaderSize = 0) {
  size_t Largest = 0;
  for (const Bytes &Signature : Signatures) Largest = std::max(Largest, Signature.size());
  uint32_t EntrySize = (uint32_t)(16 + Largest);
  uint32_t ListSize = (uint32_t)(28 + HeaderSize + EntrySize * Signatures.size());
  Bytes List = GuidBytes(Type);
  for (uint32_t Field : {ListSize, (uint32_t)HeaderSize, EntrySize}) {
    for (int Shift = 0; Shift < 32; Shift += 8) List.push_back((uint8_t)(Field >> Shift));
  }
  List.insert(List.end(), HeaderSize, 0xEE);
  for (const Bytes &Signature : Signatures) {
    Bytes Owner = GuidBytes(kMicrosoftOwner);
    List.insert(List.end(), Owner.begin(), Owner.end());
    List.insert(List.end(), Signature.begin(), Signature.end());
    List.insert(List.end(), Largest - Signature.size(), 0);
  }
  return List;
}

Bytes X509List(const Bytes &Certificate) { return SignatureList(EFI_CERT_X509_GUID, {Certificate}); }

// Debian's .ms.fd db as it is laid out: Windows' CA, then the third-party CA, a list each.
Bytes Ms2011Db() { return Join({X509List(Microsoft(kWindowsPca2011Name)), X509List(Microsoft(kUefiCa2011Name))}); }

Bytes EveryCaDb() {
  return Join({X509List(Microsoft(kUefiCa2011Name)), X509List(Microsoft(kUefiCa2023Name)),
               SignatureList(kCertSha256, {Bytes(32, 0xAB), Bytes(32, 0xCD)}),
               X509List(OpensslCertificate("/O=Debian/CN=Debian snakeoil")), X509List(Microsoft(kWindowsPca2011Name)),
               X509List(Microsoft(kWindowsUefiCa2023Name))});
}

struct DbRead {
  bool Read;
  UINT32 Microsoft;
  UINTN Others;
  bool operator==(const DbRead &) const = default;
};

std::ostream &operator<<(std::ostream &Stream, const DbRead &Found) {
  return Stream << "{read " << Found.Read << ", Microsoft " << Found.Microsoft << ", others " << Found.Others << "}";
}

DbRead ReadDb(const Bytes &Db) {
  DbCertificates Found{};
  bool Read = ReadDbCertificates(Db.data(), Db.size(), &Found);
  return {Read, Found.Microsoft, Found.Others};
}

TEST(DbCertificatesTest, NamesMicrosoftsCasAndCountsTheRest) {
  EXPECT_EQ(ReadDb(Ms2011Db()), (DbRead{true, kUefiCa2011 | kWindowsPca2011, 0}));
  EXPECT_EQ(ReadDb(EveryCaDb()), (DbRead{true, kUefiCa2011 | kUefiCa2023 | kWindowsPca2011 | kWindowsUefiCa2023, 1}))
      << "hashes are no certificates";
  EXPECT_EQ(ReadDb(X509List(OpensslCertificate("/O=Debian/CN=Debian snakeoil"))), (DbRead{true, 0, 1}));
  EXPECT_EQ(ReadDb({}), (DbRead{true, 0, 0})) << "an empty db";
  // Several certificates in one list, each in an entry of the list's size.
  EXPECT_EQ(ReadDb(SignatureList(EFI_CERT_X509_GUID, {Microsoft(kUefiCa2023Name), Microsoft(kWindowsUefiCa2023Name),
                                                      Bytes(100, 0x5A)})),
            (DbRead{true, kUefiCa2023 | kWindowsUefiCa2023, 1}))
      << "a signature that is no certificate counts among the others";
  EXPECT_EQ(ReadDb(SignatureList(EFI_CERT_X509_GUID, {Microsoft(kUefiCa2023Name)}, 12)), (DbRead{true, kUefiCa2023, 0}))
      << "a list header of its own comes before the entries";
  // A CA's name is not enough in another attribute, or as part of a longer name.
  EXPECT_EQ(ReadDb(X509List(OpensslCertificate("/O=" + kUefiCa2011Name + "/CN=Someone"))), (DbRead{true, 0, 1}));
  EXPECT_EQ(ReadDb(X509List(OpensslCertificate("/CN=" + kUefiCa2011Name + " (test)"))), (DbRead{true, 0, 1}));
}

void PutField(Bytes *List, size_t Offset, uint32_t Value) {
  for (int Index = 0; Index < 4; Index++) (*List)[Offset + Index] = (uint8_t)(Value >> (8 * Index));
}

TEST(DbCertificatesTest, ListsThatDoNotFitAreRefused) {
  Bytes Good = Ms2011Db();
  size_t First = X509List(Microsoft(kWindowsPca2011Name)).size();
  struct Broken {
    const char *Name;
    size_t Offset;  // a field of the second list: 16 its size, 20 its header's, 24 an entry's
    uint32_t Value;
  } Cases[] = {
      {"a list smaller than its own header", 16, 27},
      {"a list past the end of db", 16, 0x10000},
      {"a list size that wraps around", 16, 0xFFFFFFF0},
      {"a header past the list", 20, 0x10000},
      {"entries of no size", 24, 0},
      {"entries of an owner alone", 24, 16},
      {"entries that do not divide the list", 24, 100},
      {"entries larger than the list", 24, 0xFFFFFFFF},
  };
  for (const Broken &Case : Cases) {
    Bytes Db = Good;
    PutField(&Db, First + Case.Offset, Case.Value);
    EXPECT_FALSE(ReadDb(Db).Read) << Case.Name;
  }
  Bytes Trailing = Good;
  Trailing.insert(Trailing.end(), 27, 0);
  EXPECT_FALSE(ReadDb(Trailing).Read) << "bytes after the last list, too few for another";
}

// Cut anywhere, db reads as broken, or, cut where a list ends, as the lists before the cut.
TEST(DbCertificatesTest, ADbCutAnywhereIsReadWithinItsBytes) {
  Bytes Whole = Ms2011Db();
  size_t First = X509List(Microsoft(kWindowsPca2011Name)).size();
  for (size_t Length = 0; Length < Whole.size(); Length++) {
    DbRead Found = ReadDb(Bytes(Whole.begin(), Whole.begin() + Length));
    if (Length == 0) {
      EXPECT_EQ(Found, (DbRead{true, 0, 0}));
    } else if (Length == First) {
      EXPECT_EQ(Found, (DbRead{true, kWindowsPca2011, 0}));
    } else {
      EXPECT_FALSE(Found.Read) << "cut at " << Length;
    }
  }
}

// ---- The revocation level ----

struct LevelCase {
  const char *Name;
  std::string Text;
  bool Read;
  std::string Date;                                      // YYYY-MM-DD
  std::vector<std::pair<std::string, uint32_t>> Entries;  // as kept
};

std::string LevelDate(const SbatLevel &Level) {
  char Date[16];
  std::snprintf(Date, sizeof Date, "%04u-%02u-%02u", Level.Year, Level.Month, Level.Day);
  return Date;
}

const LevelCase kLevels[] = {
    {"the first level, which revokes nothing", "sbat,1,2021030218\n", true, "2021-03-02", {}},
    {"the level Debian's shim 16.1 writes by itself", "sbat,1,2025021800\nshim,4\ngrub,5\n", true, "2025-02-18",
     {{"shim", 4}, {"grub", 5}}},
    {"the latest level it carries", "sbat,1,2025051000\nshim,4\ngrub,5\ngrub.proxmox,2\n", true, "2025-05-10",
     {{"shim", 4}, {"grub", 5}, {"grub.proxmox", 2}}},
    {"no line feed after the last line", "sbat,1,2025021800\nshim,4", true, "2025-02-18", {{"shim", 4}}},
    {"a NUL ends the text", std::string("sbat,1,2025021800\nshim,4\n\0grub,x", 32), true, "2025-02-18",
     {{"shim", 4}}},
    {"the largest generation", "sbat,1,2025021800\nshim,999999999\n", true, "2025-02-18", {{"shim", 999999999}}},
    {"empty", "", false, "", {}},
    {"another format version", "sbat,2,2025021800\n", false, "", {}},
    {"a date cut short", "sbat,1,20250218\n", false, "", {}},
    {"a date with a letter", "sbat,1,2025O21800\n", false, "", {}},
    {"a thirteenth month", "sbat,1,2025131800\n", false, "", {}},
    {"a day 0", "sbat,1,2025020000\n", false, "", {}},
    {"a date line that goes on", "sbat,1,2025021800,x\n", false, "", {}},
    {"a line without its comma", "sbat,1,2025021800\nshim 4\n", false, "", {}},
    {"a line without a generation", "sbat,1,2025021800\nshim,\n", false, "", {}},
    {"a line without a name", "sbat,1,2025021800\n,4\n", false, "", {}},
    {"a generation of ten digits", "sbat,1,2025021800\nshim,1234567890\n", false, "", {}},
    {"a line with a third field", "sbat,1,2025021800\nshim,4,x\n", false, "", {}},
    {"CR LF line ends", "sbat,1,2025021800\r\nshim,4\r\n", false, "", {}},
    {"an empty line", "sbat,1,2025021800\n\nshim,4\n", false, "", {}},
    {"a name past 40 characters", "sbat,1,2025021800\n" + std::string(41, 'g') + ",1\n", false, "", {}},
    {"a name of terminal escapes", "sbat,1,2025021800\n\x1b[2J,1\n", false, "", {}},
};

class Level : public ::testing::TestWithParam<LevelCase> {};

TEST_P(Level, IsReadOrRefused) {
  const LevelCase &C = GetParam();
  Bytes Exact = Text(C.Text);
  SbatLevel Parsed;
  ASSERT_EQ(ParseSbatLevel(Exact.data(), Exact.size(), &Parsed), C.Read);
  if (!C.Read) return;
  EXPECT_EQ(LevelDate(Parsed), C.Date);
  std::vector<std::pair<std::string, uint32_t>> Entries;
  for (UINTN Index = 0; Index < Parsed.Count; Index++) {
    Entries.emplace_back(std::string(Parsed.Entries[Index].Name, Parsed.Entries[Index].NameLength),
                         Parsed.Entries[Index].Generation);
  }
  EXPECT_EQ(Entries, C.Entries);
  EXPECT_EQ(Parsed.More, 0u);
}

void PrintTo(const LevelCase &C, std::ostream *Stream) { *Stream << C.Name; }

INSTANTIATE_TEST_SUITE_P(Cases, Level, ::testing::ValuesIn(kLevels),
                         [](const ::testing::TestParamInfo<LevelCase> &Info) { return std::to_string(Info.index); });

TEST(LevelRoom, EntriesPastTheRoomAreCountedAndEveryCutIsReadWithinItsBytes) {
  std::string Many = "sbat,1,2025021800\n";
  for (int Index = 0; Index < 18; Index++) Many += "component" + std::to_string(Index) + ",1\n";
  Bytes Exact = Text(Many);
  SbatLevel Parsed;
  ASSERT_TRUE(ParseSbatLevel(Exact.data(), Exact.size(), &Parsed));
  EXPECT_EQ(Parsed.Count, kSbatEntryRoom);
  EXPECT_EQ(Parsed.More, 18 - kSbatEntryRoom);
  for (size_t Length = 0; Length < Exact.size(); Length++) {
    Bytes Cut(Exact.begin(), Exact.begin() + Length);
    ParseSbatLevel(Cut.data(), Cut.size(), &Parsed);
  }
}

// ---- The lines on the simulated firmware ----

struct Firmware {
  const char *Name;
  std::vector<std::pair<std::u16string, Bytes>> ShimVariables;
  std::vector<std::pair<std::u16string, Bytes>> DbVariables;
  std::vector<std::string> Lines;
};

const Bytes kShim16Level = Text("sbat,1,2025021800\nshim,4\ngrub,5\n");

std::vector<Firmware> FirmwareCases() {
  std::string ManyLevel = "sbat,1,2025021800\n";
  for (int Index = 0; Index < 17; Index++) ManyLevel += "grub.vendor" + std::to_string(Index) + ",3\n";
  return {
      {"Debian's .ms.fd store after shim's first start",
       {{u"SbatLevelRT", kShim16Level}},
       {{u"db", Ms2011Db()}},
       {"Quillon: revocation level shim 4, grub 5, from 2025-02-18.",
        "Quillon: the firmware's db trusts Microsoft UEFI CA 2011, Windows PCA 2011."}},
      {"the 2023 UEFI CA alone, Secure Boot off",
       {{u"SbatLevelRT", Text("sbat,1,2021030218\n")}},
       {{u"db", X509List(Microsoft(kUefiCa2023Name))}},
       {"Quillon: revocation level from 2021-03-02, which revokes nothing.",
        "Quillon: the firmware's db trusts Microsoft UEFI CA 2023."}},
      {"every CA and another certificate: the list goes on to a second line",
       {{u"SbatLevelRT", kShim16Level}},
       {{u"db", EveryCaDb()}},
       {"Quillon: revocation level shim 4, grub 5, from 2025-02-18.",
        "Quillon: the firmware's db trusts Microsoft UEFI CA 2011, UEFI CA 2023,",
        "  Windows PCA 2011, Windows UEFI CA 2023, and 1 other certificate."}},
      {"a test key and no Microsoft CA; no shim",
       {},
       {{u"db", X509List(OpensslCertificate("/O=Debian/CN=Debian snakeoil"))}},
       {"Quillon: shim left no revocation level to read (no SbatLevelRT).",
        "Quillon: the firmware's db trusts no Microsoft CA (1 other certificate)."}},
      {"no keys at all",
       {{u"SbatLevelRT", kShim16Level}},
       {},
       {"Quillon: revocation level shim 4, grub 5, from 2025-02-18.",
        "Quillon: the firmware has no db: it holds no keys for Secure Boot."}},
      {"a db of hashes alone",
       {{u"SbatLevelRT", kShim16Level}},
       {{u"db", SignatureList(kCertSha256, {Bytes(32, 1)})}},
       {"Quillon: revocation level shim 4, grub 5, from 2025-02-18.",
        "Quillon: the firmware's db trusts no certificate."}},
      {"a long level goes on over lines; past the room, the rest is counted",
       {{u"SbatLevelRT", Text(ManyLevel)}},
       {{u"db", Ms2011Db()}},
       {"Quillon: revocation level grub.vendor0 3, grub.vendor1 3, grub.vendor2 3,",
        "  grub.vendor3 3, grub.vendor4 3, grub.vendor5 3, grub.vendor6 3,",
        "  grub.vendor7 3, grub.vendor8 3, grub.vendor9 3, grub.vendor10 3,",
        "  grub.vendor11 3, grub.vendor12 3, grub.vendor13 3, grub.vendor14 3,",
        "  grub.vendor15 3, 1 more, from 2025-02-18.",
        "Quillon: the firmware's db trusts Microsoft UEFI CA 2011, Windows PCA 2011."}},
      {"damaged variables",
       {{u"SbatLevelRT", Text("sbat,1,2025021800\nshim;4\n")}},
       {{u"db", Bytes(40, 0xFF)}},
       {"Quillon: the revocation level (SbatLevelRT) could not be read.",
        "Quillon: the firmware's db could not be read."}},
      {"variables that are there and empty",
       {{u"SbatLevelRT", {}}},
       {{u"db", {}}},
       {"Quillon: the revocation level (SbatLevelRT) could not be read.",
        "Quillon: the firmware's db trusts no certificate."}},
      {"variables too large to be real",
       {{u"SbatLevelRT", Bytes(5000, '1')}},
       {{u"db", Bytes(600 * 1024, 0)}},
       {"Quillon: the revocation level (SbatLevelRT) could not be read.",
        "Quillon: the firmware's db could not be read."}},
  };
}

std::vector<std::string> Said(const SimFirmware &Sim) {
  std::u16string Wide = Sim.ConsoleText();
  std::string Text(Wide.begin(), Wide.end());
  std::vector<std::string> Lines;
  for (size_t At = 0; At < Text.size();) {
    size_t End = Text.find("\r\n", At);
    if (End == std::string::npos) End = Text.size();
    Lines.push_back(Text.substr(At, End - At));
    At = End + 2;
  }
  return Lines;
}

TEST(FirmwareKeyLines, SayTheLevelAndDbInLinesUnderEightyColumns) {
  for (const Firmware &Case : FirmwareCases()) {
    SimFirmware Sim;
    Sim.Activate();
    for (const auto &[Name, Value] : Case.ShimVariables) Sim.SetVariable(SHIM_LOCK_GUID, Name, Value);
    for (const auto &[Name, Value] : Case.DbVariables) Sim.SetVariable(EFI_IMAGE_SECURITY_DATABASE_GUID, Name, Value);
    SayFirmwareKeys();
    std::vector<std::string> Lines = Said(Sim);
    EXPECT_EQ(Lines, Case.Lines) << Case.Name;
    for (const std::string &Line : Lines) EXPECT_LT(Line.size(), 80u) << Case.Name;
    EXPECT_EQ(Sim.OutstandingPool(), 0u) << Case.Name;
  }
}

TEST(FirmwareKeyLines, FirmwareThatFailsItsCallsGetsPlainWords) {
  const std::string kLevelUnread = "Quillon: the revocation level (SbatLevelRT) could not be read.";
  const std::string kDbUnread = "Quillon: the firmware's db could not be read.";
  struct Failing {
    const char *Name;
    SimCall Call;
    int Skip;
    int Times;
    std::vector<std::string> Lines;
  } Cases[] = {
      {"GetVariable fails", SimCall::GetVariable, 0, -1, {kLevelUnread, kDbUnread}},
      {"GetVariable fails once the size is known", SimCall::GetVariable, 1, -1, {kLevelUnread, kDbUnread}},
      {"no pool memory for the level (prints take the pool after it)", SimCall::AllocatePool, 0, 1,
       {kLevelUnread, "Quillon: the firmware's db trusts Microsoft UEFI CA 2011, Windows PCA 2011."}},
  };
  for (const Failing &Case : Cases) {
    SimFirmware Sim;
    Sim.Activate();
    Sim.SetVariable(SHIM_LOCK_GUID, u"SbatLevelRT", kShim16Level);
    Sim.SetVariable(EFI_IMAGE_SECURITY_DATABASE_GUID, u"db", Ms2011Db());
    Sim.FailCall(Case.Call, EFI_DEVICE_ERROR, Case.Skip, Case.Times);
    SayFirmwareKeys();
    EXPECT_EQ(Said(Sim), Case.Lines) << Case.Name;
    EXPECT_EQ(Sim.OutstandingPool(), 0u) << Case.Name;
  }
}

}  // namespace
