// The install script and the extraction of the payload, from a module that carries them as
// resources: built by the test (resources written into a copy of a helper program), so the
// same tests run on the simulated machine and under Wine.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "compression/LZMAStream.h"
#include "compression/PayloadChecksums.h"
#include "installer/uMain.h"
#include "params/uMiscLean.h"
#include "rtl/Exception.h"
#include "rtl/MemoryStream.h"

using testsupport::FileRead;
using testsupport::ScratchFolder;

namespace {

std::string Container(const std::string& aPlain) {
  TLZMAStream s;
  s.PrepareStreams();
  s.Decompressed->Write(aPlain.data(), static_cast<std::int32_t>(aPlain.size()));
  s.Compress();
  return std::string(static_cast<const char*>(s.Compressed->Memory()), static_cast<size_t>(s.Compressed->Size()));
}

// A module file with the given RT_RCDATA resources, loaded for its resources.
win::HMODULE PayloadModule(const std::vector<std::pair<Text, std::string>>& aResources) {
  Text path = ScratchFolder() + u"\\payload.exe";
  EXPECT_TRUE(win::CopyFileW(testsupport::HelperProgram("exitcode").c_str(), path.c_str(), win::FALSE));
  win::HANDLE u = win::BeginUpdateResourceW(path.c_str(), win::TRUE);
  EXPECT_NE(u, nullptr);
  for (auto [name, data] : aResources) {
    EXPECT_TRUE(win::UpdateResourceW(u, win::RT_RCDATA(), name.c_str(), 0, data.data(), static_cast<win::DWORD>(data.size())));
  }
  EXPECT_TRUE(win::EndUpdateResourceW(u, win::FALSE));
  win::HMODULE m = win::LoadLibraryExW(path.c_str(), nullptr, win::LOAD_LIBRARY_AS_DATAFILE);
  EXPECT_NE(m, nullptr);
  return m;
}

// The form extracts the payload of aResources alone: its installation sequence is kept from
// starting.
void PayloadSet(TForm1& aForm, const std::vector<std::pair<Text, std::string>>& aResources) {
  aForm.tmrExecute->EnabledSet(false);
  aForm.ResourceModule = PayloadModule(aResources);
}

std::vector<Text> Entries(const TFlexArray& a) {
  std::vector<Text> out;
  for (int i = 0; i < a.Count(); ++i) out.push_back(VariantToText(a.GetValueByIndex(i)));
  return out;
}

}  // namespace

TEST(InstallScript, LoadsTheEntriesOfTheResource) {
  const std::string script =
      "// Minimal files to load the user interface\r\n"
      "\r\n"
      "Vexlon.exe\r\n"
      "  // indented: an entry\r\n"
      "//Old.dll\n"
      "   \r"
      "Drivers\\Vexlon\\x64\\Vexlon.sys";  // the last line has no line end
  TForm1 form;
  PayloadSet(form, {{u"INSTALLSCRIPT", script}});
  form.InstallScriptLoad();
  EXPECT_EQ(Entries(form.FilesList),
            (std::vector<Text>{u"Vexlon.exe", u"  // indented: an entry", u"   ", u"Drivers\\Vexlon\\x64\\Vexlon.sys"}));
}

TEST(InstallScript, AMissingScriptRaises) {
  TForm1 form;
  PayloadSet(form, {{u"F0", Container("x")}});
  EXPECT_THROW(form.InstallScriptLoad(), Exception);
}

TEST(FilesExtract, WritesEveryFileAndSkipsOnlyTheOnesThatFail) {
  // Seven entries; "F5" is missing, F3 is corrupt, and one entry would land outside the
  // folder: those three fail, every other file is written.
  std::vector<std::pair<Text, std::string>> resources = {
      {u"INSTALLSCRIPT",
       "// header\r\nVexlon.exe\r\n\r\n// drivers\r\nDrivers\\Vexlon\\x86\\Vexlon.sys\r\nDrivers\\Vexlon\\x64\\Vexlon.sys\r\n"
       "corrupt.bin\r\n..\\outside.txt\r\nmissing.dat\r\nlast.txt"},
      {u"F0", Container("core")},
      {u"F1", Container(std::string(100000, 'x'))},
      {u"F2", Container("")},
      {u"F3", Container("good").substr(0, 12)},
      {u"F4", Container("escape")},
      {u"F6", Container("the last")},
  };
  TForm1 form;
  PayloadSet(form, resources);
  form.InstallScriptLoad();
  const Text root = ScratchFolder();
  const Text folder = root + u"\\Orvanta-tmp";
  EXPECT_FALSE(form.FilesExtract(folder));
  EXPECT_EQ(FileRead(folder + u"\\Vexlon.exe"), "core");
  EXPECT_EQ(FileRead(folder + u"\\Drivers\\Vexlon\\x86\\Vexlon.sys"), std::string(100000, 'x'));
  EXPECT_EQ(FileRead(folder + u"\\Drivers\\Vexlon\\x64\\Vexlon.sys"), "");
  EXPECT_EQ(FileRead(folder + u"\\corrupt.bin"), std::nullopt);  // nothing half-written
  EXPECT_EQ(FileRead(folder + u"\\corrupt.bin.part"), std::nullopt);
  EXPECT_EQ(FileRead(root + u"\\outside.txt"), std::nullopt);
  EXPECT_EQ(FileRead(folder + u"\\missing.dat"), std::nullopt);
  EXPECT_EQ(FileRead(folder + u"\\last.txt"), "the last");
}

TEST(FilesExtract, ReplacesAnExistingFileAndSucceedsWhenAllAreWritten) {
  TForm1 form;
  PayloadSet(form, {{u"INSTALLSCRIPT", "a.txt\r\nsub\\b.txt\r\n"}, {u"F0", Container("new a")},
                    {u"F1", Container("b")}});
  form.InstallScriptLoad();
  const Text folder = ScratchFolder();
  ASSERT_TRUE(testsupport::FileWrite(folder + u"\\a.txt", "an older and longer a"));
  EXPECT_TRUE(form.FilesExtract(folder));
  EXPECT_EQ(FileRead(folder + u"\\a.txt"), "new a");
  EXPECT_EQ(FileRead(folder + u"\\sub\\b.txt"), "b");
}

TEST(FilesExtract, AFileThatCannotBeWrittenFailsAndTheOthersAreWritten) {
  // Files are written while later ones are decoded: a failed write still makes the result
  // false, whichever file it is, and leaves nothing half-written.
  for (int blocked = 0; blocked < 3; ++blocked) {
    SCOPED_TRACE(blocked);
    const Text names[] = {u"a.txt", u"b.txt", u"c.txt"};
    TForm1 form;
    PayloadSet(form, {{u"INSTALLSCRIPT", "a.txt\r\nb.txt\r\nc.txt"},
                      {u"F0", Container(std::string(300000, 'a'))},
                      {u"F1", Container("b")},
                      {u"F2", Container("c")}});
    form.InstallScriptLoad();
    const Text folder = ScratchFolder();
    // A folder where the file should go: the file cannot take its place.
    ASSERT_TRUE(win::CreateDirectoryW((folder + u"\\" + names[blocked]).c_str(), nullptr));
    EXPECT_FALSE(form.FilesExtract(folder));
    for (int i = 0; i < 3; ++i) {
      if (i == blocked) continue;
      EXPECT_EQ(FileRead(folder + u"\\" + names[i]), i == 0 ? std::string(300000, 'a') : std::string(1, 'a' + i));
    }
    EXPECT_EQ(FileRead(folder + u"\\" + names[blocked] + u".part"), std::nullopt);
    win::DWORD attributes = win::GetFileAttributesW((folder + u"\\" + names[blocked]).c_str());
    EXPECT_NE(attributes & win::FILE_ATTRIBUTE_DIRECTORY, 0u);
  }
}

TEST(FilesExtract, AFileNamedLikeAnotherFilesPartIsKept) {
  // Each file is written aside before it takes its place: an entry named like that file
  // aside, written just before, and a file of the user's with such a name both stay as they are.
  TForm1 form;
  PayloadSet(form, {{u"INSTALLSCRIPT", "x.part\r\nx\r\ny\r\n"},
                    {u"F0", Container("x.part's own")},
                    {u"F1", Container("x")},
                    {u"F2", Container("y")}});
  form.InstallScriptLoad();
  const Text folder = ScratchFolder();
  ASSERT_TRUE(testsupport::FileWrite(folder + u"\\y.part", "the user's"));
  EXPECT_TRUE(form.FilesExtract(folder));
  EXPECT_EQ(FileRead(folder + u"\\x.part"), "x.part's own");
  EXPECT_EQ(FileRead(folder + u"\\x"), "x");
  EXPECT_EQ(FileRead(folder + u"\\y"), "y");
  EXPECT_EQ(FileRead(folder + u"\\y.part"), "the user's");
  EXPECT_EQ(FileRead(folder + u"\\x.part-1"), std::nullopt);
  EXPECT_EQ(FileRead(folder + u"\\y.part-1"), std::nullopt);
}

TEST(FilesExtract, AnEmptyScriptStops) {
  TForm1 form;
  PayloadSet(form, {{u"INSTALLSCRIPT", "// only comments\r\n\r\n// and nothing else\r\n"}});
  form.InstallScriptLoad();
  EXPECT_EQ(form.FilesList.Count(), 0);
  try {
    form.FilesExtract(ScratchFolder());
    FAIL() << "no stop";
  } catch (const EDebugStop& e) {
    EXPECT_EQ(e.Message(), u"Error: ");
  }
}

namespace {

// A container whose file LZMA2 stores as it is (uncompressed chunks of up to 64 KiB): a
// flipped byte in it decodes without any error.
std::string StoredContainer(const std::string& aPlain) {
  std::string c;
  for (int i = 0; i < 8; ++i) c.push_back(static_cast<char>((std::uint64_t{aPlain.size()} >> (8 * i)) & 0xFF));
  c.push_back(26);
  for (std::size_t at = 0; at < aPlain.size(); at += 65536) {
    const std::size_t n = std::min<std::size_t>(65536, aPlain.size() - at);
    c.push_back(at == 0 ? 1 : 2);
    c.push_back(static_cast<char>((n - 1) >> 8));
    c.push_back(static_cast<char>((n - 1) & 0xFF));
    c += aPlain.substr(at, n);
  }
  return c + std::string(1, '\0');
}

std::string Checksums(const std::string& aScript, const std::vector<std::string>& aFiles) {
  TPayloadChecksums sums;
  sums.Script = Sha256Of(aScript.data(), aScript.size());
  for (const std::string& f : aFiles) sums.Files.push_back(Sha256Of(f.data(), f.size()));
  return PayloadChecksumsBuild(sums);
}

}  // namespace

TEST(FilesExtract, MoreFilesThanThreadsWithFailuresBetweenThemWritesTheOthers) {
  // Twelve files, more than any machine's extraction threads; the failures stand between
  // good files: a missing container, a corrupt one, and one that decodes without an error
  // into bytes that differ from their checksum.
  std::string script;
  std::vector<std::string> plain;
  std::vector<std::pair<Text, std::string>> resources;
  for (int k = 0; k < 12; ++k) {
    script += "file" + std::to_string(k) + ".bin\r\n";
    plain.push_back(std::string(1000 + 40000 * (k % 4), static_cast<char>('a' + k)) + std::to_string(k));
    resources.push_back({u"F" + T(std::to_string(k)), StoredContainer(plain.back())});
  }
  resources.erase(resources.begin() + 3);  // "F3" missing
  resources[5].second = resources[5].second.substr(0, 20);  // "F6" cut short
  resources[7].second[300] ^= 0x01;  // "F8": one flipped byte, decodes without an error
  resources.push_back({u"INSTALLSCRIPT", script});
  resources.push_back({kPayloadChecksumsResource, Checksums(script, plain)});
  TForm1 form;
  PayloadSet(form, resources);
  form.InstallScriptLoad();
  const Text folder = ScratchFolder();
  EXPECT_FALSE(form.FilesExtract(folder));
  for (int k = 0; k < 12; ++k) {
    SCOPED_TRACE(k);
    const Text name = folder + u"\\file" + T(std::to_string(k)) + u".bin";
    if (k == 3 || k == 6 || k == 8) {
      EXPECT_EQ(FileRead(name), std::nullopt);
      EXPECT_EQ(FileRead(name + u".part"), std::nullopt);
    } else {
      EXPECT_EQ(FileRead(name), plain[static_cast<size_t>(k)]);
    }
  }
}

TEST(FilesExtract, FilesTooLargeToBeDecodedTogetherAreAllWrittenWithTheSmallOnesBesideThem) {
  // Two files that the memory budget lets be decoded only one after the other (each holds
  // its decoded bytes and a dictionary as large), the larger listed last, with small files
  // before, between and after them.
  const std::vector<std::string> plain = {"first", std::string(12u << 20, 'b'), "between",
                                          std::string((13u << 20) + 1, 'c'), "after", "last"};
  std::string script;
  std::vector<std::pair<Text, std::string>> resources;
  for (std::size_t k = 0; k < plain.size(); ++k) {
    script += "f" + std::to_string(k) + "\r\n";
    resources.push_back({u"F" + T(std::to_string(k)), StoredContainer(plain[k])});
  }
  resources.push_back({u"INSTALLSCRIPT", script});
  resources.push_back({kPayloadChecksumsResource, Checksums(script, plain)});
  TForm1 form;
  PayloadSet(form, resources);
  form.InstallScriptLoad();
  const Text folder = ScratchFolder();
  EXPECT_TRUE(form.FilesExtract(folder));
  for (std::size_t k = 0; k < plain.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_TRUE(FileRead(folder + u"\\f" + T(std::to_string(k))) == plain[k]);
  }
}

TEST(FilesExtract, ChecksumsThatMatchAreAcceptedAndAnInstallerWithoutThemExtractsAsBefore) {
  const std::string script = "a.txt\r\nb.txt\r\n";
  for (bool withChecksums : {true, false}) {
    SCOPED_TRACE(withChecksums);
    std::vector<std::pair<Text, std::string>> resources = {
        {u"INSTALLSCRIPT", script}, {u"F0", Container("a")}, {u"F1", StoredContainer("bb")}};
    if (withChecksums) resources.push_back({kPayloadChecksumsResource, Checksums(script, {"a", "bb"})});
    TForm1 form;
    PayloadSet(form, resources);
    form.InstallScriptLoad();
    const Text folder = ScratchFolder();
    EXPECT_TRUE(form.FilesExtract(folder));
    EXPECT_EQ(FileRead(folder + u"\\a.txt"), "a");
    EXPECT_EQ(FileRead(folder + u"\\b.txt"), "bb");
  }
}

TEST(InstallScript, ADamagedScriptRaisesBeforeAnythingIsListed) {
  const std::string script = "a.txt\r\nb.txt\r\n";
  struct Case {
    const char* Name;
    std::string Script;
    std::string Sums;
  };
  const Case cases[] = {
      {"a flipped byte", "a.txt\r\nc.txt\r\n", Checksums(script, {"a", "b"})},
      {"an entry more", script + "c.txt\r\n", Checksums(script + "c.txt\r\n", {"a", "b"})},
      {"checksums cut short", script, Checksums(script, {"a", "b"}).substr(0, 60)},
      {"checksums of another kind", script, "SHA256 a.txt 0123\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TForm1 form;
    PayloadSet(form, {{u"INSTALLSCRIPT", c.Script},
                      {u"F0", Container("a")},
                      {u"F1", Container("b")},
                      {kPayloadChecksumsResource, c.Sums}});
    EXPECT_THROW(form.InstallScriptLoad(), Exception);
    EXPECT_EQ(form.FilesList.Count(), 0);
  }
}

TEST(FilesExtract, AByteFlippedAnywhereInTheContainersNeverWritesAWrongFile) {
  // Every 2 KiB of every container, and every byte of their headers: the
  // extraction either fails, writing only files that are right, or writes every file right.
  std::string text;
  for (int i = 0; text.size() < 30000; ++i) text += "<item id=\"" + std::to_string(i * 7919 % 1000) + "\"/>\r\n";
  std::string noise;
  for (unsigned x = 1; noise.size() < 70000;) noise.push_back(static_cast<char>((x = x * 1103515245u + 12345u) >> 16));
  const std::string script = "Data\\Items.xml\r\nMedia\\Noise.bin\r\nSmall.txt\r\n";
  const std::vector<std::string> plain = {text, noise, "small"};
  const std::vector<std::string> containers = {Container(text), StoredContainer(noise), Container("small")};
  const std::vector<Text> names = {u"\\Data\\Items.xml", u"\\Media\\Noise.bin", u"\\Small.txt"};
  int failed = 0;
  for (std::size_t c = 0; c < containers.size(); ++c) {
    for (std::size_t at = 0; at < containers[c].size(); at += at < 16 ? 1 : 2039) {
      SCOPED_TRACE(testing::Message() << "container " << c << ", byte " << at);
      std::vector<std::pair<Text, std::string>> resources = {{u"INSTALLSCRIPT", script},
                                                             {kPayloadChecksumsResource, Checksums(script, plain)}};
      for (std::size_t k = 0; k < containers.size(); ++k) {
        std::string bytes = containers[k];
        if (k == c) bytes[at] = static_cast<char>(bytes[at] ^ 0x04);
        resources.push_back({u"F" + T(std::to_string(k)), bytes});
      }
      TForm1 form;
      PayloadSet(form, resources);
      form.InstallScriptLoad();
      const Text folder = ScratchFolder();
      const bool ok = form.FilesExtract(folder);
      if (!ok) ++failed;
      for (std::size_t k = 0; k < plain.size(); ++k) {
        const std::optional<std::string> written = FileRead(folder + names[k]);
        if (ok || k != c) {
          EXPECT_EQ(written, plain[k]) << "file " << k;
        } else {
          EXPECT_TRUE(!written || *written == plain[k]) << "file " << k << " written wrong";
        }
      }
    }
  }
  EXPECT_GT(failed, 0);
}
