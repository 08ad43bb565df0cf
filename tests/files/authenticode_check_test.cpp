// Whose program it is: signatures of fixtures signed at test time (tests/update/sign_fixtures.sh)
// as Wine's WinVerifyTrust reads them, and the rule that lets a new executable replace a signed one.
#include "files/authenticode_check.h"
#include "files/pe_image_check.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/text.h"
#include "support/test_env.h"

#include <optional>
#include <string>
#include <vector>

namespace brivon {
namespace {

std::wstring Signed(const wchar_t* name) { return testing::BuiltPath(BRIVON_TEST_SIGNED_DIR, L"firmados") + L"\\" + name; }

const wchar_t kSubjectA[] = L"CN=Orvane Software SL, O=Orvane Software, C=ES";

TEST(SignatureTest, SignaturesAreReadWithTheirSigner) {
  if (!testing::RunningUnderWine() && ReadSignature(Signed(L"old_firmado_A.exe")).state != SignatureState::Valid) {
    GTEST_SKIP() << testing::kNeedsTrustedTestRoots;
  }
  struct Case {
    std::wstring path;
    SignatureState state;
    std::wstring subject;
    std::wstring issuer;
  } cases[] = {
      {Signed(L"old_firmado_A.exe"), SignatureState::Valid, kSubjectA, kSubjectA},
      {Signed(L"nuevo_firmado_B.exe"), SignatureState::Valid, L"CN=Otro Editor SL, O=Otro Editor, C=ES",
       L"CN=Otro Editor SL, O=Otro Editor, C=ES"},
      {Signed(L"nuevo_firmado_A_otra_ca.exe"), SignatureState::Valid, kSubjectA,
       L"CN=Otra Autoridad CA, O=Otra Autoridad, C=ES"},
      {Signed(L"nuevo_alterado.exe"), SignatureState::Invalid, L"", L""},
      {testing::TestToolPath(L"fixture_sibling_65535_0_65535_1.exe"), SignatureState::Unsigned, L"", L""},
      {Signed(L"no_existe.exe"), SignatureState::Invalid, L"", L""},
  };
  for (const Case& c : cases) {
    const SignatureFacts facts = ReadSignature(c.path);
    EXPECT_EQ(facts.state, c.state) << NarrowLow8(c.path) << " status " << std::hex << facts.status;
    EXPECT_EQ(facts.subject, c.subject) << NarrowLow8(c.path);
    EXPECT_EQ(facts.issuer, c.issuer) << NarrowLow8(c.path);
  }
}

TEST(SignatureTest, OnlyTheSamePublisherReplacesASignedProgram) {
  const SignatureFacts a{SignatureState::Valid, 0, L"CN=A", L"CN=A"};
  const SignatureFacts b{SignatureState::Valid, 0, L"CN=B", L"CN=B"};
  const SignatureFacts aOtherIssuer{SignatureState::Valid, 0, L"CN=A", L"CN=Otra CA"};
  const SignatureFacts none{SignatureState::Unsigned, 0, L"", L""};
  const SignatureFacts broken{SignatureState::Invalid, 0, L"", L""};
  struct Case {
    const char* name;
    SignatureFacts installed, candidate;
    PublisherVerdict verdict;
  } cases[] = {
      {"same signer", a, a, PublisherVerdict::SamePublisher},
      {"unsigned new", a, none, PublisherVerdict::Refused},
      {"another publisher", a, b, PublisherVerdict::Refused},
      {"changed after signing", a, broken, PublisherVerdict::Refused},
      {"same subject, another issuer", a, aOtherIssuer, PublisherVerdict::Refused},
      {"unsigned installed", none, b, PublisherVerdict::Unverified},
      {"installed with a broken signature", broken, none, PublisherVerdict::Unverified},
  };
  for (const Case& c : cases) EXPECT_EQ(JudgePublisher(c.installed, c.candidate), c.verdict) << c.name;
}

// A Windows image's head: "MZ", e_lfanew at 0x3C, then "PE\0\0", the machine and (18 bytes on) the
// characteristics.
std::string ImageHead(uint32_t lfanew, uint16_t machine, uint16_t characteristics, const char* signature = "PE") {
  std::string head(std::max<size_t>(lfanew + 24, 64), '\0');  // e_lfanew itself lies at 0x3C
  head[0] = 'M', head[1] = 'Z';
  for (int i = 0; i < 4; ++i) head[0x3C + i] = static_cast<char>(lfanew >> (8 * i));
  head[lfanew] = signature[0], head[lfanew + 1] = signature[1];
  head[lfanew + 4] = static_cast<char>(machine), head[lfanew + 5] = static_cast<char>(machine >> 8);
  head[lfanew + 22] = static_cast<char>(characteristics), head[lfanew + 23] = static_cast<char>(characteristics >> 8);
  return head;
}

// Only a Windows program replaces the program: a filter's page served with status 200 is none.
TEST(WindowsImageTest, OnlyAnExecutableImageOfTheSameMachineReplacesTheProgram) {
  const uint16_t exe = 0x0102, dll = 0x2102;
  struct Case {
    const char* name;
    std::string head;
    std::optional<uint16_t> machine;
  } cases[] = {
      {"32-bit program", ImageHead(0x80, kMachineI386, exe), kMachineI386},
      {"64-bit program", ImageHead(0xF8, kMachineAmd64, 0x0022), kMachineAmd64},
      {"a filter's page", "<html><head><title>Sitio bloqueado</title></head><body>Sitio bloqueado</body></html>",
       std::nullopt},
      {"empty", "", std::nullopt},
      {"MZ alone", "MZ", std::nullopt},
      {"cut before the PE header", ImageHead(0x80, kMachineI386, exe).substr(0, 0x84), std::nullopt},
      {"e_lfanew past the file's first pages", ImageHead(0x80, kMachineI386, exe).replace(0x3E, 1, 1, '\x7F'),
       std::nullopt},
      {"no PE signature (an old DOS program)", ImageHead(0x80, kMachineI386, exe, "NE"), std::nullopt},
      {"a DLL", ImageHead(0x80, kMachineI386, dll), std::nullopt},
      {"not marked executable", ImageHead(0x80, kMachineI386, 0x0100), std::nullopt},
      {"machine unknown", ImageHead(0x80, 0, exe), std::nullopt},
      {"e_lfanew inside the MZ header", ImageHead(0x10, kMachineI386, exe), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ExecutableImageMachine(c.head), c.machine) << c.name;

  struct Replace {
    std::optional<uint16_t> candidate, installed;
    bool may;
  } replaces[] = {
      {kMachineI386, kMachineI386, true},
      {kMachineAmd64, kMachineI386, false},  // a 64-bit build on a 32-bit desk does not start
      {kMachineI386, kMachineAmd64, false},
      {kMachineI386, std::nullopt, true},  // nothing installed to compare to
      {std::nullopt, kMachineI386, false},
      {std::nullopt, std::nullopt, false},
  };
  for (const auto& c : replaces) {
    EXPECT_EQ(MayReplaceProgram(c.candidate, c.installed), c.may) << c.candidate.value_or(0) << " over "
                                                                 << c.installed.value_or(0);
  }
  // The test build's own fixtures, read from their files.
  EXPECT_EQ(ReadExecutableImageMachine(Signed(L"old_firmado_A.exe")),
            sizeof(void*) == 8 ? kMachineAmd64 : kMachineI386);
}

// An image's headers through its section table: PE32 or PE32+, each section's raw data, and the
// security directory's entry when the optional header holds one.
std::string ImageHeaders(bool plus, const std::vector<FileRange>& sections, FileRange certificates,
                         uint32_t directories = 16) {
  const uint32_t lfanew = 0x80;
  const size_t optionalBytes = (plus ? 112 : 96) + size_t{directories} * 8;
  std::string headers = ImageHead(lfanew, plus ? kMachineAmd64 : kMachineI386, 0x0102);
  headers.resize(lfanew + 24 + optionalBytes + sections.size() * 40, '\0');
  auto put16 = [&](size_t at, uint32_t value) {
    headers[at] = static_cast<char>(value), headers[at + 1] = static_cast<char>(value >> 8);
  };
  auto put32 = [&](size_t at, uint32_t value) { put16(at, value), put16(at + 2, value >> 16); };
  put16(lfanew + 6, static_cast<uint32_t>(sections.size()));
  put16(lfanew + 20, static_cast<uint32_t>(optionalBytes));
  const size_t optional = lfanew + 24;
  put16(optional, plus ? 0x020B : 0x010B);
  put32(optional + (plus ? 108 : 92), directories);
  if (directories > 4) {
    put32(optional + (plus ? 112 : 96) + 4 * 8, static_cast<uint32_t>(certificates.offset));
    put32(optional + (plus ? 112 : 96) + 4 * 8 + 4, static_cast<uint32_t>(certificates.size));
  }
  for (size_t i = 0; i < sections.size(); ++i) {
    const size_t header = optional + optionalBytes + i * 40;
    put32(header + 16, static_cast<uint32_t>(sections[i].size));
    put32(header + 20, static_cast<uint32_t>(sections[i].offset));
  }
  return headers;
}

// An image replaces the program only when the file holds all of it: an image cut short at its
// source keeps its headers, and nothing else tells it from a whole one.
TEST(WindowsImageTest, OnlyAWholeImageReplacesTheProgram) {
  const std::vector<FileRange> sections = {{0x400, 0x1000}, {0x1400, 0x200}, {0, 0} /* .bss: no raw data */,
                                           {0x1600, 0x200}};
  const FileRange certificates{0x1800, 0x310};
  struct Case {
    const char* name;
    std::string headers;
    uint64_t fileSize;
    bool whole;
  } cases[] = {
      {"whole, certificate table last", ImageHeaders(false, sections, certificates), 0x1B10, true},
      {"whole, with data past its end", ImageHeaders(false, sections, certificates), 0x9000, true},
      {"one byte short of the certificate table's end", ImageHeaders(false, sections, certificates), 0x1B0F, false},
      {"cut where the certificate table begins", ImageHeaders(false, sections, certificates), 0x1800, false},
      {"one byte short of the last section's end", ImageHeaders(false, sections, {}), 0x17FF, false},
      {"whole without a certificate table", ImageHeaders(false, sections, {}), 0x1800, true},
      {"one byte short of the second section's end", ImageHeaders(false, sections, {}), 0x15FF, false},
      {"one byte short of the first section's end", ImageHeaders(false, sections, {}), 0x13FF, false},
      {"64-bit, one byte short of the certificate table's end", ImageHeaders(true, sections, certificates), 0x1B0F,
       false},
      {"64-bit, whole", ImageHeaders(true, sections, certificates), 0x1B10, true},
      // Four data directories end before the security directory: whatever lies there is no table.
      {"no security directory", ImageHeaders(false, sections, certificates, 4), 0x1800, true},
      {"a section after the certificate table", ImageHeaders(false, {{0x400, 0x200}, {0x900, 0x100}}, {0x600, 0x100}),
       0x9FF, false},
  };
  for (const auto& c : cases) {
    const std::optional<ImageLayout> layout = ImageLayoutOf(c.headers);
    ASSERT_TRUE(layout) << c.name;
    EXPECT_EQ(ImageIsWhole(*layout, c.fileSize), c.whole) << c.name;
  }

  // Headers the layout cannot be read from.
  std::string otherMagic = ImageHeaders(false, sections, certificates);
  otherMagic[0x80 + 24] = 0x07;
  const std::string full = ImageHeaders(false, sections, certificates);
  EXPECT_FALSE(ImageLayoutOf(full.substr(0, full.size() - 1))) << "section table cut";
  EXPECT_FALSE(ImageLayoutOf(otherMagic)) << "no PE32 or PE32+ optional header";
  EXPECT_FALSE(ImageLayoutOf("<html>Sitio bloqueado</html>")) << "no image";
  EXPECT_EQ(ImageHeadersBytesNeeded(full), full.size());

  // A real image, signed, cut at every boundary: one byte short of each part's end, and whole.
  const std::string image = testing::ReadBytes(Signed(L"old_firmado_A.exe"));
  const ImageFacts facts = ReadImage(Signed(L"old_firmado_A.exe"));
  ASSERT_TRUE(facts.layout);
  ASSERT_NE(facts.layout->certificates.size, 0u);
  EXPECT_EQ(facts.fileSize, image.size());
  EXPECT_EQ(ImageBytesNeeded(facts), image.size());  // the certificate table ends the file
  std::vector<uint64_t> ends = {facts.layout->certificates.offset + facts.layout->certificates.size};
  for (const FileRange& section : facts.layout->sections) {
    if (section.size != 0) ends.push_back(section.offset + section.size);
  }
  testing::TempFolder folder;
  for (uint64_t end : ends) {
    for (uint64_t size : {end - 1, end}) {
      const std::wstring cut = folder / L"cortado.exe";
      ASSERT_TRUE(testing::WriteBytes(cut, image.substr(0, static_cast<size_t>(size))));
      const ImageFacts read = ReadImage(cut);
      ASSERT_TRUE(read.layout) << size;
      EXPECT_EQ(ImageIsWhole(*read.layout, read.fileSize), size == image.size()) << size << " of " << image.size();
    }
  }
  // Cut inside its headers: no layout, and the size they need.
  ASSERT_TRUE(testing::WriteBytes(folder / L"cabecera.exe", image.substr(0, static_cast<size_t>(facts.headersSize - 1))));
  const ImageFacts head = ReadImage(folder / L"cabecera.exe");
  EXPECT_TRUE(head.machine);
  EXPECT_FALSE(head.layout);
  EXPECT_EQ(ImageBytesNeeded(head), facts.headersSize);
}

}  // namespace
}  // namespace brivon
