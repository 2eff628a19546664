// Reading packages from their end and making a smaller zip of some of their entries.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "transfer/job_support.h"
#include "transfer/zip_directory.h"

namespace {
const unsigned char* bytes_of(const std::string& text) { return reinterpret_cast<const unsigned char*>(text.data()); }

std::string fixture(const std::wstring& name) { return read_bytes(fixture_path(L"zip/" + name)); }

// The package's entries as the reader gives them, one line each as the fixture lists them.
struct directory {
  std::string package;
  zip_directory_place place = {};
  std::vector<zip_entry> entries;

  bool read(const std::string& bytes) {
    package = bytes;
    entries.clear();
    size_t tail = std::min(package.size(), ZIP_TAIL_BYTES);
    if (!zip_locate_directory(bytes_of(package) + package.size() - tail, tail, package.size(), &place)) return false;
    auto keep = [](const zip_entry* entry, void* self) {
      static_cast<directory*>(self)->entries.push_back(*entry);
      return 1;
    };
    return zip_read_directory(bytes_of(package) + place.offset, &place, keep, this);
  }
  std::string listing() const {
    std::ostringstream text;
    for (const zip_entry& e : entries) {
      text << std::string(e.name, e.name_bytes) << ' ' << e.local_offset << ' ' << e.compressed_size << ' '
           << e.uncompressed_size << ' ' << e.method << '\n';
    }
    return text.str();
  }
  const zip_entry* find(const std::string& name) const {
    for (const zip_entry& e : entries) {
      if (std::string(e.name, e.name_bytes) == name) return &e;
    }
    return nullptr;
  }
  // From the entry's local header to the next one, or to the central directory.
  zip_span span_of(const zip_entry& entry) const {
    uint64_t end = place.offset;
    for (const zip_entry& e : entries) {
      if (e.local_offset > entry.local_offset) end = std::min(end, e.local_offset);
    }
    return {entry.local_offset, end};
  }
  // The chosen entries, each its own local header and its compressed bytes, in the package's
  // order, then the new directory.
  std::string smaller_zip(std::vector<std::string> names) const {
    std::vector<zip_entry> chosen;
    for (const zip_entry& e : entries) {
      if (std::find(names.begin(), names.end(), std::string(e.name, e.name_bytes)) != names.end()) chosen.push_back(e);
    }
    std::string out;
    std::vector<uint64_t> offsets;
    for (const zip_entry& e : chosen) {
      zip_span span = span_of(e);
      std::string record = package.substr(span.begin, span.end - span.begin);
      if (!zip_local_record_matches(bytes_of(record), record.size(), &e)) return "";
      size_t header =
          30 + (bytes_of(record)[26] | bytes_of(record)[27] << 8) + (bytes_of(record)[28] | bytes_of(record)[29] << 8);
      offsets.push_back(out.size());
      std::string own(ZIP_OWN_LOCAL_HEADER_LIMIT, '\0');
      own.resize(zip_write_own_local_header(&e, reinterpret_cast<unsigned char*>(&own[0])));
      out += own + record.substr(header, e.compressed_size);
    }
    std::string tail(zip_own_directory_bound(chosen.data(), chosen.size()), '\0');
    size_t written = zip_write_directory(chosen.data(), offsets.data(), chosen.size(), out.size(),
                                         reinterpret_cast<unsigned char*>(&tail[0]), tail.size());
    return written == 0 ? "" : out + tail.substr(0, written);
  }
};

size_t find_bytes(const std::string& haystack, const std::string& needle, size_t from = 0) {
  return haystack.find(needle, from);
}
}  // namespace

TEST(ZipDirectory, ReadsEveryEntryOfPlainAndZip64Packages) {
  for (const wchar_t* name : {L"plain", L"zip64"}) {
    SCOPED_TRACE(to_utf8(name));
    directory d;
    ASSERT_TRUE(d.read(fixture(std::wstring(name) + L".zip")));
    EXPECT_EQ(d.listing(), fixture(std::wstring(name) + L".listing"));
    ASSERT_NE(d.find("data/"), nullptr);
    EXPECT_TRUE(d.find("data/")->is_folder);
  }
}

TEST(ZipDirectory, RefusesBrokenOrUnsafeDirectories) {
  const std::string good = fixture(L"plain.zip");
  size_t central = find_bytes(good, std::string("PK\x01\x02", 4));
  size_t name_at = find_bytes(good, "data/empty.bin", central);
  size_t game_record = find_bytes(good, std::string("PK\x01\x02", 4), central + 1);  // Tarvo.exe, after data/
  ASSERT_NE(name_at, std::string::npos);
  struct change {
    const char* what;
    size_t at;
    std::string bytes;
  };
  const change changes[] = {
      {"a name that climbs out", name_at, "../a/empty.bin"},
      {"an absolute name", name_at, "/ata/empty.bin"},
      {"a back-slash", name_at, "data\\empty.bin"},
      {"a drive letter", name_at, "C:ta/empty.bin"},
      {"an empty part", name_at, "data//mpty.bin"},
      {"a symbolic link", game_record + 38, std::string("\0\0\xff\xa1", 4)},  // mode 0120777
      {"an encrypted entry", game_record + 8, std::string("\x01\0", 2)},
      {"another method", game_record + 10, std::string("\x0c\0", 2)},  // bzip2
      {"data past the directory", game_record + 20, std::string("\0\0\0\x7f", 4)},
      {"one entry more than there is", good.size() - 22 - 37 + 8, std::string("\x07\0\x07\0", 4)},
      {"a directory past its end records", good.size() - 22 - 37 + 16, std::string("\0\0\0\x01", 4)},
  };
  directory d;
  ASSERT_TRUE(d.read(good));
  for (const change& c : changes) {
    SCOPED_TRACE(c.what);
    std::string broken = good;
    broken.replace(c.at, c.bytes.size(), c.bytes);
    EXPECT_FALSE(d.read(broken));
  }
  EXPECT_FALSE(d.read(good.substr(0, good.size() - 1))) << "the comment no longer ends the archive";
  EXPECT_FALSE(d.read(good.substr(good.size() - 21))) << "no room for an end record";
}

TEST(ZipDirectory, RangesMergeNeighboursAndStayWithinTheRequestCount) {
  std::vector<zip_span> spans = {{1000, 1010}, {100, 110}, {0, 10}, {105, 120}, {15, 20}};
  std::vector<zip_span> ranges(spans.size());
  auto plan = [&](uint64_t gap, size_t most) {
    std::vector<zip_span> copy = spans;
    size_t n = zip_plan_ranges(copy.data(), copy.size(), gap, most, ranges.data());
    std::string text;
    for (size_t i = 0; i < n; ++i) text += std::to_string(ranges[i].begin) + "-" + std::to_string(ranges[i].end) + " ";
    return text;
  };
  EXPECT_EQ(plan(0, 10), "0-10 15-20 100-120 1000-1010 ");
  EXPECT_EQ(plan(5, 10), "0-20 100-120 1000-1010 ");
  EXPECT_EQ(plan(5, 2), "0-120 1000-1010 ");
  EXPECT_EQ(plan(5, 1), "0-1010 ");
}

// The smaller zip is read by the extraction job as any package: exactly the chosen files come
// out, whole.
TEST_F(ExtractJob, ASmallerZipOfChosenEntriesExtractsToExactlyThem) {
  directory d;
  ASSERT_TRUE(d.read(fixture(L"plain.zip")));
  std::string small = d.smaller_zip({"data/common/Skills.k5o", "ui/Orlune_Taxi/Taxi.swf", "data/empty.bin"});
  ASSERT_FALSE(small.empty());
  directory again;
  ASSERT_TRUE(again.read(small));
  EXPECT_EQ(again.entries.size(), 3u);

  std::wstring package = dir / L"part.zip";
  ASSERT_TRUE(write_bytes(package, small));
  ASSERT_EQ(run_extract(package, staging), 1);
  EXPECT_EQ(read_bytes(join(staging, L"data/common/Skills.k5o")), fixture(L"data_common_Skills.k5o.content"));
  EXPECT_EQ(read_bytes(join(staging, L"ui/Orlune_Taxi/Taxi.swf")), fixture(L"ui_Orlune_Taxi_Taxi.swf.content"));
  EXPECT_TRUE(file_exists(join(staging, L"data/empty.bin")));
  EXPECT_FALSE(file_exists(join(staging, L"Tarvo.exe")));
}

// From a zip64 package each entry keeps its figures, behind a local header of its own: a plain
// one, since none of its figures needs zip64.
TEST(ZipDirectory, ASmallerZipOfAZip64PackageReadsBackWithItsNewOffsets) {
  directory d;
  ASSERT_TRUE(d.read(fixture(L"zip64.zip")));
  std::string small = d.smaller_zip({"Tarvo.exe", "client-integrity.sha256"});
  ASSERT_FALSE(small.empty());
  directory again;
  ASSERT_TRUE(again.read(small));
  ASSERT_EQ(again.entries.size(), 2u);
  EXPECT_EQ(again.entries[0].local_offset, 0u);
  EXPECT_EQ(again.entries[1].local_offset, 30 + 9 + d.find("Tarvo.exe")->compressed_size);
  EXPECT_EQ(again.entries[0].uncompressed_size, d.find("Tarvo.exe")->uncompressed_size);
}
