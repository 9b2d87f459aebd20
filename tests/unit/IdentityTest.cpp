#include <gtest/gtest.h>

#include "FakeDesktop.h"
#include "Latin1CodePage.h"
#include "address/PageAddress.h"
#include "inputs/CompanyIdentity.h"

namespace {

struct NormaliseCase {
  const char* what;
  TCompanyIdentity delivered;
  std::string num, type, name;
};

TEST(NormaliseIdentity, TypeNumberAndNameRules) {
  const NormaliseCase cases[] = {
      {"R02 with blanks takes the number from the upload account",
       {"0000000001", " R02 ", "Hotel", "D", "ABC1234567890XYZ", ""},
       "1234567890",
       "R01",
       "Hotel"},
      {"13-byte account is enough",
       {"0000000001", "R02", "Hotel", "D", "ABC1234567890", ""},
       "1234567890",
       "R01",
       "Hotel"},
      {"12-byte account leaves the number",
       {"0000000001", "R02", "Hotel", "D", "ABC123456789", ""},
       "0000000001",
       "R01",
       "Hotel"},
      {"account is not trimmed before its length is taken",
       {"0000000001", "R02", "Hotel", "D", "  AB12345678 ", ""},
       "B12345678 ",
       "R01",
       "Hotel"},
      {"lower case r02 stays",
       {"0000000001", "r02", "Hotel", "D", "ABC1234567890", ""},
       "0000000001",
       "r02",
       "Hotel"},
      {"R01 stays as delivered",
       {" 7 ", " R01 ", "Hotel", "D", "ABC1234567890", ""},
       " 7 ",
       " R01 ",
       "Hotel"},
      {"R021 is not R02", {"1", "R021", "Hotel", "D", "ABC1234567890", ""}, "1", "R021", "Hotel"},
      {"a blank name stays blank", {"1", "R01", " \t ", "D", "", ""}, "1", "R01", " \t "},
      {"an empty name stays empty", {"1", "R01", "", "D", "", ""}, "1", "R01", ""},
      {"a name keeps its blanks", {"1", "R01", " Inn ", "D", "", ""}, "1", "R01", " Inn "},
  };
  for (const auto& c : cases) {
    const TCompanyIdentity kept = NormaliseIdentity(c.delivered);
    EXPECT_EQ(kept.CompanyNum, c.num) << c.what;
    EXPECT_EQ(kept.CompanyType, c.type) << c.what;
    EXPECT_EQ(kept.CompanyName, c.name) << c.what;
    EXPECT_EQ(kept.DeviceId, c.delivered.DeviceId) << c.what;
    EXPECT_EQ(kept.OtherInfo, c.delivered.OtherInfo) << c.what;
    EXPECT_EQ(kept.UploadUser, "") << c.what;
  }
}

TEST(NormaliseIdentity, PlaceholderNeverBecomesAQuestionMark) {
  // The blank name reaches the address as "无" in UTF-8, with or without "无" in the code page.
  const TCompanyIdentity kept = NormaliseIdentity({"1", "R01", "  ", "D", "", ""});
  const FakeCodePage gbk;
  const Latin1CodePage latin1;
  for (const TCodePage* codePage : std::initializer_list<const TCodePage*>{&gbk, &latin1}) {
    const std::string address = BuildPageAddress("http://x/", kept, *codePage);
    EXPECT_NE(address.find("&Name=%E6%97%A0&"), std::string::npos) << address;
  }
}

TEST(IniCompanyIdentitySource, ReadsTheCompanySection) {
  FakeDesktop desktop;
  desktop.files["/opt/hotel/Config/Company.ini"] =
      "[Company]\nCompanyNum=1234567890\ncompanytype = R02\nCompanyName=\" Inn \"\n"
      "DeviceId=D1\nUploadUser=ABC0987654321\n[Other]\nOtherInfo=not ours\n";
  TIniCompanyIdentitySource source(desktop, desktop.AnsiCodePage());
  const auto identity = source.Deliver();
  ASSERT_TRUE(identity.has_value());
  EXPECT_EQ(*identity, (TCompanyIdentity{"1234567890", "R02", " Inn ", "D1", "ABC0987654321", ""}));
}

TEST(IniCompanyIdentitySource, NoRecordWithoutAReadableFile) {
  FakeDesktop missing;
  EXPECT_FALSE(TIniCompanyIdentitySource(missing, missing.AnsiCodePage()).Deliver().has_value());

  FakeDesktop unreadable;
  unreadable.unreadable.push_back("/opt/hotel/Config/Company.ini");
  EXPECT_FALSE(
      TIniCompanyIdentitySource(unreadable, unreadable.AnsiCodePage()).Deliver().has_value());

  // A file is not a record unless it holds the section; blank values in it are one.
  for (const char* text : {"", "\xEF\xBB\xBF", "[Compnay]\nCompanyNum=1\n", "CompanyNum=1\n"}) {
    FakeDesktop noSection;
    noSection.files["/opt/hotel/Config/Company.ini"] = text;
    EXPECT_FALSE(
        TIniCompanyIdentitySource(noSection, noSection.AnsiCodePage()).Deliver().has_value())
        << text;
  }
  FakeDesktop blankValues;
  blankValues.files["/opt/hotel/Config/Company.ini"] = "[company]\nCompanyNum=\n";
  EXPECT_EQ(TIniCompanyIdentitySource(blankValues, blankValues.AnsiCodePage()).Deliver(),
            TCompanyIdentity{});

  FakeDesktop noFolder;
  noFolder.appPath.clear();
  noFolder.files["Config/Company.ini"] = "[Company]\nCompanyNum=1\n";
  EXPECT_FALSE(TIniCompanyIdentitySource(noFolder, noFolder.AnsiCodePage()).Deliver().has_value());
}

}  // namespace
