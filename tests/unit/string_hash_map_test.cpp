#include "core/protocol/string_hash_map.h"

#include <gtest/gtest.h>

#include "core/protocol/form_fields.h"

namespace {

using Names = std::vector<std::string>;

Names Order(const CStringHashMap& map) {
  Names names;
  std::string name, value;
  for (auto pos = map.GetStartPosition(); pos;) {
    map.GetNextAssoc(pos, name, value);
    names.push_back(name);
  }
  return names;
}

unsigned Bucket(const char* name) {
  return CStringHashMap::HashName(name) % 17;
}

}  // namespace

TEST(StringHashMap, BucketsOfTheProtocolFieldNames) {
  EXPECT_EQ(Bucket("Desc"), 0u);
  EXPECT_EQ(Bucket("DirId"), 2u);
  EXPECT_EQ(Bucket("Password"), 4u);
  EXPECT_EQ(Bucket("Language"), 7u);
  EXPECT_EQ(Bucket("ImageData"), 10u);
  EXPECT_EQ(Bucket("Username"), 11u);
  EXPECT_EQ(Bucket("Version"), 11u);
  EXPECT_EQ(Bucket("Filename"), 11u);
  EXPECT_EQ(Bucket("MimeType"), 15u);
  EXPECT_EQ(Bucket("DirName"), 16u);
  EXPECT_EQ(Bucket("Keyword"), 16u);
}

TEST(StringHashMap, WireOrderOfTheFourCommands) {
  CFormFields login;
  for (const char* n : {"Username", "Password", "Language", "Version"}) login.textFields[n] = "x";
  EXPECT_EQ(Order(login.textFields), (Names{"Password", "Language", "Version", "Username"}));

  CFormFields dirList;
  EXPECT_EQ(Order(dirList.textFields), Names{});
  EXPECT_EQ(dirList.textFields.GetStartPosition(), nullptr);

  CFormFields createDir;
  createDir.textFields["DirName"] = "Urlaub";
  EXPECT_EQ(Order(createDir.textFields), Names{"DirName"});

  CFormFields upload;
  for (const char* n : {"DirId", "Filename", "Keyword", "Desc", "MimeType"})
    upload.textFields[n] = "v";
  upload.fileFields["ImageData"] = "C:\\a.jpg";
  EXPECT_EQ(Order(upload.textFields), (Names{"Desc", "DirId", "Filename", "MimeType", "Keyword"}));
  EXPECT_EQ(Order(upload.fileFields), Names{"ImageData"});

  upload.RemoveAll();
  EXPECT_TRUE(upload.textFields.IsEmpty());
  EXPECT_TRUE(upload.fileFields.IsEmpty());
}

TEST(StringHashMap, ReplacingKeepsThePlace) {
  CStringHashMap map;
  map["Username"] = "first";
  map["Version"] = "1.0";  // same bucket, now ahead of Username
  map["Desc"] = "d";
  map["Username"] = "second";
  EXPECT_EQ(map.GetCount(), 3u);
  EXPECT_EQ(Order(map), (Names{"Desc", "Version", "Username"}));
  std::string value;
  ASSERT_TRUE(map.Lookup("Username", value));
  EXPECT_EQ(value, "second");
  // Subscripting an existing name neither adds nor moves it.
  EXPECT_EQ(map["Version"], "1.0");
  EXPECT_EQ(map.GetCount(), 3u);
  EXPECT_EQ(Order(map), (Names{"Desc", "Version", "Username"}));
}

TEST(StringHashMap, BytesAboveTheAsciiRangeHashAsNegative) {
  // 0xE4 is -28 as a signed byte: 0 * 33 - 28 wraps to 0xFFFFFFE4.
  EXPECT_EQ(CStringHashMap::HashName("\xE4"), 0xFFFFFFE4u);
  EXPECT_EQ(CStringHashMap::HashName("a\xFF"), 97u * 33u - 1u);
  EXPECT_EQ(CStringHashMap::HashName("\xFC\xE4"), static_cast<uint32_t>(-4 * 33 - 28));
  // "a\xE4" hashes to 3173 (bucket 11, beside "Username"); read unsigned it
  // would be 3429 (bucket 12) and come after "Username" instead of before it.
  EXPECT_EQ(CStringHashMap::HashName("a\xE4"), 3173u);
  CStringHashMap map;
  map["Username"] = "a";
  map["a\xE4"] = "b";
  map["MimeType"] = "c";
  EXPECT_EQ(Order(map), (Names{"a\xE4", "Username", "MimeType"}));
}

TEST(StringHashMap, LookupIsExactAndRemoveAllEmpties) {
  CStringHashMap map;
  std::string value = "untouched";
  EXPECT_FALSE(map.Lookup("SId", value));
  EXPECT_EQ(value, "untouched");
  map["SId"] = "abc";
  EXPECT_FALSE(map.Lookup("sid", value));
  EXPECT_FALSE(map.Lookup(" SId", value));
  EXPECT_FALSE(map.Lookup("SId ", value));
  EXPECT_TRUE(map.Lookup("SId", value));
  EXPECT_EQ(value, "abc");
  map[""] = "empty name";
  EXPECT_TRUE(map.Lookup("", value));
  EXPECT_EQ(value, "empty name");

  map.RemoveAll();
  EXPECT_EQ(map.GetCount(), 0u);
  EXPECT_EQ(map.GetStartPosition(), nullptr);
  EXPECT_FALSE(map.Lookup("SId", value));
  map["SId"] = "again";
  EXPECT_EQ(Order(map), Names{"SId"});
}

TEST(StringHashMap, ManyEntriesAcrossPoolBlocks) {
  CStringHashMap map;
  for (int i = 0; i < 95; ++i) map["name" + std::to_string(i)] = std::to_string(i * 7);
  EXPECT_EQ(map.GetCount(), 95u);
  Names order = Order(map);
  ASSERT_EQ(order.size(), 95u);
  // Buckets ascend through the iteration.
  for (size_t i = 1; i < order.size(); ++i)
    EXPECT_LE(Bucket(order[i - 1].c_str()), Bucket(order[i].c_str()));
  for (int i = 0; i < 95; ++i) {
    std::string value;
    ASSERT_TRUE(map.Lookup("name" + std::to_string(i), value));
    EXPECT_EQ(value, std::to_string(i * 7));
  }
  // Moving keeps the entries where they are.
  CStringHashMap moved = std::move(map);
  EXPECT_EQ(Order(moved), order);
}

// A long login answer (10 MB of short lines): every name is found again,
// replacing keeps the place, and a moved map still finds its entries. Walking
// a bucket for each name made this take many minutes.
TEST(StringHashMap, LongAnswerLookupsAfterReplaceAndMove) {
  constexpr int kCount = 300000;
  CStringHashMap map;
  for (int i = 0; i < kCount; ++i) map["Line" + std::to_string(i)] = "first";
  const Names before = Order(map);
  for (int i = 0; i < kCount; i += 3) map["Line" + std::to_string(i)] = "second";
  EXPECT_EQ(map.GetCount(), static_cast<size_t>(kCount));
  EXPECT_EQ(Order(map), before);
  CStringHashMap moved = std::move(map);
  for (int i = 0; i < kCount; ++i) {
    std::string value;
    ASSERT_TRUE(moved.Lookup("Line" + std::to_string(i), value)) << i;
    EXPECT_EQ(value, i % 3 == 0 ? "second" : "first") << i;
  }
  std::string value;
  EXPECT_FALSE(moved.Lookup("Line" + std::to_string(kCount), value));
  moved["SId"] = "abc";
  EXPECT_EQ(Order(moved).size(), static_cast<size_t>(kCount + 1));
  EXPECT_TRUE(moved.Lookup("SId", value));
  EXPECT_EQ(value, "abc");
}
