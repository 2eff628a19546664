// Locally modified files let through by exact digest pairs, and the completeness of overlays.
// File contents are the development texts whose digests are the profile's labels.
#include <gtest/gtest.h>

#include <string>

#include "integrity/integrity_client.h"
#include "support/test_support.h"

namespace {
using lines = std::vector<std::string>;

const char kCommon[] = "ui/Orlune_Common/Common.swf";
const char kTaxi[] = "ui/Orlune_Taxi/Taxi.swf";
const char kContextMenu[] = "ui/Orlune_ContextMenu/ContextMenu.swf";
const char kDungeons[] = "ui/Orlune_Taxi/xml/dungeonSelection.xml";
const char kSkull[] = "ui/Orlune_Taxi/assets/bestiary-skull.png";
const char kGrimoire[] = "ui/Orlune_Grimoire/Grimoire.swf";
const char kJobListItem[] = "ui/Orlune_Grimoire/ui/items/jobListItem.xml";
const char* const kShopFiles[] = {"data/common/Items.k5o", "data/common/data.meta", "data/i18n/i18n_fr.k5i",
                                  "data/i18n/data.meta", "ui/Orlune_Storage/Storage.swf"};

class Overlays : public ::testing::Test {
 protected:
  temp_dir dir;
  test_client client{dir / L"Client"};
  integrity_journal journal{dir / L"launcher.log"};

  void SetUp() override { client.add_fillers(1000); }

  // Lists the path with one label's digest while the file holds another label's content.
  void listed_as(const char* path, const std::string& listed, const std::string& actual) {
    client.add_listed(path, dev_digest(listed), content_of(actual));
  }
  // The bestiary overlay: Common.swf listed at C4 holding `common`, the other approved files
  // listed at their official versions, the skull present but not listed.
  void bestiary(const std::string& common) {
    listed_as(kCommon, "C4", common);
    listed_as(kTaxi, "T4", "T8");
    listed_as(kContextMenu, "M3", "M4");
    listed_as(kDungeons, "D1", "D4");
    client.put(kSkull, content_of("S1"));
  }
  // The bestiary files other than Common.swf on disk in an accepted version, unlisted.
  void put_complete_bestiary_but_common() {
    client.put(kTaxi, content_of("T8"));
    client.put(kContextMenu, content_of("M4"));
    client.put(kDungeons, content_of("D4"));
    client.put(kSkull, content_of("S1"));
  }
  void job_ux() {
    listed_as(kGrimoire, "G1", "G3");
    client.put(kJobListItem, content_of("L1"));
  }
  // The shop overlay with the first `overlay_files` files in their overlay version.
  void shop(int overlay_files) {
    for (int i = 0; i < 5; ++i) {
      std::string n = std::to_string(i + 1);
      listed_as(kShopFiles[i], "U" + n, (i < overlay_files ? "V" : "U") + n);
    }
  }
  std::string refusal(const char* path, const std::string& listed, const std::string& actual) {
    return "Empreinte client refusee : " + native(path) + " (attendu " + dev_digest(listed) + ", obtenu " +
           dev_digest(actual) + ")";
  }
};
}  // namespace

TEST_F(Overlays, CompleteBestiaryIsAccepted) {
  bestiary("C7");
  EXPECT_EQ(client.verify(client.write_list()), 1);
  EXPECT_EQ(journal.events(), (lines{k_bestiary_approved, k_bestiary_approved, k_bestiary_approved, k_bestiary_approved,
                                     k_bestiary_complete}));
}

TEST_F(Overlays, BestiaryAcceptsTheSecondVersionsOfItsFiles) {
  listed_as(kCommon, "C4", "C6");
  listed_as(kTaxi, "T4", "T7");
  client.put(kContextMenu, content_of("M4"));
  listed_as(kDungeons, "D2", "D3");
  client.put(kSkull, content_of("S1"));
  EXPECT_EQ(client.verify(client.write_list()), 1);
  EXPECT_EQ(journal.events(),
            (lines{k_bestiary_approved, k_bestiary_approved, k_bestiary_approved, k_bestiary_complete}));
}

TEST_F(Overlays, IncompleteBestiaryFailsWithoutAMessage) {
  // C5 is approved for the entry (C4 may become C5) but is not a complete overlay version.
  bestiary("C5");
  EXPECT_EQ(client.verify(client.write_list()), 0);
  EXPECT_EQ(journal.events(),
            (lines{k_bestiary_approved, k_bestiary_approved, k_bestiary_approved, k_bestiary_approved}));
}

TEST_F(Overlays, BestiaryNeedsItsUnlistedFileToo) {
  bestiary("C7");
  remove_tree(join(client.folder, from_utf8(kSkull)));
  EXPECT_EQ(client.verify(client.write_list()), 0);
  client.put(kSkull, content_of("S1") + " ");
  EXPECT_EQ(client.verify(client.write_list()), 0);
  EXPECT_EQ(journal.events().size(), 8u) << "approvals only";
  for (const std::string& event : journal.events()) EXPECT_EQ(event, k_bestiary_approved);
}

TEST_F(Overlays, OverlayFilesPresentButUnusedAreNotExamined) {
  // Every bestiary file is present, one in a version the completeness check refuses, but no
  // approval was used: the overlay is not examined.
  client.add(kCommon, content_of("C5"));
  client.put(kTaxi, content_of("T8"));
  EXPECT_EQ(client.verify(client.write_list()), 1);
  EXPECT_EQ(journal.events(), lines{});
}

TEST_F(Overlays, CompletenessChecksRunJobUxThenBestiaryThenShop) {
  // Listed in the opposite order.
  shop(5);
  bestiary("C7");
  job_ux();
  EXPECT_EQ(client.verify(client.write_list()), 1);
  lines expected(5, k_shop_approved);
  expected.insert(expected.end(), 4, k_bestiary_approved);
  expected.push_back(k_job_ux_approved);
  expected.insert(expected.end(), {k_job_ux_complete, k_bestiary_complete, k_shop_complete});
  EXPECT_EQ(journal.events(), expected);
}

TEST_F(Overlays, FirstIncompleteOverlayStopsTheLaterChecks) {
  bestiary("C7");
  listed_as(kGrimoire, "G1", "G2");  // job UX in use, its jobListItem.xml missing
  EXPECT_EQ(client.verify(client.write_list()), 0);
  lines expected(4, k_bestiary_approved);
  expected.push_back(k_job_ux_approved);
  EXPECT_EQ(journal.events(), expected) << "neither completeness line is written";
}

TEST_F(Overlays, ShopWithFourOfFiveFilesFailsAtTheFifth) {
  shop(4);
  EXPECT_EQ(client.verify(client.write_list()), 0);
  EXPECT_EQ(journal.events(), lines(4, k_shop_approved));

  client.list.clear();
  client.add_fillers(1000);
  shop(5);
  EXPECT_EQ(client.verify(client.write_list()), 1);
  lines expected(4 + 5, k_shop_approved);
  expected.push_back(k_shop_complete);
  EXPECT_EQ(journal.events(), expected);
}

TEST_F(Overlays, AirDescriptorIsApprovedAloneWithoutCompleteness) {
  listed_as("META-INF/AIR/application.xml", "H0", "H2");
  EXPECT_EQ(client.verify(client.write_list()), 1);
  EXPECT_EQ(journal.events(), lines{k_air_approved});
}

TEST_F(Overlays, AirDescriptorNeedsTheHistoricListedDigest) {
  listed_as("META-INF/AIR/application.xml", "H1", "H2");
  EXPECT_EQ(client.verify(client.write_list()), 0);
  EXPECT_EQ(journal.events(), lines{refusal("META-INF/AIR/application.xml", "H1", "H2")});
}

TEST_F(Overlays, UpdaterIsApprovedOnlyFromTheOfficialToTheCorrectedBuild) {
  listed_as("Moorbridge.exe", "P0", "P1");
  EXPECT_EQ(client.verify(client.write_list()), 1);
  EXPECT_EQ(journal.events(), lines{k_updater_approved});

  // The official build simply matches.
  client.list.clear();
  client.add_fillers(1000);
  listed_as("Moorbridge.exe", "P0", "P0");
  EXPECT_EQ(client.verify(client.write_list()), 1);
  EXPECT_EQ(journal.events(), lines{k_updater_approved}) << "no new line";

  // Not the other way round.
  client.list.clear();
  client.add_fillers(1000);
  listed_as("Moorbridge.exe", "P1", "P0");
  EXPECT_EQ(client.verify(client.write_list()), 0);
  EXPECT_EQ(journal.events(), (lines{k_updater_approved, refusal("Moorbridge.exe", "P1", "P0")}));
}

TEST_F(Overlays, ApprovedEntriesCountTowardsTheThousand) {
  client.list = client.list.substr(0, client.list.size() / 1000 * 999);
  listed_as("Moorbridge.exe", "P0", "P1");
  EXPECT_EQ(client.verify(client.write_list()), 1);
}

TEST_F(Overlays, RightPathAndFileWithAnotherListedDigestIsRefused) {
  listed_as(kCommon, "C1", "C7");
  put_complete_bestiary_but_common();
  EXPECT_EQ(client.verify(client.write_list()), 0);
  EXPECT_EQ(journal.events(), lines{refusal(kCommon, "C1", "C7")});
}

TEST_F(Overlays, BackslashSpellingIsNeverApproved) {
  const char backslashed[] = "ui\\Orlune_Common\\Common.swf";
  listed_as(backslashed, "C4", "C4");
  EXPECT_EQ(client.verify(client.write_list()), 1) << "a matching file is verified whatever the separator";
  EXPECT_EQ(journal.events(), lines{});

  client.list.clear();
  client.add_fillers(1000);
  listed_as(backslashed, "C4", "C7");
  put_complete_bestiary_but_common();
  EXPECT_EQ(client.verify(client.write_list()), 0);
  EXPECT_EQ(journal.events(), lines{refusal(backslashed, "C4", "C7")});
}

TEST_F(Overlays, JobUxAcceptsBothApprovedVersions) {
  listed_as(kGrimoire, "G1", "G2");
  listed_as("ui/Orlune_Grimoire/ui/jobTab.xml", "J1", "J3");
  listed_as("ui/Orlune_Grimoire/Orlune_Grimoire.dm", "K1", "K2");
  client.put(kJobListItem, content_of("L1"));
  EXPECT_EQ(client.verify(client.write_list()), 1);
  EXPECT_EQ(journal.events(), (lines{k_job_ux_approved, k_job_ux_approved, k_job_ux_approved, k_job_ux_complete}));
}
