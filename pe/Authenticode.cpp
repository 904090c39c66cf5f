// The signer's subject of an Authenticode signature: PKCS #7 SignedData in
// DER, read along one fixed path (ContentInfo, SignedData, SignerInfo and
// the certificates), so that nesting in the input never drives recursion.
#include "Authenticode.h"

#include <algorithm>
#include <array>
#include <span>
#include <string_view>
#include <vector>

#include "PEImage.h"
#include "PEMessages.h"
#include "konvoro/Binary.h"
#include "konvoro/Format.h"
#include "konvoro/Unicode.h"

namespace kv::pe {

namespace {

using TBytes = std::span<const uint8_t>;

[[noreturn]] void Malformed(const std::string& What) {
  throw EPEFormatError(Format(messages::SBadSignature, What));
}

namespace der {
inline constexpr uint8_t Integer = 0x02;
inline constexpr uint8_t ObjectIdentifier = 0x06;
inline constexpr uint8_t Sequence = 0x30;
inline constexpr uint8_t Set = 0x31;
inline constexpr uint8_t ContextConstructed0 = 0xA0;  // [0], constructed
inline constexpr uint8_t ContextConstructed1 = 0xA1;  // [1], constructed
// Strings a name's value may be.
inline constexpr uint8_t Utf8String = 0x0C;
inline constexpr uint8_t NumericString = 0x12;
inline constexpr uint8_t PrintableString = 0x13;
inline constexpr uint8_t TeletexString = 0x14;
inline constexpr uint8_t Ia5String = 0x16;
inline constexpr uint8_t VisibleString = 0x1A;
inline constexpr uint8_t UniversalString = 0x1C;
inline constexpr uint8_t BmpString = 0x1E;
}  // namespace der

// 1.2.840.113549.1.7.2, PKCS #7 signedData, as its DER contents.
constexpr std::array<uint8_t, 9> SignedDataOid = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                                  0x0D, 0x01, 0x07, 0x02};

struct TElement {
  uint8_t Tag = 0;
  TBytes Contents;
  TBytes Encoding;  // tag, length and contents
};

// The elements of a DER encoding, one after the other. Lengths are checked
// against what holds them; tags of more than one byte and indefinite
// lengths, which DER has not, are refused.
class TDerReader {
 public:
  explicit TDerReader(TBytes Bytes) : FRest(Bytes) {}

  bool AtEnd() const { return FRest.empty(); }

  TElement Next(std::string_view What) {
    if (FRest.size() < 2) Malformed(std::string(What) + " is missing or cut off");
    TElement E;
    E.Tag = FRest[0];
    if ((E.Tag & 0x1F) == 0x1F) Malformed(std::string(What) + " has a tag of several bytes");
    size_t Header = 2;
    uint64_t Length = FRest[1];
    if (Length == 0x80) Malformed(std::string(What) + " has an indefinite length");
    if (Length > 0x80) {
      const size_t Bytes = Length & 0x7F;
      if (Bytes > 4) Malformed(std::string(What) + " has a length of more than 4 bytes");
      if (FRest.size() < 2 + Bytes) Malformed(std::string(What) + " is cut off");
      Length = 0;
      for (size_t I = 0; I < Bytes; ++I)
        Length = Length << 8 | FRest[2 + I];
      Header += Bytes;
    }
    if (Length > FRest.size() - Header)
      Malformed(std::string(What) + " (" + Dec(Length) + " bytes) reaches past what holds it");
    E.Contents = FRest.subspan(Header, size_t(Length));
    E.Encoding = FRest.first(Header + size_t(Length));
    FRest = FRest.subspan(Header + size_t(Length));
    return E;
  }

  TElement Take(uint8_t Tag, std::string_view What) {
    const TElement E = Next(What);
    if (E.Tag != Tag) Malformed(std::string(What) + " has tag " + Hex(E.Tag) + ", not " + Hex(Tag));
    return E;
  }

  // The next element when it has Tag; nothing is taken otherwise.
  std::optional<TElement> TakeIf(uint8_t Tag, std::string_view What) {
    if (FRest.empty() || FRest[0] != Tag) return std::nullopt;
    return Next(What);
  }

 private:
  TBytes FRest;
};

bool Equal(TBytes A, TBytes B) {
  return std::equal(A.begin(), A.end(), B.begin(), B.end());
}

// --- A distinguished name as RFC 4514 writes it ---------------------------

struct TShortName {
  std::array<uint8_t, 10> Oid;
  size_t OidSize;
  const char* Name;
};
constexpr TShortName ShortNames[] = {
    {{0x55, 0x04, 0x03}, 3, "CN"},
    {{0x55, 0x04, 0x06}, 3, "C"},
    {{0x55, 0x04, 0x07}, 3, "L"},
    {{0x55, 0x04, 0x08}, 3, "ST"},
    {{0x55, 0x04, 0x09}, 3, "STREET"},
    {{0x55, 0x04, 0x0A}, 3, "O"},
    {{0x55, 0x04, 0x0B}, 3, "OU"},
    {{0x09, 0x92, 0x26, 0x89, 0x93, 0xF2, 0x2C, 0x64, 0x01, 0x19}, 10, "DC"},
    {{0x09, 0x92, 0x26, 0x89, 0x93, 0xF2, 0x2C, 0x64, 0x01, 0x01}, 10, "UID"},
};

const char* ShortName(TBytes Oid) {
  for (const TShortName& N : ShortNames)
    if (Equal(Oid, std::span(N.Oid).first(N.OidSize))) return N.Name;
  return nullptr;
}

// "1.2.840.113549.1.9.1".
std::string DottedOid(TBytes Oid) {
  std::string Text;
  uint64_t Arc = 0;
  size_t ArcBytes = 0;
  for (const uint8_t Byte : Oid) {
    // Nine 7-bit groups fill 63 bits; no registered arc comes near.
    if (ArcBytes == 0 && Byte == 0x80) Malformed("an attribute type has a padded arc");
    if (++ArcBytes > 9) Malformed("an attribute type has an arc beyond 63 bits");
    Arc = Arc << 7 | (Byte & 0x7F);
    if ((Byte & 0x80) != 0) continue;
    if (Text.empty()) {
      const uint64_t First = std::min<uint64_t>(Arc / 40, 2);
      Text = Dec(First) + "." + Dec(Arc - 40 * First);
    } else {
      Text += "." + Dec(Arc);
    }
    Arc = 0;
    ArcBytes = 0;
  }
  if (Text.empty() || ArcBytes != 0) Malformed("an attribute type is no object identifier");
  return Text;
}

// The characters of a string value; nullopt when the value is no string
// of a kind known here or its bytes are not what its kind holds.
std::optional<std::u32string> Characters(const TElement& Value) {
  std::u32string Text;
  const TBytes B = Value.Contents;
  switch (Value.Tag) {
    case der::Utf8String:
      return DecodeUtf8(std::string_view(reinterpret_cast<const char*>(B.data()), B.size()));
    case der::NumericString:
    case der::PrintableString:
    case der::Ia5String:
    case der::VisibleString:
      for (const uint8_t Byte : B) {
        if (Byte > 0x7F) return std::nullopt;
        Text += char32_t(Byte);
      }
      return Text;
    case der::TeletexString:  // taken as Latin-1, as is the custom
      for (const uint8_t Byte : B)
        Text += char32_t(Byte);
      return Text;
    case der::BmpString:  // UTF-16, big-endian
      if (B.size() % 2 != 0) return std::nullopt;
      for (size_t I = 0; I < B.size(); I += 2) {
        char32_t C = char32_t(B[I] << 8 | B[I + 1]);
        if (C >= 0xD800 && C <= 0xDBFF && I + 3 < B.size()) {
          const char32_t Low = char32_t(B[I + 2] << 8 | B[I + 3]);
          if (Low >= 0xDC00 && Low <= 0xDFFF) {
            C = 0x10000 + ((C - 0xD800) << 10) + (Low - 0xDC00);
            I += 2;
          }
        }
        if (C >= 0xD800 && C <= 0xDFFF) return std::nullopt;
        Text += C;
      }
      return Text;
    case der::UniversalString:  // UTF-32, big-endian
      if (B.size() % 4 != 0) return std::nullopt;
      for (size_t I = 0; I < B.size(); I += 4) {
        const char32_t C =
            char32_t(uint32_t(B[I]) << 24 | uint32_t(B[I + 1]) << 16 | B[I + 2] << 8 | B[I + 3]);
        if (C > 0x10FFFF || (C >= 0xD800 && C <= 0xDFFF)) return std::nullopt;
        Text += C;
      }
      return Text;
    default:
      return std::nullopt;
  }
}

void AppendHexPair(std::string& Out, uint8_t Byte) {
  Out += "0123456789ABCDEF"[Byte >> 4];
  Out += "0123456789ABCDEF"[Byte & 0xF];
}

// Characters that would change how the text reads where it is shown: the
// C0 and C1 controls, DEL, line and paragraph separators, and the marks,
// embeddings, overrides and isolates of bidirectional text.
bool Unshowable(char32_t C) {
  return C < 0x20 || (C >= 0x7F && C <= 0x9F) || C == 0x200E || C == 0x200F ||
         (C >= 0x2028 && C <= 0x202E) || (C >= 0x2066 && C <= 0x2069);
}

// A string value as RFC 4514 writes it.
std::string EscapedValue(const std::u32string& Text) {
  std::string Out;
  for (size_t I = 0; I < Text.size(); ++I) {
    const char32_t C = Text[I];
    const std::string Utf8 = EncodeUtf8(std::u32string_view(&Text[I], 1));
    if (Unshowable(C)) {
      for (const char Byte : Utf8) {
        Out += '\\';
        AppendHexPair(Out, uint8_t(Byte));
      }
      continue;
    }
    const bool Special = std::u32string_view(U"\"+,;<>\\").find(C) != std::u32string_view::npos ||
                         (I == 0 && (C == U'#' || C == U' ')) ||
                         (I + 1 == Text.size() && C == U' ');
    if (Special) Out += '\\';
    Out += Utf8;
  }
  return Out;
}

std::string AttributeText(TBytes Attribute) {
  TDerReader Reader(Attribute);
  const TElement Type = Reader.Take(der::ObjectIdentifier, "an attribute type");
  const TElement Value = Reader.Next("an attribute value");
  if (!Reader.AtEnd()) Malformed("an attribute holds more than its type and value");
  const char* Short = ShortName(Type.Contents);
  if (Short != nullptr)
    if (const std::optional<std::u32string> Text = Characters(Value))
      return std::string(Short) + "=" + EscapedValue(*Text);
  std::string Out = (Short != nullptr ? std::string(Short) : DottedOid(Type.Contents)) + "=#";
  for (const uint8_t Byte : Value.Encoding)
    AppendHexPair(Out, Byte);
  return Out;
}

// Name ::= SEQUENCE OF RelativeDistinguishedName (SET OF attributes).
std::string NameText(const TElement& Name) {
  std::vector<std::string> Parts;
  TDerReader Names(Name.Contents);
  while (!Names.AtEnd()) {
    TDerReader Attributes(Names.Take(der::Set, "a relative distinguished name").Contents);
    std::string Part;
    do {
      if (!Part.empty()) Part += '+';
      Part += AttributeText(Attributes.Take(der::Sequence, "an attribute").Contents);
    } while (!Attributes.AtEnd());
    Parts.push_back(std::move(Part));
  }
  std::string Text;
  for (auto It = Parts.rbegin(); It != Parts.rend(); ++It)
    Text += (Text.empty() ? "" : ", ") + *It;
  return Text;
}

// --- PKCS #7 --------------------------------------------------------------

// The subject of the certificate in SignedData (a ContentInfo, DER) that
// its one signer names.
std::string SignerSubjectOf(TBytes Signature) {
  // Padding to the entry's 8-byte alignment may follow the ContentInfo.
  TDerReader ContentInfo(TDerReader(Signature).Take(der::Sequence, "the content info").Contents);
  if (!Equal(ContentInfo.Take(der::ObjectIdentifier, "the content type").Contents, SignedDataOid))
    Malformed("it is not PKCS #7 signed data");
  TDerReader Explicit(
      ContentInfo.Take(der::ContextConstructed0, "the signed data's wrapping").Contents);
  TDerReader SignedData(Explicit.Take(der::Sequence, "the signed data").Contents);
  (void)SignedData.Take(der::Integer, "the signed data's version");
  (void)SignedData.Take(der::Set, "the digest algorithms");
  (void)SignedData.Take(der::Sequence, "the signed content");
  const std::optional<TElement> Certificates =
      SignedData.TakeIf(der::ContextConstructed0, "the certificates");
  (void)SignedData.TakeIf(der::ContextConstructed1, "the revocation lists");
  TDerReader Signers(SignedData.Take(der::Set, "the signer infos").Contents);
  TDerReader Signer(Signers.Take(der::Sequence, "the signer info").Contents);
  if (!Signers.AtEnd()) Malformed("it has more than one signer");

  (void)Signer.Take(der::Integer, "the signer info's version");
  const TElement Id = Signer.Next("the signer's identifier");
  if (Id.Tag != der::Sequence) Malformed("its signer is not named by issuer and serial number");
  TDerReader IssuerAndSerial(Id.Contents);
  const TElement Issuer = IssuerAndSerial.Take(der::Sequence, "the signer's issuer");
  const TElement Serial = IssuerAndSerial.Take(der::Integer, "the signer's serial number");

  if (!Certificates) Malformed("it carries no certificates");
  TDerReader Each(Certificates->Contents);
  while (!Each.AtEnd()) {
    const TElement Certificate = Each.Next("a certificate");
    // Attribute and other certificates stand under tags of their own.
    if (Certificate.Tag != der::Sequence) continue;
    TDerReader Body(
        TDerReader(Certificate.Contents).Take(der::Sequence, "a certificate's body").Contents);
    (void)Body.TakeIf(der::ContextConstructed0, "a certificate's version");
    const TElement CertificateSerial = Body.Take(der::Integer, "a certificate's serial number");
    (void)Body.Take(der::Sequence, "a certificate's signature algorithm");
    const TElement CertificateIssuer = Body.Take(der::Sequence, "a certificate's issuer");
    (void)Body.Take(der::Sequence, "a certificate's validity");
    const TElement Subject = Body.Take(der::Sequence, "a certificate's subject");
    if (Equal(CertificateIssuer.Encoding, Issuer.Encoding) &&
        Equal(CertificateSerial.Contents, Serial.Contents))
      return NameText(Subject);
  }
  Malformed("no certificate in it matches its signer");
}

}  // namespace

std::optional<std::string> SignerSubject(const TPEImage& Image) {
  namespace L = win_certificate_layout;
  const std::optional<TFileRange> Table = Image.CertificateTable();
  if (!Table) return std::nullopt;
  for (int64_t At = 0; Table->Size - At >= int64_t(L::Size);) {
    const std::vector<uint8_t> Header =
        Image.ReadRange({Table->Offset + At, int64_t(L::Size)}, L::Size, "certificate entry");
    const uint32_t Length = GetU32LE(&Header[L::Length]);
    if (Length < L::Size || Length > Table->Size - At)
      Malformed("the certificate entry at " + Hex(uint64_t(Table->Offset + At)) + " claims " +
                Dec(Length) + " bytes, which its table does not hold");
    if (GetU16LE(&Header[L::CertificateType]) == L::PkcsSignedData)
      return SignerSubjectOf(
          Image.ReadRange({Table->Offset + At + int64_t(L::Size), int64_t(Length - L::Size)},
                          MaxSignatureBytes, "signature"));
    At += int64_t(AlignUp(Length, L::EntryAlignment));
  }
  return std::nullopt;
}

}  // namespace kv::pe
