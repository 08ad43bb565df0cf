#include "files/zip_directory.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/program_run.h"
#include "support/test_env.h"

namespace brivon {
namespace {

using Result = ZipDirectoryReading::Result;

std::string Le(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

struct Entry {
  std::string name;
  uint64_t size;
  bool zip64 = false;  // the size in a ZIP64 extra field, after another extra field
};

// A ZIP as a writer lays it out: the entries' data (only its length matters here), the directory,
// the ZIP64 end records when asked, and the end record with its comment.
std::string Zip(const std::vector<Entry>& entries, bool zip64End = false, const std::string& comment = "") {
  const std::string data(200, 'x');
  std::string directory;
  for (const Entry& e : entries) {
    std::string extra = Le(0x5455, 2) + Le(5, 2) + std::string(5, 't');
    if (e.zip64) extra += Le(0x0001, 2) + Le(8, 2) + Le(e.size, 8);
    directory += Le(0x02014b50, 4) + std::string(16, '\0') + Le(0, 4) + Le(e.zip64 ? 0xFFFFFFFF : e.size, 4) +
                 Le(e.name.size(), 2) + Le(extra.size(), 2) + Le(0, 2) + std::string(12, '\0') + e.name + extra;
  }
  const uint64_t count = entries.size();
  std::string ends;
  if (zip64End) {
    const uint64_t record = data.size() + directory.size();
    ends += Le(0x06064b50, 4) + Le(44, 8) + Le(45, 2) + Le(45, 2) + Le(0, 4) + Le(0, 4) + Le(count, 8) +
            Le(count, 8) + Le(directory.size(), 8) + Le(data.size(), 8);
    ends += Le(0x07064b50, 4) + Le(0, 4) + Le(record, 8) + Le(1, 4);
    ends += Le(0x06054b50, 4) + Le(0, 4) + Le(0xFFFF, 2) + Le(0xFFFF, 2) + Le(0xFFFFFFFF, 4) + Le(0xFFFFFFFF, 4);
  } else {
    ends += Le(0x06054b50, 4) + Le(0, 4) + Le(count, 2) + Le(count, 2) + Le(directory.size(), 4) + Le(data.size(), 4);
  }
  return data + directory + ends + Le(comment.size(), 2) + comment;
}

TEST(ZipDirectoryTest, TotalUnpackedSizeFromTheDirectoryOrNothing) {
  const std::vector<Entry> three = {{"a.txt", 2}, {"sub/", 0}, {"sub/b.exe", 5}};
  const std::string plain = Zip(three);
  std::string cutEntry = plain;  // the last entry's name runs past the directory
  cutEntry[cutEntry.find("sub/b.exe") - 46 + 28] = 40;
  std::string apart = plain;  // the directory no longer runs up to its end record
  apart.insert(plain.size() - 22, 10, 's');
  struct Row {
    const char* name;
    std::string bytes;
    size_t tail;  // bytes of the file's end read; 0: all
    Result result;
    uint64_t value;  // the total, or the offset needed
  } rows[] = {
      {"files and a folder", plain, 0, Result::Total, 7},
      {"a comment that holds the end record's signature", Zip(three, false, "PK\x05\x06" + std::string(30, 'c')), 0,
       Result::Total, 7},
      {"sizes in ZIP64 extra fields", Zip({{"a", 2}, {"big", 5ull << 30, true}}), 0, Result::Total, (5ull << 30) + 2},
      {"ZIP64 end records", Zip(three, true), 0, Result::Total, 7},
      {"sizes past 2^64 add up to the most", Zip({{"a", 1ull << 63, true}, {"b", 1ull << 63, true}}), 0,
       Result::Total, UINT64_MAX},
      {"a read that does not reach the directory", plain, 100, Result::NeedsFrom, 200},
      {"an entry cut by the directory's end", cutEntry, 0, Result::NotZip, 0},
      {"a ZIP64 size without its extra field", Zip({{"big.bin", 0xFFFFFFFF}}), 0, Result::NotZip, 0},
      {"bytes between the directory and its end record", apart, 0, Result::NotZip, 0},
      {"no ZIP at all", "7z\xBC\xAF\x27\x1C" + std::string(300, 'g'), 0, Result::NotZip, 0},
  };
  for (const Row& row : rows) {
    const std::string_view bytes(row.bytes);
    const ZipDirectoryReading reading =
        ReadZipDirectory(row.tail ? bytes.substr(bytes.size() - row.tail) : bytes, bytes.size());
    EXPECT_EQ(reading.result, row.result) << row.name;
    if (row.result == Result::Total) {
      EXPECT_EQ(reading.total, row.value) << row.name;
    } else if (row.result == Result::NeedsFrom) {
      EXPECT_EQ(reading.from, row.value) << row.name;
    }
  }
}

// Archives the real 7-Zip wrote: a ZIP is read here, another kind is left to 7-Zip's listing.
TEST(ZipDirectoryTest, ReadsWhat7ZipWritesAndOnlyZips) {
  testing::TempFolder staging;
  ASSERT_TRUE(testing::WriteBytes(staging / L"a.txt", "abc"));
  ASSERT_TRUE(::CreateDirectoryW((staging / L"sub").c_str(), nullptr));
  ASSERT_TRUE(testing::WriteBytes(staging / L"sub\\b.bin", std::string(70000, 'b')));
  ASSERT_TRUE(testing::WriteBytes(staging / L"sub\\vacio.txt", ""));
  struct Row {
    const char* name;
    const wchar_t* type;  // 7-Zip's -t
    bool read;
  } rows[] = {{"a ZIP", L"zip", true}, {"a 7z archive", L"7z", false}};
  for (const Row& row : rows) {
    const std::wstring package = staging / (std::wstring(L"Paquete_") + row.type + L".zip");
    ASSERT_EQ(testing::RunToEnd(L"\"" + testing::ArchiveToolPath() + L"\" a -t" + row.type + L" \"" + package + L"\" \"" +
                                staging.path() + L"\\a.txt\" \"" + staging.path() + L"\\sub\""),
              0u)
        << row.name;
    uint64_t total = 0;
    EXPECT_EQ(ReadZipUnpackedSize(package, &total), row.read) << row.name;
    if (row.read) {
      EXPECT_EQ(total, 70003u) << row.name;
    }
  }
  uint64_t total = 0;
  EXPECT_FALSE(ReadZipUnpackedSize(staging / L"falta.zip", &total));
}

// A ZIP sent without its length is known whole only when its end meets the file's size: a clean
// close anywhere else reads as the end of the transfer all the same.
TEST(ZipDirectoryTest, OnlyAZipEndingWhereItSaysAgreesWithItsSize) {
  testing::TempFolder staging;
  ASSERT_TRUE(testing::WriteBytes(staging / L"a.txt", "abc"));
  ASSERT_TRUE(testing::WriteBytes(staging / L"b.bin", std::string(70000, 'b')));
  const std::wstring made = staging / L"hecho.zip";
  ASSERT_EQ(testing::RunToEnd(L"\"" + testing::ArchiveToolPath() + L"\" a -tzip \"" + made + L"\" \"" + staging.path() +
                              L"\\a.txt\" \"" + staging.path() + L"\\b.bin\""),
            0u);
  const std::string zip = testing::ReadBytes(made);
  const size_t endRecord = zip.rfind(std::string("PK\x05\x06", 4));
  ASSERT_NE(endRecord, std::string::npos);
  const std::vector<Entry> three = {{"a.txt", 2}, {"sub/", 0}, {"sub/b.exe", 5}};
  const std::string zip64 = Zip(three, true);
  struct Row {
    const char* name;
    std::string bytes;
    bool agrees;
  } rows[] = {
      {"as 7-Zip wrote it", zip, true},
      {"with a comment", Zip(three, false, "comentario"), true},
      {"with ZIP64 end records", zip64, true},
      {"cut at 60 %", zip.substr(0, zip.size() * 6 / 10), false},
      {"one byte short", zip.substr(0, zip.size() - 1), false},
      {"cut right before its end record", zip.substr(0, endRecord), false},
      {"ZIP64 end records, the last end record cut off", zip64.substr(0, zip64.size() - 22), false},
      {"one byte after its end", zip + "\n", false},
      {"a page after its end", zip + "<html>Sitio bloqueado</html>", false},
      {"empty", "", false},
  };
  const std::wstring path = staging / L"Paquete.zip";
  for (const Row& row : rows) {
    ASSERT_TRUE(testing::WriteBytes(path, row.bytes)) << row.name;
    EXPECT_EQ(ZipEndAgreesWithSize(path), row.agrees) << row.name;
  }
  EXPECT_FALSE(ZipEndAgreesWithSize(staging / L"falta.zip"));
}

}  // namespace
}  // namespace brivon
