// Manifest signatures: ECDSA over P-256 of the SHA-256 digest of the exact manifest bytes, in
// DER, checked against the one public key built into the program.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace hv {

// The platform's public ECC key blob for P-256 ECDSA: "ECS1", the key length 32 as a
// little-endian 32-bit number, then X and Y, each 32 bytes big-endian.
using PublicKeyBlob = std::array<uint8_t, 72>;
// r then s, each a 32-byte big-endian unsigned number.
using RawSignature = std::array<uint8_t, 64>;

PublicKeyBlob MakePublicKeyBlob(const std::array<uint8_t, 64>& x_and_y);

// The 128 hexadecimal characters of X and Y (either case), as the build option and the operator
// tools take them. False for anything else.
bool ParsePublicKeyHex(std::string_view hex, PublicKeyBlob& blob);

// A SEQUENCE of two INTEGERs r and s; lengths in the short form or the long form with one or two
// length bytes; each INTEGER 1 to 33 bytes, a 33-byte one starting with 0x00; nothing after s and
// nothing after the SEQUENCE. Redundant long forms and leading zeros are accepted; whether r and
// s are in range is left to the verifier.
bool DecodeDerSignature(std::string_view der, RawSignature& raw);

// True only for a well-formed signature that verifies against key over SHA-256 of text.
bool VerifyManifestSignature(std::string_view text, std::string_view signature,
                             const PublicKeyBlob& key);

// The platform verifier (CNG on Windows, OpenSSL elsewhere): ECDSA P-256 over a 32-byte digest.
bool VerifyP256Signature(const PublicKeyBlob& key, const std::array<uint8_t, 32>& digest,
                         const RawSignature& raw);

}  // namespace hv
