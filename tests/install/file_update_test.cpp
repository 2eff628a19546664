// The install worker's update by the file against the real release server: only the entries the
// active client lacks are fetched with range requests, and every failure falls back to the
// full download without activating anything unchecked.
#include <algorithm>
#include <regex>

#include "install/install_worker.h"
#include "install/span_copy.h"
#include "transfer/powershell.h"
#include "transfer/zip_directory.h"
#include "install_fixture.h"
#include "support/release_server.h"

namespace {
const char k_fetch[] = "Telechargement des seuls fichiers modifies ou endommages...";
const char k_extract[] = "Extraction securisee des fichiers telecharges...";
const char k_check[] = "Verification de tous les fichiers du client mis a jour...";
const char k_full[] = "Telechargement automatique du client complet (premier lancement)...";
const char k_done[] = "Installation terminee. Pret a jouer.";
const char k_package_bad[] = "Package altere, incomplet ou de taille incorrecte. Installation bloquee.";
const char k_gave_up[] = "Echec de la mise a jour par fichier : ";
const wchar_t k_package[] = L"dl/Vorna380-client-dev-test-1.zip";

struct request {
  std::string path;
  int status;
  std::string connection;  // the server's serial number of the connection
};

class FileUpdate : public InstallTest {
 protected:
  void SetUp() override {
    REQUIRE_RELEASE_SERVER();
    ASSERT_TRUE(link_or_copy_tree(fixture_path(L"releases/client/Client"), client));
  }
  // The lines the run journalled, from its start.
  std::vector<std::string> run_lines(int* result) {
    size_t start = journal.messages().size();
    *result = run_install_worker();
    std::vector<std::string> all = journal.messages();
    return std::vector<std::string>(all.begin() + static_cast<long>(start), all.end());
  }
  static bool has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  static std::string gave_up(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
      if (line.rfind(k_gave_up, 0) == 0) return line;
    }
    return "";
  }
  // The requests for the package since the log was opened, with their status.
  static std::vector<request> package_requests(const access_log& log) {
    static const std::regex get("\"GET (/[^ ]*) HTTP/[0-9.]+\" ([0-9]+)[^\n]* c([0-9]+)");
    std::string text = log.since();
    std::vector<request> found;
    for (std::sregex_iterator it(text.begin(), text.end(), get), end; it != end; ++it) {
      std::string path = (*it)[1];
      if (path.find(".zip") != std::string::npos) found.push_back({path, std::stoi((*it)[2]), (*it)[3]});
    }
    return found;
  }
  // A listed path of the installed client (list order), away from the pinned files.
  std::wstring listed_path(size_t index) const {
    std::string list = read_bytes(join(client, L"client-integrity.sha256"));
    size_t at = 0;
    for (size_t i = 0; i < index; ++i) at = list.find('\n', at) + 1;
    return from_utf8(list.substr(at + 66, list.find('\n', at) - at - 66));
  }
  // The first listed file from index on with at least a few KiB.
  std::wstring sizable_path(size_t index) const {
    while (read_bytes(join(client, listed_path(index))).size() < 4096) ++index;
    return listed_path(index);
  }
  static void damage(const std::wstring& path) {
    remove_tree(path);  // never written into: installed files are links to the fixtures
    ASSERT_TRUE(write_bytes(path, "damaged"));
  }
  std::string published(const std::wstring& tree, const std::wstring& path) const {
    return read_bytes(join(fixture_path(L"releases/" + tree), path));
  }
};
}  // namespace

// A release that changes a few files, then a client with one damaged file: each time only
// ranges of the package are fetched, never all of it, and the result is activated.
TEST_F(FileUpdate, ChangedOrDamagedFilesAreFetchedByRangeAlone) {
  ASSERT_TRUE(serve_release(L"changed-files"));
  int result = 0;
  {
    access_log log;
    std::vector<std::string> lines = run_lines(&result);
    ASSERT_TRUE(result) << gave_up(lines);
    EXPECT_TRUE(has(lines, k_fetch) && has(lines, k_extract) && has(lines, k_check) && has(lines, k_done));
    EXPECT_FALSE(has(lines, k_full));
    std::vector<request> asked = package_requests(log);
    ASSERT_GE(asked.size(), 3u);  // end records, directory, entries
    EXPECT_LE(asked.size(), 2u + 12u);
    for (const request& r : asked) {
      EXPECT_EQ(r.status, 206) << r.path;
      EXPECT_EQ(r.connection, asked[0].connection) << "every range over the first connection";
    }
  }
  EXPECT_EQ(read_bytes(join(client, L"client-integrity.sha256")),
            published(L"changed-files", L"dl/client-integrity.sha256"));
  EXPECT_EQ(rollbacks().size(), 1u);
  EXPECT_FALSE(file_exists(root / L"Vorna380.files.zip"));
  EXPECT_FALSE(file_exists(root / L"Vorna380.package.zip"));

  std::wstring victim = join(client, sizable_path(500));
  std::string good = read_bytes(victim);
  damage(victim);
  access_log log;
  std::vector<std::string> lines = run_lines(&result);
  ASSERT_TRUE(result) << gave_up(lines);
  EXPECT_TRUE(has(lines, k_fetch));
  EXPECT_EQ(read_bytes(victim), good);
  std::vector<request> asked = package_requests(log);
  EXPECT_EQ(asked.size(), 3u);
  for (const request& r : asked) EXPECT_EQ(r.status, 206) << r.path;
}

// A server that ignores ranges, a broken central directory, and an entry whose bytes were
// altered on the server: each journals why and the full download follows.
TEST_F(FileUpdate, EveryFailureFallsBackToTheFullDownload) {
  int result = 0;
  ASSERT_TRUE(serve_release(L"changed-files-no-ranges"));
  {
    access_log log;
    std::vector<std::string> lines = run_lines(&result);
    ASSERT_TRUE(result);
    EXPECT_NE(gave_up(lines).find("206"), std::string::npos) << gave_up(lines);
    EXPECT_TRUE(has(lines, k_full) && has(lines, k_done));
    std::vector<request> asked = package_requests(log);
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.back().status, 200);
  }
  EXPECT_EQ(read_bytes(join(client, L"client-integrity.sha256")),
            published(L"changed-files-no-ranges", L"dl/client-integrity.sha256"));

  ASSERT_TRUE(serve_release(L"changed-files"));
  // The served package is the changed release's, broken so that its own digest no longer
  // holds: the full download that follows is refused too, and nothing is activated.
  std::string package = published(L"changed-files", k_package);
  std::wstring victim_path = sizable_path(500);
  std::wstring victim = join(client, victim_path);
  std::string victim_name = to_utf8(victim_path);
  size_t record = package.find("PK\x01\x02");
  ASSERT_NE(record, std::string::npos);
  // The victim's local header: the signature 30 bytes before its name.
  size_t local = package.find(victim_name);
  while (local != std::string::npos && (local < 30 || package.compare(local - 30, 4, "PK\x03\x04") != 0)) {
    local = package.find(victim_name, local + 1);
  }
  ASSERT_NE(local, std::string::npos);
  size_t data = local + victim_name.size() + static_cast<unsigned char>(package[local - 2]) +
                256u * static_cast<unsigned char>(package[local - 1]);
  struct fault {
    const char* name;
    size_t at;  // the byte changed
  } faults[] = {{"directory", record + 1}, {"entry data", data + 10}};
  for (const fault& f : faults) {
    damage(victim);
    std::string broken = package;
    broken[f.at] = static_cast<char>(broken[f.at] ^ 0x5a);
    ASSERT_TRUE(serve_file(k_package, broken));
    size_t kept = rollbacks().size();
    std::vector<std::string> lines = run_lines(&result);
    EXPECT_FALSE(result) << f.name;
    EXPECT_NE(gave_up(lines), "") << f.name;
    EXPECT_TRUE(has(lines, k_full) && has(lines, k_package_bad)) << f.name;
    EXPECT_EQ(read_bytes(victim), "damaged") << f.name;
    EXPECT_EQ(rollbacks().size(), kept) << f.name;
  }
}

// A list written on Windows separates folders with '\': its paths still find their entries, and
// only ranges are fetched.
TEST_F(FileUpdate, AListWrittenWithBackSlashesFindsItsEntries) {
  ASSERT_TRUE(serve_release(L"changed-files-backslashes"));
  int result = 0;
  access_log log;
  std::vector<std::string> lines = run_lines(&result);
  ASSERT_TRUE(result) << gave_up(lines);
  EXPECT_TRUE(has(lines, k_fetch) && has(lines, k_done));
  EXPECT_FALSE(has(lines, k_full));
  for (const request& r : package_requests(log)) EXPECT_EQ(r.status, 206) << r.path;
}

// An entry whose record declares more bytes than the disk holds is never fetched; the attempt
// leaves nothing behind, so an honest server's next run goes the same way as on a clean root.
TEST_F(FileUpdate, DeclaredSizesBeyondTheFreeSpaceStopThePathAndLeaveNothing) {
  ASSERT_TRUE(make_dirs(join(staging, L"data")));
  ASSERT_TRUE(write_bytes(join(staging, L"data/stale.bin"), "left by an earlier run"));
  ASSERT_TRUE(serve_release(L"changed-files-huge-entry"));
  int result = 0;
  std::vector<std::string> lines = run_lines(&result);
  EXPECT_FALSE(result);
  EXPECT_NE(gave_up(lines).find("espace disque insuffisant"), std::string::npos) << gave_up(lines);
  EXPECT_FALSE(has(lines, k_fetch));
  EXPECT_TRUE(has(lines, k_full) && has(lines, k_package_bad));
  EXPECT_FALSE(file_exists(staging));
  EXPECT_FALSE(file_exists(root / L"Vorna380.files.zip"));

  ASSERT_TRUE(serve_release(L"changed-files"));
  lines = run_lines(&result);
  EXPECT_TRUE(result) << gave_up(lines);
  EXPECT_TRUE(has(lines, k_fetch));
}

namespace {
std::string le(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

uint32_t crc32_of(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

int collect(void* context, const unsigned char* bytes, size_t count) {
  static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(bytes), count);
  return 1;
}
}  // namespace

// A server's local header may carry fields no check looks at: a Unicode path naming another
// file, a data descriptor. The smaller zip gives each entry a header of its own, so the entry is
// extracted under its listed name and nothing else.
TEST_F(FileUpdate, TheSmallerZipCarriesNoneOfTheServersHeaderFields) {
  const std::string name = "a.txt";
  const std::string data = "hello from the package\n";
  const std::string other = "b.txt";
  std::string unicode_path = le(0x7075, 2) + le(5 + other.size(), 2) + '\x01' + le(crc32_of(name), 4) + other;
  std::string local = le(0x04034b50, 4) + le(20, 2) + le(0x0008, 2) + le(0, 2) + le(0, 4) + le(0, 4) + le(0, 4) +
                      le(0, 4) + le(name.size(), 2) + le(unicode_path.size(), 2) + name + unicode_path;
  std::string package =
      local + data + le(0x08074b50, 4) + le(crc32_of(data), 4) + le(data.size(), 4) + le(data.size(), 4);
  uint64_t directory_at = package.size();
  std::string central = le(0x02014b50, 4) + le(20, 2) + le(20, 2) + le(0x0008, 2) + le(0, 2) + le(0, 4) +
                        le(crc32_of(data), 4) + le(data.size(), 4) + le(data.size(), 4) + le(name.size(), 2) +
                        le(unicode_path.size(), 2) + le(0, 2) + le(0, 2) + le(0, 2) + le(0, 4) + le(0, 4) + name +
                        unicode_path;
  package += central + le(0x06054b50, 4) + le(0, 4) + le(1, 2) + le(1, 2) + le(central.size(), 4) +
             le(directory_at, 4) + le(0, 2);

  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(package.data());
  zip_directory_place place = {};
  ASSERT_TRUE(zip_locate_directory(bytes, package.size(), package.size(), &place));
  zip_entry entry = {};
  auto keep = [](const zip_entry* found, void* out) {
    *static_cast<zip_entry*>(out) = *found;
    return 1;
  };
  ASSERT_TRUE(zip_read_directory(bytes + place.offset, &place, keep, &entry));
  zip_span span = {0, directory_at};
  std::string smaller;
  std::vector<unsigned char> header(ZIP_LOCAL_HEADER_LIMIT);
  span_copy copy = start_span_copy(&entry, &span, 1, collect, &smaller, header.data());
  ASSERT_TRUE(span_copy_resume_at(&copy, 0));
  for (size_t at = 0; at < directory_at; at += 7) {
    ASSERT_TRUE(take_span_bytes(&copy, bytes + at, std::min<size_t>(7, directory_at - at)));
  }
  ASSERT_TRUE(span_copy_done(&copy));
  EXPECT_EQ(smaller.size(), span_copy_entry_bytes(&entry));
  EXPECT_EQ(smaller.find(other), std::string::npos);
  uint64_t offset = 0;
  std::string directory(zip_own_directory_bound(&entry, 1), '\0');
  size_t written = zip_write_directory(&entry, &offset, 1, smaller.size(),
                                       reinterpret_cast<unsigned char*>(&directory[0]), directory.size());
  ASSERT_NE(written, 0u);
  smaller += directory.substr(0, written);
  EXPECT_EQ(smaller.find(other), std::string::npos);

  std::wstring zip = root / L"smaller.zip";
  ASSERT_TRUE(write_bytes(zip, smaller));
  job_parameters extraction = extract_job(zip.c_str(), staging.c_str());
  ASSERT_TRUE(powershell(k_extract_script, &extraction));
  EXPECT_EQ(read_bytes(join(staging, L"a.txt")), data);
  EXPECT_FALSE(file_exists(join(staging, L"b.txt")));
}
