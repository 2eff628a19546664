// The listed files hashed by the pool of threads: whatever the threads do, the result, the
// journal and the published progress are those of one thread hashing the files in list order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "core/os.h"
#include "core/paths.h"
#include "core/status.h"
#include "core/text.h"
#include "integrity/compare.h"
#include "integrity/integrity_client.h"
#include "integrity/list.h"
#include "integrity/verify.h"
#include "support/test_support.h"

namespace {
using lines = std::vector<std::string>;

// Everything a verification lets the world see.
struct outcome {
  int result;
  lines messages;  // the journal, progress texts included
  int32_t done;
  int32_t total;
  int32_t mode;
  bool operator==(const outcome&) const = default;
};

void PrintTo(const outcome& o, std::ostream* out) {
  *out << "result " << o.result << ", progress " << o.done << "/" << o.total << " mode " << o.mode << ", journal:";
  for (const std::string& message : o.messages) *out << "\n  " << message;
}

outcome check(const test_client& client, const std::string& digest, uint32_t threads, const std::wstring& log) {
  journal_capture journal{log};
  set_indeterminate_progress();
  int result = verify_integrity_with_threads(client.folder.c_str(), from_utf8(digest).c_str(), threads);
  return {result, journal.messages(), g_verify_progress_done.load(), g_verify_progress_total.load(),
          g_progress_mode.load()};
}

std::string missing(const std::string& path) { return "Fichier client absent ou illisible : " + native(path); }

// size bytes that differ from one file to the next.
std::string large_content(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  uint64_t word = 0x9E3779B97F4A7C15ull * (seed + 1);
  for (size_t at = 0; at < size; at += sizeof word) {
    word = word * 6364136223846793005ull + 1442695040888963407ull;
    memcpy(&bytes[at], &word, std::min(sizeof word, size - at));
  }
  return bytes;
}

class Pool : public ::testing::Test {
 protected:
  temp_dir dir;
  test_client client{dir / L"Client"};
  std::wstring log(const std::wstring& name) { return dir / (name + L".log"); }
};
}  // namespace

// Under the sanitizers this runs the pool over many small files while a few large ones keep
// single workers busy.
TEST_F(Pool, ManySmallAndAFewLargeFilesGiveWhatOneThreadGives) {
  const size_t large[] = {4194305, 6000000, 9437184};
  for (int i = 0; i < 1100; ++i) {
    if (i % 370 == 5) {
      int n = i / 370;
      client.add("large/l" + std::to_string(n) + ".bin", large_content(large[n], n));
    }
    client.add("small/s" + std::to_string(i % 200) + ".bin", "small " + std::to_string(i % 200));
  }
  std::string digest = client.write_list();
  outcome one = check(client, digest, 1, log(L"one"));
  EXPECT_EQ(one.result, 1);
  EXPECT_EQ(one.done, 1103);
  EXPECT_EQ(check(client, digest, 0, log(L"pool")), one);
  EXPECT_EQ(check(client, digest, 4, log(L"four")), one);

  // The last byte of the second large file changes.
  std::string changed = large_content(large[1], 1);
  changed.back() = static_cast<char>(changed.back() ^ 1);
  client.put("large/l1.bin", changed);
  one = check(client, digest, 1, log(L"one-changed"));
  ASSERT_EQ(one.result, 0);
  ASSERT_EQ(one.messages.size(), 2u) << "the progress text of 250 files, then the refusal";
  EXPECT_EQ(one.messages[1], "Empreinte client refusee : " + native("large/l1.bin") + " (attendu " +
                                 sha256_hex(large_content(large[1], 1)) + ", obtenu " + sha256_hex(changed) + ")");
  EXPECT_EQ(check(client, digest, 0, log(L"pool-changed")), one);
}

// The first file is large and refused; while a worker still hashes it, the others reach a
// missing file near the end. Only the first failure is journalled, and the progress shown is
// the one published before it.
TEST_F(Pool, ALateFailureWaitsForEveryEarlierFile) {
  const std::string big = large_content(24 << 20, 7);
  client.add_listed("big.bin", sha256_hex("official big"), big);
  client.add_fillers(1200);
  client.list += entry(sha256_hex("x"), "pack/gone.bin");
  std::string digest = client.write_list();
  outcome pool = check(client, digest, 2, log(L"refused"));
  EXPECT_EQ(pool.result, 0);
  EXPECT_EQ(pool.messages, lines{"Empreinte client refusee : big.bin (attendu " + sha256_hex("official big") +
                                 ", obtenu " + sha256_hex(big) + ")"});
  EXPECT_EQ(pool.done, 0);
  EXPECT_EQ(pool.total, 1202);

  // The large file matches and an approval follows it: the approval comes first, then the
  // progress of the 1,200 entries before the missing one, then the missing file.
  client.list = entry(sha256_hex(big), "big.bin") + entry(dev_digest("H0"), "META-INF/AIR/application.xml");
  client.put("META-INF/AIR/application.xml", content_of("H2"));
  client.add_fillers(1200);
  client.list += entry(sha256_hex("x"), "pack/gone.bin");
  pool = check(client, client.write_list(), 2, log(L"approved"));
  EXPECT_EQ(pool.result, 0);
  lines expected{k_air_approved};
  for (int n = 250; n <= 1200; n += 250) {
    expected.push_back("Verification de securite : " + std::to_string(n) + " fichiers...");
  }
  expected.push_back(missing("pack/gone.bin"));
  EXPECT_EQ(pool.messages, expected);
  EXPECT_EQ(pool.done, 1000);
}

namespace {
// One generated client: a thousand entries or so over the fillers, with random faults and
// overlays. Files it writes are rewritten by every client that uses them.
struct random_client {
  std::mt19937 random;
  test_client& client;

  int pick(int below) { return static_cast<int>(random() % static_cast<unsigned>(below)); }
  bool chance(int percent) { return pick(100) < percent; }

  void listed_as(const std::string& path, const std::string& listed, const std::string& actual) {
    client.add_listed(path, dev_digest(listed), content_of(actual));
  }

  std::string fault(int n) {
    std::string id = std::to_string(n);
    switch (pick(7)) {
      case 0:
        return entry(sha256_hex("gone"), "pack/gone" + id + ".bin");
      case 1:
        client.put("data/changed" + id + ".bin", "changed " + id);
        return entry(sha256_hex("official " + id), "data/changed" + id + ".bin");
      case 2:
        return entry(sha256_hex(filler_content(n)), "linked/" + filler_path(n).substr(5));
      case 3:
        return entry(sha256_hex(""), pick(2) ? "NUL" : "data/com1.txt");
      case 4:
        return sha256_hex("x") + " one-space.bin\n";
      case 5:
        return "\n\n";
      default:
        return entry(sha256_hex(filler_content(n)), filler_path(n));  // a repeated entry
    }
  }

  void overlays() {
    if (chance(30)) listed_as("META-INF/AIR/application.xml", "H0", pick(2) ? "H2" : "H1");
    if (chance(30)) listed_as("Moorbridge.exe", "P0", pick(3) ? "P1" : "P0");
    if (chance(30)) {
      listed_as("ui/Orlune_Common/Common.swf", "C4", pick(3) ? "C7" : "C5");
      listed_as("ui/Orlune_Taxi/Taxi.swf", "T4", "T8");
      client.put("ui/Orlune_ContextMenu/ContextMenu.swf", content_of("M4"));
      client.put("ui/Orlune_Taxi/xml/dungeonSelection.xml", content_of(pick(2) ? "D4" : "D3"));
      client.put("ui/Orlune_Taxi/assets/bestiary-skull.png", content_of(pick(4) ? "S1" : "C1"));
    }
    if (chance(25)) {
      int overlay_files = 4 + pick(2);
      const char* shop[] = {"data/common/Items.k5o", "data/common/data.meta", "data/i18n/i18n_fr.k5i",
                            "data/i18n/data.meta", "ui/Orlune_Storage/Storage.swf"};
      for (int i = 0; i < 5; ++i) {
        std::string n = std::to_string(i + 1);
        listed_as(shop[i], "U" + n, (i < overlay_files ? "V" : "U") + n);
      }
    }
    if (chance(25)) {
      listed_as("ui/Orlune_Grimoire/Grimoire.swf", "G1", pick(2) ? "G2" : "G3");
      client.put("ui/Orlune_Grimoire/ui/items/jobListItem.xml", content_of("L1") + (pick(3) ? "" : " changed"));
    }
  }

  std::string make() {
    client.list.clear();
    client.add_fillers(0);
    const int entries = 990 + pick(50);
    std::vector<int> fault_at;
    for (int n = chance(40) ? 0 : 1 + pick(3); n > 0; --n) fault_at.push_back(pick(entries + 1));
    for (int i = 0; i <= entries; ++i) {
      for (int at : fault_at) {
        if (at == i) client.list += fault(i);
      }
      if (i == entries / 2) overlays();
      if (i < entries) client.add_fillers(1, pick(1000));
    }
    return client.write_list();
  }
};
}  // namespace

TEST_F(Pool, RandomClientsGiveWhatOneThreadGives) {
  test_client shared{fixture_path(L"integrity/random/Client")};
#ifdef _WIN32
  const int clients = 8;
#else
  const int clients = 24;
#endif
  int passed = 0;
  int journalled_failures = 0;
  for (int seed = 0; seed < clients; ++seed) {
    SCOPED_TRACE("client " + std::to_string(seed));
    random_client generated{std::mt19937(static_cast<unsigned>(seed)), shared};
    std::string digest = generated.make();
    std::wstring name = std::to_wstring(seed);
    outcome one = check(shared, digest, 1, log(name + L"-one"));
    outcome pool = check(shared, digest, seed % 2 ? 3 : 0, log(name + L"-pool"));
    EXPECT_EQ(pool, one);
    passed += one.result;
    journalled_failures +=
        !one.result && !one.messages.empty() && one.messages.back().rfind("Verification de securite", 0) != 0;
  }
  // The clients are of every kind.
  EXPECT_GT(passed, clients / 8);
  EXPECT_LT(passed, clients - clients / 8);
  EXPECT_GT(journalled_failures, clients / 8);
}

// The final check of an update by the file: files hashed by the comparison and hard-linked into
// the new folder are taken on their identity, but one edited or replaced since is hashed again,
// also when its last write time was put back.
TEST_F(Pool, ReusedIdentitiesHoldOnlyForTheUnchangedFile) {
  const std::string names[] = {"kept.bin", "edited.bin", "replaced.bin", "restamped.bin"};
  for (const std::string& name : names) client.add(name, "official " + name);
  client.add_fillers(1000);
  std::string digest = client.write_list();
  // Older than the time stamps' granularity, so that a hash vouches for their identities.
  os_sleep_ms(STAMP_GRANULARITY_MS + 200);
  size_t count = 0;
  int malformed = 0;
  list_entry* entries = split_list(client.list.c_str(), &count, &malformed);
  ASSERT_NE(entries, nullptr);
  std::vector<unsigned char> matches(count);
  std::vector<file_identity> found(count);
  ASSERT_TRUE(compare_listed_files(client.folder.c_str(), entries, count, nullptr, matches.data(), found.data()));
  free(entries);
  file_identities identities = {{}, found.data(), count};
  copy_text(identities.list_digest, DIGEST_TEXT_UNITS, from_utf8(digest).c_str());
  ASSERT_EQ(std::count(matches.begin(), matches.end(), 1), static_cast<long>(count));
  EXPECT_TRUE(std::all_of(found.begin(), found.end(), [](const file_identity& id) { return id.taken != 0; }));

  std::wstring linked = dir / L"Linked";
  ASSERT_TRUE(ensure_directory(join(linked, L"pack").c_str()));
  auto link_all = [&] {
    for (int i = 0; i < test_client::FILLER_FILES; ++i) {
      std::wstring path = from_utf8(native(filler_path(i)));
      ASSERT_TRUE(os_hard_link(join(client.folder, path).c_str(), join(linked, path).c_str()));
    }
    for (const wchar_t* name :
         {L"kept.bin", L"edited.bin", L"replaced.bin", L"restamped.bin", L"client-integrity.sha256"}) {
      os_delete_file(join(linked, name).c_str());
      ASSERT_TRUE(os_hard_link(join(client.folder, name).c_str(), join(linked, name).c_str()));
    }
  };
  link_all();
  EXPECT_EQ(verify_integrity_reusing(linked.c_str(), from_utf8(digest).c_str(), &identities, nullptr), 1);

  // Same sizes, other bytes: one rewritten in place; one replaced before the link by another
  // file of the same last write time.
  os_sleep_ms(50);  // past the file system's time stamp granularity
  client.put("edited.bin", "OFFICIAL edited.bin");
  std::wstring spare = dir / L"spare.bin";
  ASSERT_TRUE(write_bytes(spare, "OFFICIAL replaced.bin"));
  ASSERT_TRUE(copy_write_time(join(client.folder, L"replaced.bin"), spare));
  os_delete_file(join(linked, L"replaced.bin").c_str());
  ASSERT_TRUE(os_hard_link(spare.c_str(), join(linked, L"replaced.bin").c_str()));
  std::wstring wide_digest = from_utf8(digest);
  integrity_journal edited{log(L"edited")};
  EXPECT_EQ(verify_integrity_reusing(linked.c_str(), wide_digest.c_str(), &identities, nullptr), 0);
  EXPECT_EQ(edited.events(),
            lines{"Empreinte client refusee : edited.bin (attendu " + sha256_hex("official edited.bin") + ", obtenu " +
                  sha256_hex("OFFICIAL edited.bin") + ")"});

  client.put("edited.bin", "official edited.bin");
  integrity_journal replaced{log(L"replaced")};
  EXPECT_EQ(verify_integrity_reusing(linked.c_str(), wide_digest.c_str(), &identities, nullptr), 0);
  EXPECT_EQ(replaced.events(),
            lines{"Empreinte client refusee : replaced.bin (attendu " + sha256_hex("official replaced.bin") +
                  ", obtenu " + sha256_hex("OFFICIAL replaced.bin") + ")"});

  // Rewritten in place (same file, same size), its last write time then put back.
  os_delete_file(join(linked, L"replaced.bin").c_str());
  ASSERT_TRUE(os_hard_link(join(client.folder, L"replaced.bin").c_str(), join(linked, L"replaced.bin").c_str()));
  std::wstring restamped = join(client.folder, L"restamped.bin");
  std::wstring stamp = dir / L"stamp";
  ASSERT_TRUE(write_bytes(stamp, ""));
  ASSERT_TRUE(copy_write_time(restamped, stamp));
  client.put("restamped.bin", "OFFICIAL restamped.bin");
  ASSERT_TRUE(copy_write_time(stamp, restamped));
  integrity_journal put_back{log(L"put-back")};
  EXPECT_EQ(verify_integrity_reusing(linked.c_str(), wide_digest.c_str(), &identities, nullptr), 0);
  EXPECT_EQ(put_back.events(),
            lines{"Empreinte client refusee : restamped.bin (attendu " + sha256_hex("official restamped.bin") +
                  ", obtenu " + sha256_hex("OFFICIAL restamped.bin") + ")"});
}

// Checks within one run remember what they found matching: never a file judged different, nor
// one a worker hashed after the check had already failed.
TEST_F(Pool, RememberedIdentitiesAreOnlyThoseOfJudgedMatchingFiles) {
  // While one thread hashes the first file, the other runs ahead over the small ones.
  const std::string big = large_content(24 << 20, 3);
  const std::string other = large_content(24 << 20, 4);
  client.add_listed("first.bin", sha256_hex(big), other);
  client.add_fillers(2);
  client.add_listed("bad.bin", sha256_hex("official bad.bin"), "damaged bad.bin");
  client.add_fillers(1000, 2);
  std::wstring digest = from_utf8(client.write_list());
  auto refusal = [](const std::string& path, const std::string& listed, const std::string& actual) {
    return lines{"Empreinte client refusee : " + path + " (attendu " + sha256_hex(listed) + ", obtenu " +
                 sha256_hex(actual) + ")"};
  };
  file_identities memory = {};
  {
    integrity_journal first{log(L"first")};
    EXPECT_EQ(verify_integrity_reusing(client.folder.c_str(), digest.c_str(), nullptr, &memory), 0);
    EXPECT_EQ(verify_integrity_reusing(client.folder.c_str(), digest.c_str(), &memory, &memory), 0);
    EXPECT_EQ(first.events(), lines(2, refusal("first.bin", big, other)[0]));
  }
  os_sleep_ms(50);  // past the file system's time stamp granularity
  client.put("first.bin", big);
  integrity_journal second{log(L"second")};
  EXPECT_EQ(verify_integrity_reusing(client.folder.c_str(), digest.c_str(), &memory, &memory), 0);
  EXPECT_EQ(second.events(), refusal("bad.bin", "official bad.bin", "damaged bad.bin"));
  client.put("bad.bin", "official bad.bin");
  EXPECT_EQ(verify_integrity_reusing(client.folder.c_str(), digest.c_str(), &memory, &memory), 1);
  EXPECT_EQ(memory.count, 1004u);
  release_file_identities(&memory);
}
