#include "ios/backup_crypto.h"

#include <fcntl.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <tuple>

#include "util/fd_io.h"

namespace tamsel {
namespace {

constexpr size_t kBlock = 16;
constexpr size_t kFileChunk = size_t{1} << 20;
// The most rounds a keybag may ask for: backups use ten million rounds of the first
// (PBKDF2-HMAC-SHA256) step and ten thousand of the second (PBKDF2-HMAC-SHA1). A larger count
// is no backup's, and would keep the scan deriving for minutes before its password is known
// to be right or wrong.
constexpr uint64_t kMaxFirstStepRounds = 20000000;
constexpr uint64_t kMaxSecondStepRounds = 100000;
// Iterations of PBKDF2 between two progress calls.
constexpr uint64_t kIterationChunk = 4096;

uint32_t readBE32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// A number item: 4 or 8 bytes, big-endian.
std::optional<uint64_t> numberOf(std::span<const uint8_t> v) {
  if (v.size() == 4) return readBE32(v.data());
  if (v.size() == 8) return (uint64_t{readBE32(v.data())} << 32) | readBE32(v.data() + 4);
  return std::nullopt;
}

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

struct MacFree {
  void operator()(EVP_MAC* m) const { EVP_MAC_free(m); }
};
struct MacCtxFree {
  void operator()(EVP_MAC_CTX* c) const { EVP_MAC_CTX_free(c); }
};

// Reads exactly `size` bytes at `offset`; false on an error or an early end.
bool preadAll(int fd, uint8_t* buffer, size_t size, uint64_t offset) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, buffer + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

void wipeSecret(std::string& secret) {
  if (!secret.empty()) OPENSSL_cleanse(secret.data(), secret.size());
  secret.clear();
}

void wipeSecret(Bytes& secret) {
  if (!secret.empty()) OPENSSL_cleanse(secret.data(), secret.size());
  secret.clear();
}

const KeybagClassKey* Keybag::unlockedClass(uint32_t protectionClass) const {
  for (const KeybagClassKey& k : classKeys) {
    if (k.protectionClass == protectionClass && !k.key.empty()) return &k;
  }
  return nullptr;
}

std::optional<Keybag> parseKeybag(std::span<const uint8_t> bytes, std::string* error) {
  auto fail = [error](std::string why) -> std::optional<Keybag> {
    if (error) *error = "the backup's keybag is damaged: " + std::move(why);
    return std::nullopt;
  };
  Keybag bag;
  bool haveUuid = false;
  KeybagClassKey* current = nullptr;
  size_t pos = 0;
  while (pos < bytes.size()) {
    if (bytes.size() - pos < 8)
      return fail("an item is cut short at offset " + std::to_string(pos));
    const std::string tag(reinterpret_cast<const char*>(bytes.data() + pos), 4);
    const uint32_t length = readBE32(bytes.data() + pos + 4);
    if (bytes.size() - pos - 8 < length) {
      return fail("the item " + tag + " at offset " + std::to_string(pos) + " runs past the end");
    }
    const std::span<const uint8_t> value = bytes.subspan(pos + 8, length);
    pos += 8 + length;
    const std::optional<uint64_t> number = numberOf(value);
    if (tag == "UUID") {
      if (!haveUuid) {
        haveUuid = true;
        bag.uuid.assign(value.begin(), value.end());
      } else {
        current = &bag.classKeys.emplace_back();
      }
    } else if (current != nullptr &&
               (tag == "CLAS" || tag == "WRAP" || tag == "KTYP" || tag == "WPKY")) {
      if (tag == "WPKY") {
        current->wrappedKey.assign(value.begin(), value.end());
      } else if (!number) {
        return fail("the item " + tag + " is not a number");
      } else if (tag == "CLAS") {
        current->protectionClass = static_cast<uint32_t>(*number);
      } else if (tag == "WRAP") {
        current->wrap = static_cast<uint32_t>(*number);
      } else {
        current->keyType = static_cast<uint32_t>(*number);
      }
    } else if (current == nullptr) {
      const bool numeric = tag == "VERS" || tag == "TYPE" || tag == "ITER" || tag == "DPIC" ||
                           tag == "WRAP" || tag == "DPWT";
      if (numeric && !number) return fail("the item " + tag + " is not a number");
      if (tag == "VERS") bag.version = static_cast<uint32_t>(*number);
      if (tag == "TYPE") bag.type = static_cast<uint32_t>(*number);
      if (tag == "ITER") bag.iterations = *number;
      if (tag == "DPIC") bag.dpic = *number;
      if (tag == "SALT") bag.salt.assign(value.begin(), value.end());
      if (tag == "DPSL") bag.dpsl.assign(value.begin(), value.end());
    }
    // Other items (HMCK, PBKY, signatures) are not needed to open the backup.
  }
  if (!haveUuid) return fail("it has no items");
  if (bag.salt.empty() || bag.iterations == 0)
    return fail("its salt or iteration count is missing");
  if (!bag.dpsl.empty() && bag.dpic == 0) return fail("its first iteration count is missing");
  for (const auto& [rounds, most, usual, step] :
       {std::tuple{bag.dpic, kMaxFirstStepRounds, 10000000, "first derivation step (DPIC)"},
        std::tuple{bag.iterations, kMaxSecondStepRounds, 10000, "second derivation step (ITER)"}}) {
    if (rounds > most) {
      return fail("its " + std::string(step) + " asks for " + std::to_string(rounds) +
                  " rounds, which exceeds the most accepted, " + std::to_string(most) +
                  " (backups use " + std::to_string(usual) + ")");
    }
  }
  if (bag.classKeys.empty()) return fail("it holds no class keys");
  return bag;
}

std::optional<Bytes> pbkdf2(DigestKind digest, std::span<const uint8_t> password,
                            std::span<const uint8_t> salt, uint64_t iterations, size_t length,
                            const CryptoProgress& progress) {
  if (iterations == 0 || length == 0) return std::nullopt;
  std::unique_ptr<EVP_MAC, MacFree> mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
  if (!mac) return std::nullopt;
  std::unique_ptr<EVP_MAC_CTX, MacCtxFree> ctx(EVP_MAC_CTX_new(mac.get()));
  if (!ctx) return std::nullopt;
  char digestName[8];
  std::strcpy(digestName, digest == DigestKind::sha1 ? "SHA1" : "SHA256");
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digestName, 0),
      OSSL_PARAM_construct_end()};
  // An empty password is still a key (of no bytes): the library wants a pointer for it.
  static const uint8_t kNoByte = 0;
  const uint8_t* keyBytes = password.empty() ? &kNoByte : password.data();
  if (EVP_MAC_init(ctx.get(), keyBytes, password.size(), params) != 1) return std::nullopt;
  const size_t hashLength = EVP_MAC_CTX_get_mac_size(ctx.get());
  if (hashLength == 0 || hashLength > 64) return std::nullopt;

  const uint64_t blocks = (length + hashLength - 1) / hashLength;
  const uint64_t total = blocks * iterations;
  Bytes out;
  out.reserve(blocks * hashLength);
  uint8_t u[64];
  uint8_t t[64];
  uint64_t done = 0;
  // PBKDF2's F(P, S, c, i): U1 = HMAC(P, S || INT(i)), Uj = HMAC(P, Uj-1), T = U1 ^ ... ^ Uc.
  // The keyed context is re-initialised without its key for every HMAC (no new key set-up).
  auto hmac = [&](std::span<const uint8_t> a, std::span<const uint8_t> b) {
    size_t produced = 0;
    return EVP_MAC_init(ctx.get(), nullptr, 0, nullptr) == 1 &&
           EVP_MAC_update(ctx.get(), a.data(), a.size()) == 1 &&
           (b.empty() || EVP_MAC_update(ctx.get(), b.data(), b.size()) == 1) &&
           EVP_MAC_final(ctx.get(), u, &produced, sizeof u) == 1 && produced == hashLength;
  };
  for (uint64_t block = 1; block <= blocks; ++block) {
    const uint8_t index[4] = {static_cast<uint8_t>(block >> 24), static_cast<uint8_t>(block >> 16),
                              static_cast<uint8_t>(block >> 8), static_cast<uint8_t>(block)};
    if (!hmac(salt, index)) return std::nullopt;
    std::memcpy(t, u, hashLength);
    for (uint64_t j = 1; j < iterations; ++j) {
      if (!hmac(std::span<const uint8_t>(u, hashLength), {})) return std::nullopt;
      for (size_t k = 0; k < hashLength; ++k) t[k] ^= u[k];
      if (j % kIterationChunk == 0 && progress && !progress(done + j, total)) {
        OPENSSL_cleanse(u, sizeof u);
        OPENSSL_cleanse(t, sizeof t);
        return std::nullopt;
      }
    }
    done += iterations;
    out.insert(out.end(), t, t + hashLength);
  }
  OPENSSL_cleanse(u, sizeof u);
  OPENSSL_cleanse(t, sizeof t);
  if (progress && !progress(total, total)) return std::nullopt;
  out.resize(length);
  return out;
}

std::optional<Key256> derivePasscodeKey(const Keybag& bag, std::string_view password,
                                        const CryptoProgress& progress) {
  const bool twoSteps = !bag.dpsl.empty();
  const uint64_t total = bag.iterations + (twoSteps ? bag.dpic : 0);
  // Progress in the keybag's iterations: a step that computes several output blocks (SHA-1
  // gives 20 bytes of the 32) reports its work scaled to its iteration count.
  auto stepProgress = [&](uint64_t before, uint64_t iterations) {
    return [&progress, before, iterations, total](uint64_t done, uint64_t stepTotal) {
      if (!progress) return true;
      const uint64_t scaled =
          stepTotal == 0
              ? iterations
              : static_cast<uint64_t>(static_cast<double>(done) / static_cast<double>(stepTotal) *
                                      static_cast<double>(iterations));
      return progress(before + std::min(scaled, iterations), total);
    };
  };
  Bytes first;
  std::span<const uint8_t> secret(reinterpret_cast<const uint8_t*>(password.data()),
                                  password.size());
  if (twoSteps) {
    std::optional<Bytes> k1 =
        pbkdf2(DigestKind::sha256, secret, bag.dpsl, bag.dpic, 32, stepProgress(0, bag.dpic));
    if (!k1) return std::nullopt;
    first = std::move(*k1);
    secret = first;
  }
  std::optional<Bytes> key = pbkdf2(DigestKind::sha1, secret, bag.salt, bag.iterations, 32,
                                    stepProgress(twoSteps ? bag.dpic : 0, bag.iterations));
  wipeSecret(first);
  if (!key) return std::nullopt;
  Key256 out;
  std::copy(key->begin(), key->end(), out.begin());
  wipeSecret(*key);
  return out;
}

std::optional<Bytes> aesUnwrap(std::span<const uint8_t> kek, std::span<const uint8_t> wrapped) {
  const EVP_CIPHER* cipher = kek.size() == 16   ? EVP_aes_128_wrap()
                             : kek.size() == 24 ? EVP_aes_192_wrap()
                             : kek.size() == 32 ? EVP_aes_256_wrap()
                                                : nullptr;
  if (cipher == nullptr || wrapped.size() < 24 || wrapped.size() % 8 != 0 ||
      wrapped.size() > 4096) {
    return std::nullopt;
  }
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return std::nullopt;
  EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
  if (EVP_DecryptInit_ex(ctx.get(), cipher, nullptr, kek.data(), nullptr) != 1) {
    return std::nullopt;
  }
  Bytes out(wrapped.size());
  int produced = 0;
  if (EVP_DecryptUpdate(ctx.get(), out.data(), &produced, wrapped.data(),
                        static_cast<int>(wrapped.size())) != 1 ||
      produced != static_cast<int>(wrapped.size() - 8)) {
    wipeSecret(out);
    return std::nullopt;
  }
  out.resize(static_cast<size_t>(produced));
  return out;
}

bool unlockKeybag(Keybag& bag, const Key256& passcodeKey) {
  bool any = false;
  for (KeybagClassKey& k : bag.classKeys) {
    if ((k.wrap & kWrapByPasscode) == 0 || k.wrappedKey.empty()) continue;
    std::optional<Bytes> key = aesUnwrap(passcodeKey, k.wrappedKey);
    if (!key) {
      for (KeybagClassKey& other : bag.classKeys) wipeSecret(other.key);
      return false;
    }
    k.key = std::move(*key);
    any = true;
  }
  return any;
}

std::optional<Bytes> unwrapStoredKey(const Keybag& bag, std::span<const uint8_t> stored,
                                     std::string* error) {
  if (stored.size() < 4 + 24) {
    if (error) *error = "its key is " + std::to_string(stored.size()) + " bytes long";
    return std::nullopt;
  }
  const uint32_t cls = uint32_t{stored[0]} | (uint32_t{stored[1]} << 8) |
                       (uint32_t{stored[2]} << 16) | (uint32_t{stored[3]} << 24);
  const KeybagClassKey* classKey = bag.unlockedClass(cls);
  if (classKey == nullptr) {
    if (error) *error = "its protection class " + std::to_string(cls) + " has no unlocked key";
    return std::nullopt;
  }
  std::optional<Bytes> key = aesUnwrap(classKey->key, stored.subspan(4));
  if (!key) {
    if (error) *error = "its key does not unwrap with the key of class " + std::to_string(cls);
    return std::nullopt;
  }
  if (key->size() != 32) {
    if (error) *error = "its key is not a 256-bit key";
    wipeSecret(*key);
    return std::nullopt;
  }
  return key;
}

struct CbcDecryptor::Ctx {
  CipherCtx cipher;
};

CbcDecryptor::CbcDecryptor(std::span<const uint8_t> key) {
  if (key.size() != 32) return;
  CipherCtx c(EVP_CIPHER_CTX_new());
  static const uint8_t kZeroIv[kBlock] = {};
  if (!c || EVP_DecryptInit_ex(c.get(), EVP_aes_256_cbc(), nullptr, key.data(), kZeroIv) != 1 ||
      EVP_CIPHER_CTX_set_padding(c.get(), 0) != 1) {
    return;
  }
  ctx_ = new Ctx{std::move(c)};
}

CbcDecryptor::~CbcDecryptor() {
  delete ctx_;
}

bool CbcDecryptor::update(std::span<const uint8_t> in, uint8_t* out) {
  if (ctx_ == nullptr || in.size() % kBlock != 0) return false;
  size_t done = 0;
  while (done < in.size()) {
    // The library counts in int: large inputs go in pieces.
    const size_t piece = std::min<size_t>(in.size() - done, size_t{1} << 30);
    int produced = 0;
    if (EVP_DecryptUpdate(ctx_->cipher.get(), out + done, &produced, in.data() + done,
                          static_cast<int>(piece)) != 1 ||
        produced != static_cast<int>(piece)) {
      return false;
    }
    done += piece;
  }
  return true;
}

bool decryptFile(const std::filesystem::path& in, const std::filesystem::path& out,
                 std::span<const uint8_t> key, const DecryptLength& length, std::string* error,
                 const CryptoProgress& progress) {
  auto fail = [error](std::string why) {
    if (error) *error = std::move(why);
    return false;
  };
  UniqueFd src(::open(in.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW));
  if (src.get() < 0) return fail(std::string("cannot be opened: ") + std::strerror(errno));
  struct stat st {};
  if (::fstat(src.get(), &st) != 0 || !S_ISREG(st.st_mode)) return fail("is not a regular file");
  const uint64_t stored = static_cast<uint64_t>(st.st_size);
  if (stored % kBlock != 0) {
    return fail("is cut short: " + std::to_string(stored) +
                " bytes are not a whole number of 16-byte blocks");
  }
  if (length.size && *length.size > stored) {
    return fail("is shorter (" + std::to_string(stored) + " bytes) than its recorded size (" +
                std::to_string(*length.size) + " bytes)");
  }
  if (length.size && stored - *length.size > kBlock) {
    return fail("does not match its recorded size (" + std::to_string(*length.size) + " bytes, " +
                std::to_string(stored) + " bytes stored)");
  }
  CbcDecryptor cbc(key);
  if (!cbc.valid()) return fail("cannot be decrypted: the cipher could not be set up");

  UniqueFd dst(::open(out.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (dst.get() < 0)
    return fail(std::string("cannot be written in clear: ") + std::strerror(errno));
  auto failAndRemove = [&](std::string why) {
    ::unlink(out.c_str());
    return fail(std::move(why));
  };
  const uint64_t keep = length.size.value_or(stored);
  Bytes cipherText(std::min<uint64_t>(kFileChunk, stored));
  Bytes clear(cipherText.size());
  uint64_t offset = 0;
  uint64_t written = 0;
  while (offset < stored) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kFileChunk, stored - offset));
    if (!preadAll(src.get(), cipherText.data(), n, offset)) {
      return failAndRemove("could not be read at offset " + std::to_string(offset) +
                           " (it shrank or the read failed)");
    }
    if (!cbc.update(std::span<const uint8_t>(cipherText.data(), n), clear.data())) {
      return failAndRemove("could not be decrypted at offset " + std::to_string(offset));
    }
    offset += n;
    size_t take = static_cast<size_t>(std::min<uint64_t>(n, keep - written));
    if (offset == stored && !length.size && length.stripPadding && n >= kBlock) {
      const uint8_t pad = clear[n - 1];
      bool padded = pad >= 1 && pad <= kBlock;
      for (size_t i = 0; padded && i < pad; ++i) padded = clear[n - 1 - i] == pad;
      if (padded) take = n - pad;
    }
    if (take > 0 && !writeAll(dst.get(), clear.data(), take)) {
      return failAndRemove(std::string("could not be written in clear: ") + std::strerror(errno));
    }
    written += take;
    if (progress && !progress(offset, stored)) return failAndRemove("stopped");
  }
  OPENSSL_cleanse(clear.data(), clear.size());
  if (::close(dst.release()) != 0) {
    return failAndRemove(std::string("could not be written in clear: ") + std::strerror(errno));
  }
  return true;
}

}  // namespace tamsel
