// The cryptography of an encrypted phone backup, every primitive through OpenSSL's libcrypto:
// the backup keybag (a list of tag-length-value items), the key derived from the user's
// password, the class keys it unwraps (AES key wrap, RFC 3394), and AES-256-CBC decryption
// of the index and of the stored files (zero IV, streamed in blocks).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tamsel {

using Bytes = std::vector<uint8_t>;
using Key256 = std::array<uint8_t, 32>;

// Overwrites the bytes of a secret (a password, a key), then empties it.
void wipeSecret(std::string& secret);
void wipeSecret(Bytes& secret);

// One class key of the keybag: its protection class, how it is wrapped (WRAP: bit 1 by the
// device, bit 2 by the passcode) and, once unlocked, the key itself.
struct KeybagClassKey {
  uint32_t protectionClass = 0;
  uint32_t wrap = 0;
  uint32_t keyType = 0;
  Bytes wrappedKey;
  Bytes key;  // empty until unlocked
};

struct Keybag {
  uint32_t version = 0;
  uint32_t type = 0;
  Bytes uuid;
  Bytes salt;               // SALT: salt of the second (SHA-1) derivation step
  uint64_t iterations = 0;  // ITER
  Bytes dpsl;               // DPSL: salt of the first (SHA-256) step; empty in older backups
  uint64_t dpic = 0;        // DPIC: its iterations
  std::vector<KeybagClassKey> classKeys;

  // The unlocked key of `protectionClass`, or null.
  const KeybagClassKey* unlockedClass(uint32_t protectionClass) const;
};

inline constexpr uint32_t kWrapByPasscode = 2;

// Reads a keybag: header items up to the first UUID after the header's own, then one class
// key per UUID. None (with `error`) when an item runs past the end, a number item is not 4
// or 8 bytes, or the salts, iteration counts or class keys are missing.
std::optional<Keybag> parseKeybag(std::span<const uint8_t> bytes, std::string* error);

// Called between chunks of a long computation with the work done and the whole; returns
// false to stop it.
using CryptoProgress = std::function<bool(uint64_t done, uint64_t total)>;

enum class DigestKind { sha1, sha256 };

// PBKDF2 (RFC 8018) with HMAC-SHA1 or HMAC-SHA256 from libcrypto, computed in chunks so that
// `progress` is told about every few thousand iterations and can stop it. None when stopped
// or when an iteration count is 0.
std::optional<Bytes> pbkdf2(DigestKind digest, std::span<const uint8_t> password,
                            std::span<const uint8_t> salt, uint64_t iterations, size_t length,
                            const CryptoProgress& progress = {});

// The key that unwraps the passcode-wrapped class keys: PBKDF2-HMAC-SHA256 over DPSL and DPIC
// first when the keybag has them, then PBKDF2-HMAC-SHA1 over SALT and ITER. None when stopped.
std::optional<Key256> derivePasscodeKey(const Keybag& bag, std::string_view password,
                                        const CryptoProgress& progress = {});

// AES key unwrap (RFC 3394) with a 128-, 192- or 256-bit key-encryption key; none when the
// integrity check fails (the wrong key) or the sizes are not those of a wrapped key.
std::optional<Bytes> aesUnwrap(std::span<const uint8_t> kek, std::span<const uint8_t> wrapped);

// Unwraps every passcode-wrapped class key with `passcodeKey`. False when one of them fails
// its integrity check (the password is wrong) or none is wrapped by the passcode.
bool unlockKeybag(Keybag& bag, const Key256& passcodeKey);

// A stored key as the backup keeps it: 4-byte little-endian protection class, then the key
// wrapped with that class's key. None (with `error`) when it is too short, its class is not
// unlocked, or the unwrap fails.
std::optional<Bytes> unwrapStoredKey(const Keybag& bag, std::span<const uint8_t> stored,
                                     std::string* error);

// AES-256-CBC decryption with a zero IV and no padding rule of its own, fed in pieces.
class CbcDecryptor {
 public:
  explicit CbcDecryptor(std::span<const uint8_t> key);
  ~CbcDecryptor();
  CbcDecryptor(const CbcDecryptor&) = delete;
  CbcDecryptor& operator=(const CbcDecryptor&) = delete;
  bool valid() const { return ctx_ != nullptr; }
  // Decrypts `in` (a multiple of 16 bytes) into `out` (as large). False on a library failure.
  bool update(std::span<const uint8_t> in, uint8_t* out);

 private:
  struct Ctx;
  Ctx* ctx_ = nullptr;
};

// What decryptFile does with the decrypted end of the file.
struct DecryptLength {
  // Cut the clear file to this size (a stored file's Size): the encrypted file must hold at
  // least that many bytes.
  std::optional<uint64_t> size;
  // Without a size: remove the PKCS#7 padding of the last block when it is well formed.
  bool stripPadding = false;
};

// Decrypts the file `in` (opened read-only) with AES-256-CBC and `key` into the new file
// `out` (created exclusively, mode 0600), 1 MiB at a time; `progress` gets the bytes done.
// False (with `error`, and no `out` left) when `in` cannot be read, is not a whole number of
// blocks, is shorter than the size, or on a stop.
bool decryptFile(const std::filesystem::path& in, const std::filesystem::path& out,
                 std::span<const uint8_t> key, const DecryptLength& length, std::string* error,
                 const CryptoProgress& progress = {});

}  // namespace tamsel
