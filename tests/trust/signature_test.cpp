// The release signature check against signatures made by the openssl tool at build time, and
// the built-in key blobs against the development keys as openssl reads them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "support/test_support.h"
#include "trust/manifest.h"
#include "trust/signature.h"

namespace {
std::string fixture(const std::wstring& name) { return read_bytes(fixture_path(L"trust/" + name)); }

int verify(const std::string& data, const std::string& signature) {
  return verify_release_signature(
      reinterpret_cast<const unsigned char*>(data.data()), static_cast<uint32_t>(data.size()),
      reinterpret_cast<const unsigned char*>(signature.data()), static_cast<uint32_t>(signature.size()));
}

uint32_t le32(const unsigned char* bytes) {
  return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

std::string hex_of(const unsigned char* bytes, size_t count) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

class ReleaseSignature : public testing::Test {
 protected:
  void SetUp() override {
    manifest = fixture(L"release.manifest");
    signature = fixture(L"release.manifest.sig");
    ASSERT_FALSE(manifest.empty());
    ASSERT_EQ(signature.size(), 384u);
  }
  std::string manifest;
  std::string signature;
};
}  // namespace

TEST_F(ReleaseSignature, AcceptsTheDevelopmentKeySignature) {
  EXPECT_EQ(verify(manifest, signature), 1);
  // Repeated calls obtain and release their own objects.
  EXPECT_EQ(verify(manifest, signature), 1);
  EXPECT_EQ(verify(fixture(L"limit.manifest"), fixture(L"limit.manifest.sig")), 1) << "a full 1 MiB manifest";
}

TEST_F(ReleaseSignature, AcceptsTheNextKeyOfTheProfile) {
  const std::string next = fixture(L"release.manifest.next-key.sig");
  ASSERT_EQ(next.size(), 384u);
  ASSERT_NE(next, signature);
  EXPECT_EQ(verify(manifest, next), 1);
  EXPECT_EQ(verify(manifest + "\n", next), 0) << "a line feed added after signing";
  EXPECT_EQ(verify(fixture(L"wrong-game.manifest"), next), 0) << "the next key's signature of other data";
}

TEST_F(ReleaseSignature, RefusesOtherSchemesAndKeys) {
  EXPECT_EQ(verify(manifest, fixture(L"release.manifest.other-key.sig")), 0) << "a 3072-bit key outside the profile";
  EXPECT_EQ(verify(manifest, fixture(L"release.manifest.pss.sig")), 0) << "PSS padding";
  EXPECT_EQ(verify(manifest, fixture(L"release.manifest.sha1.sig")), 0) << "SHA-1";
  EXPECT_EQ(verify(manifest, fixture(L"wrong-game.manifest.sig")), 0) << "signature of other data";
  EXPECT_EQ(verify(manifest, std::string(384, '\0')), 0);
  EXPECT_EQ(verify(manifest, std::string(384, '\xff')), 0);
}

TEST_F(ReleaseSignature, SignatureMustBeExactly384Bytes) {
  EXPECT_EQ(verify(manifest, signature.substr(0, 383)), 0);
  EXPECT_EQ(verify(manifest, signature + '\0'), 0) << "the valid signature followed by one more byte";
  EXPECT_EQ(verify(manifest, '\0' + signature), 0);
  EXPECT_EQ(verify(manifest, signature + std::string(4097 - 384, '\0')), 0);
  EXPECT_EQ(verify(manifest, ""), 0);
  EXPECT_EQ(verify(manifest, signature), 1);
}

TEST_F(ReleaseSignature, EveryByteOfTheManifestIsCovered) {
  for (size_t at = 0; at < manifest.size(); ++at) {
    std::string changed = manifest;
    changed[at] = static_cast<char>(changed[at] ^ 0x01);
    ASSERT_EQ(verify(changed, signature), 0) << "byte " << at << " changed";
  }
  EXPECT_EQ(verify(manifest + "\n", signature), 0) << "a line feed added after signing";
  EXPECT_EQ(verify(manifest.substr(0, manifest.size() - 1), signature), 0) << "last byte dropped";
  EXPECT_EQ(verify(manifest + '\0', signature), 0) << "the reader's terminating zero is not signed data";
  for (size_t at : {size_t{0}, size_t{100}, size_t{383}}) {
    std::string bad = signature;
    bad[at] = static_cast<char>(bad[at] ^ 0x80);
    EXPECT_EQ(verify(manifest, bad), 0) << "signature byte " << at << " changed";
  }
}

TEST_F(ReleaseSignature, BytesAfterAZeroByteAreSigned) {
  std::string zero = fixture(L"zero-byte.manifest");
  std::string zero_signature = fixture(L"zero-byte.manifest.sig");
  size_t nul = zero.find('\0');
  ASSERT_NE(nul, std::string::npos);
  ASSERT_LT(nul + 1, zero.size());
  EXPECT_EQ(verify(zero, zero_signature), 1);
  EXPECT_EQ(verify(zero.substr(0, nul), zero_signature), 0) << "only what the parser sees";
  for (size_t at = nul; at < zero.size(); ++at) {
    std::string changed = zero;
    changed[at] = static_cast<char>(changed[at] ^ 0x20);
    EXPECT_EQ(verify(changed, zero_signature), 0) << "byte " << at << " (after the zero) changed";
  }
  // The parser stops at the zero byte and sees the valid manifest in front of it.
  release_manifest record{};
  EXPECT_EQ(parse_manifest(zero.c_str(), &record), 1);
  EXPECT_EQ(std::wstring(record.version), L"2024.11.3-dev");
}

TEST(ReleaseKeyBlob, MatchesTheDevelopmentKeysAsOpensslReadsThem) {
  ASSERT_EQ(release_key_count(), 2u) << "the development profile names a next key";
  const wchar_t* prefixes[] = {L"dev", L"dev-next"};
  for (size_t index = 0; index < 2; ++index) {
    const std::wstring prefix = prefixes[index];
    unsigned char blob[RELEASE_KEY_BLOB_BYTES + 8];
    for (unsigned char& b : blob) b = 0xA5;
    build_release_key_blob(index, blob);
    EXPECT_EQ(RELEASE_KEY_BLOB_BYTES, 411u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(blob), 4), "RSA1");
    EXPECT_EQ(le32(blob), 0x31415352u);
    std::string bits = fixture(prefix + L"-bits.txt");
    ASSERT_FALSE(bits.empty());
    EXPECT_EQ(le32(blob + 4), static_cast<uint32_t>(std::stoul(bits)));
    EXPECT_EQ(le32(blob + 4), 3072u);
    EXPECT_EQ(le32(blob + 8), 3u) << "exponent length";
    EXPECT_EQ(le32(blob + 12), 384u) << "modulus length";
    EXPECT_EQ(le32(blob + 16), 0u) << "no primes in a public blob";
    EXPECT_EQ(le32(blob + 20), 0u);
    EXPECT_EQ(hex_of(blob + 24, 3), fixture(prefix + L"-exponent.hex")) << to_utf8(prefix);
    EXPECT_EQ(hex_of(blob + 27, 384), fixture(prefix + L"-modulus.hex")) << to_utf8(prefix);
    EXPECT_GE(blob[27], 0x80) << "big-endian: the top bit of a 3072-bit modulus comes first";
    for (size_t i = RELEASE_KEY_BLOB_BYTES; i < sizeof blob; ++i) EXPECT_EQ(blob[i], 0xA5) << "written past 411 bytes";
  }
}

TEST(ReleaseKeyBlob, KeysThatNoKeyPairHasAreNeverUsed) {
  unsigned char sound[RELEASE_KEY_BLOB_BYTES];
  build_release_key_blob(0, sound);
  EXPECT_EQ(release_key_blob_sound(sound), 1);
  // One bit flipped: exponent 1, exponent 65536, an even modulus, one short of 3072 bits.
  const std::pair<size_t, unsigned char> flips[] = {{24, 0x01}, {26, 0x01}, {410, 0x01}, {27, 0x80}};
  for (const auto& [at, bit] : flips) {
    unsigned char blob[RELEASE_KEY_BLOB_BYTES];
    memcpy(blob, sound, sizeof blob);
    blob[at] ^= bit;
    EXPECT_EQ(release_key_blob_sound(blob), 0) << "byte " << at;
  }
}
