// Who signed an image: the subject of the certificate that made its
// Authenticode signature, read from the certificate table. Nothing here
// verifies a signature; osslsigncode verify does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kv::pe {

class TPEImage;

// WIN_CERTIFICATE, the header of each entry of the certificate table.
namespace win_certificate_layout {
inline constexpr size_t Length = 0;  // of the entry, header included
inline constexpr size_t Revision = 4;
inline constexpr size_t CertificateType = 6;
inline constexpr size_t Size = 8;
inline constexpr uint16_t PkcsSignedData = 2;  // WIN_CERT_TYPE_PKCS_SIGNED_DATA
inline constexpr size_t EntryAlignment = 8;
}  // namespace win_certificate_layout

// A signature is a few kilobytes (certificates, a time stamp, nested
// signatures); a larger one is not read.
inline constexpr size_t MaxSignatureBytes = size_t(1) << 20;

// The subject of the certificate that signed the image's first PKCS #7
// signature, the one whose issuer and serial number its SignerInfo names,
// as RFC 4514 writes a distinguished name: its parts last first, joined by
// ", " ("CN=Konvoro updater, O=Konvoro"), the usual short names (CN, O,
// OU, C, L, ST, STREET, DC, UID) or else the dotted object identifier with
// the value as "#" and its DER in hexadecimal; special characters and, so
// that the text is safe to show, control and direction characters escaped
// as "\" and their UTF-8 bytes in hexadecimal. nullopt when the image has
// no certificate table or none of its entries is PKCS #7 signed data.
// Raises EPEFormatError ("the signature is malformed: ...") for an entry
// or DER that does not fit where it stands, a signature that is not
// SignedData, has other than one signer, names its signer otherwise than by
// issuer and serial number or carries no certificate that matches, and for
// a signature larger than MaxSignatureBytes.
std::optional<std::string> SignerSubject(const TPEImage& Image);

}  // namespace kv::pe
