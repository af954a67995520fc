// sample-product FOLDER STANDIN: writes a sample product for demos and benchmarks into a
// folder:
//   FOLDER/InstallScript.txt   an install script shaped like the shipped one (85 lines:
//                              27 comments, 20 empty lines, 38 entries)
//   FOLDER/files/...           the files it names, of realistic kinds and sizes; Vexlon.exe is
//                              the program STANDIN with a version resource appended
// The output depends on nothing but this program and STANDIN, so every build writes the same
// bytes.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/sim/restable.h"
#include "platform/win32api.h"

namespace fs = std::filesystem;

namespace {

enum class Kind { Exe, Text, Xml, Media, Icon, Product };

struct Item {
  const char* Line;  // an entry, a comment ("//...") or empty
  Kind What = Kind::Exe;
  std::size_t Size = 0;
};

constexpr std::size_t KB = 1024, MB = 1024 * 1024;
// The version the stand-in product carries.
constexpr win::WORD ProductVersion[4] = {4, 2, 1, 77};

// The script, line by line.
const std::vector<Item>& Script() {
  static const std::vector<Item> s = {
      {"// Orvanta install script"},
      {"// One file per line, relative to the install folder; entry k travels as resource F<k>."},
      {"// Inserting or removing an entry renumbers every later resource."},
      {""},
      {"// ---- Minimal files to load the user interface ----"},
      {"Vexlon.exe", Kind::Product},
      {"VexlonUI.exe", Kind::Exe, 7 * MB + 200 * KB},
      {"VexlonEngine.dll", Kind::Exe, 12 * MB},
      {"UI\\Engine\\Shaders.pak", Kind::Exe, 3 * MB + 100 * KB},
      {"UI\\Engine\\Fonts.pak", Kind::Media, 2 * MB + 600 * KB},
      {"UI\\Movies\\Intro.vxm", Kind::Media, 6 * MB + 400 * KB},
      {"UI\\Movies\\Loading.vxm", Kind::Media, 1 * MB + 700 * KB},
      {"UI\\Strings.en.txt", Kind::Text, 420 * KB},
      {""},
      {"// The user interface loads these on start as well."},
      {"UI\\Layout.xml", Kind::Xml, 180 * KB},
      {"//UI\\Layout.v3.xml"},
      {"//UI\\Movies\\Intro.v3.vxm"},
      {""},
      {""},
      {"// ---- Other files ----"},
      {"VexlonService.exe", Kind::Exe, 4 * MB + 500 * KB},
      {"VexlonUpdate.exe", Kind::Exe, 1 * MB + 200 * KB},
      {"Media\\Introduction.mp4", Kind::Media, 11 * MB + 300 * KB},
      {""},
      {"// Fingerprint readers"},
      {"Biometrics\\FingerprintA.dll", Kind::Exe, 1 * MB + 800 * KB},
      {"Biometrics\\FingerprintB.dll", Kind::Exe, 2 * MB + 100 * KB},
      {"//Biometrics\\FingerprintLegacy.dll"},
      {""},
      {"// Cryptography"},
      {"Crypto\\VexCrypt.dll", Kind::Exe, 3 * MB + 300 * KB},
      {"Crypto\\VexCryptSsl.dll", Kind::Exe, 900 * KB},
      {""},
      {"// Shell extensions for both architectures"},
      {"Shell\\x86\\VexlonShell.dll", Kind::Exe, 1 * MB + 400 * KB},
      {"Shell\\x64\\VexlonShell.dll", Kind::Exe, 1 * MB + 900 * KB},
      {"//Shell\\VexlonShellOld.dll"},
      {""},
      {"// Settings and documents"},
      {"Config\\Defaults.xml", Kind::Xml, 96 * KB},
      {"Docs\\License.txt", Kind::Text, 48 * KB},
      {"Docs\\Read Me.txt", Kind::Text, 12 * KB},
      {"Docs\\Help.xml", Kind::Xml, 1 * MB + 300 * KB},
      {""},
      {"// Icons"},
      {"Icons\\Vexlon.ico", Kind::Icon, 120 * KB},
      {"Icons\\Tray.ico", Kind::Icon, 40 * KB},
      {"Icons\\Tray Busy.ico", Kind::Icon, 40 * KB},
      {"Icons\\Tray Alert.ico", Kind::Icon, 40 * KB},
      {"Icons\\Folder.ico", Kind::Icon, 66 * KB},
      {"Icons\\Locked.ico", Kind::Icon, 66 * KB},
      {"Icons\\Unlocked.ico", Kind::Icon, 66 * KB},
      {"Icons\\Settings.ico", Kind::Icon, 33 * KB},
      {"Icons\\Help.ico", Kind::Icon, 33 * KB},
      {"//Icons\\Update.ico"},
      {"Icons\\Fingerprint.ico", Kind::Icon, 90 * KB},
      {"Icons\\Shield.ico", Kind::Icon, 90 * KB},
      {"//Icons\\Old.ico"},
      {"//Icons\\OldTray.ico"},
      {""},
      {""},
      {"// ---- Files that need administrative rights ----"},
      {"// The installer copies the driver for the Windows architecture into the system's"},
      {"// driver folder; both stay in the install folder too."},
      {"Drivers\\Vexlon\\x86\\Vexlon.sys", Kind::Exe, 310 * KB},
      {"Drivers\\Vexlon\\x64\\Vexlon.sys", Kind::Exe, 380 * KB},
      {"Drivers\\Vexlon\\Vexlon.inf", Kind::Text, 6 * KB},
      {"Drivers\\Vexlon\\x86\\Vexlon.cat", Kind::Media, 11 * KB},
      {"Drivers\\Vexlon\\x64\\Vexlon.cat", Kind::Media, 11 * KB},
      {""},
      {""},
      {"// ---- Files no longer shipped ----"},
      {"//VexlonHelper.exe"},
      {"//Drivers\\Vexlon\\ia64\\Vexlon.sys"},
      {"//Media\\Introduction.wmv"},
      {"//Crypto\\VexCryptOld.dll"},
      {"//Docs\\Changes.txt"},
      {""},
      {""},
      {""},
      {""},
      {""},
      {""},
      {""},
  };
  return s;
}

struct Random {
  std::uint64_t X;
  explicit Random(const std::string& aSeed) : X(0xCBF29CE484222325ull) {
    for (unsigned char c : aSeed) X = (X ^ c) * 0x100000001B3ull;
    if (!X) X = 1;
  }
  std::uint32_t Next() {
    X ^= X << 13;
    X ^= X >> 7;
    X ^= X << 17;
    return static_cast<std::uint32_t>(X >> 16);
  }
  std::uint32_t Below(std::uint32_t n) { return Next() % n; }
};

const char* const kWords[] = {"vexlon", "folder", "protect", "the", "a", "file", "encrypt", "key", "user", "reader",
                              "finger", "service", "update", "status", "error", "open", "close", "lock", "unlock",
                              "settings", "window", "driver", "install", "version", "is", "of", "to", "and", "for",
                              "not", "with", "access", "secure", "volume", "backup", "restore"};
constexpr std::size_t kWordCount = sizeof kWords / sizeof kWords[0];

void Words(std::string& s, Random& r, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    s += kWords[r.Below(kWordCount) % (r.Below(2) ? kWordCount : 12)];
    s += r.Below(12) == 0 ? ". " : " ";
  }
}

// Executable-like bytes: code with a skewed byte mix and repeated snippets, string tables,
// zero padding and embedded compressed resources.
std::string ExeBytes(std::size_t aSize, Random& r) {
  std::string s;
  s.reserve(aSize + 64 * KB);
  s += "MZ";
  s.append(58, '\0');
  s += "PE";
  static const unsigned char common[] = {0x8B, 0x89, 0x48, 0xE8, 0x83, 0xFF, 0x00, 0x4C, 0x24, 0x0F,
                                         0x85, 0x84, 0xC3, 0x74, 0x75, 0xC7, 0x45, 0x8D, 0x33, 0xC0};
  std::vector<std::string> snippets;
  while (s.size() < aSize) {
    std::uint32_t pick = r.Below(100);
    std::size_t len = 512 + r.Below(16 * KB);
    if (pick < 62) {
      for (std::size_t i = 0; i < len; ++i) {
        if (!snippets.empty() && r.Below(24) == 0) {
          s += snippets[r.Below(static_cast<std::uint32_t>(snippets.size()))];
        } else if (r.Below(3)) {
          s.push_back(static_cast<char>(common[r.Below(sizeof common) % (r.Below(2) ? sizeof common : 6)]));
        } else {
          s.push_back(static_cast<char>(r.Below(256)));
        }
      }
      if (snippets.size() < 400) snippets.push_back(s.substr(s.size() - 24 - r.Below(40)));
    } else if (pick < 77) {
      std::string t;
      Words(t, r, len / 7);
      for (char c : t) {
        s.push_back(c);
        if (pick < 70) s.push_back('\0');  // UTF-16 strings
      }
    } else if (pick < 87) {
      s.append(len / 2, '\0');
    } else {
      for (std::size_t i = 0; i < len; ++i) s.push_back(static_cast<char>(r.Next()));
    }
  }
  s.resize(aSize);
  return s;
}

std::string TextBytes(std::size_t aSize, Random& r, bool bXml) {
  std::string s = bXml ? "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<vexlon>\r\n" : "";
  int n = 0;
  while (s.size() < aSize) {
    if (bXml) {
      s += "  <item id=\"" + std::to_string(n++) + "\" kind=\"" + kWords[r.Below(kWordCount)] + "\">";
      Words(s, r, 3 + r.Below(12));
      s += "</item>\r\n";
    } else {
      Words(s, r, 8 + r.Below(14));
      s += "\r\n";
      if (r.Below(6) == 0) s += "\r\n";
    }
  }
  s.resize(aSize);
  return s;
}

std::string MediaBytes(std::size_t aSize, Random& r) {
  std::string s(aSize, '\0');
  for (std::size_t i = 0; i + 4 <= aSize; i += 4) {
    std::uint32_t v = r.Next();
    for (int k = 0; k < 4; ++k) s[i + k] = static_cast<char>(v >> (8 * k));
  }
  return s;
}

// Icons: headers, then half smooth bitmaps (which compress) and half compressed images.
std::string IconBytes(std::size_t aSize, Random& r) {
  std::string s("\0\0\1\0\4\0", 6);
  std::uint32_t colour = r.Next();
  while (s.size() < aSize / 2) {
    if (r.Below(40) == 0) colour = r.Next();
    for (int k = 0; k < 4; ++k) s.push_back(static_cast<char>(colour >> (8 * k)));
  }
  s += MediaBytes(aSize - s.size(), r);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: sample-product FOLDER STANDIN\n");
    return 2;
  }
  const fs::path standIn = argv[2];
  fs::path root = argv[1];
  int comments = 0, empty = 0, entries = 0;
  std::string script;
  for (const Item& i : Script()) {
    std::string line = i.Line;
    if (line.empty()) ++empty;
    else if (line.rfind("//", 0) == 0) ++comments;
    else ++entries;
    script += line + "\r\n";
  }
  if (comments != 27 || empty != 20 || entries != 38) {
    std::fprintf(stderr, "sample-product: the script has %d comments, %d empty lines, %d entries\n", comments, empty,
                 entries);
    return 1;
  }
  // The shipped script's last line has no line end.
  script.resize(script.size() - 2);
  std::error_code ec;
  fs::remove_all(root / "files", ec);
  fs::create_directories(root / "files");
  std::ofstream(root / "InstallScript.txt", std::ios::binary) << script;
  for (const Item& i : Script()) {
    std::string line = i.Line;
    if (line.empty() || line.rfind("//", 0) == 0) continue;
    std::string rel = line;
    for (char& c : rel)
      if (c == '\\') c = '/';
    fs::path target = root / "files" / rel;
    fs::create_directories(target.parent_path());
    Random r(line);
    std::string data;
    switch (i.What) {
      case Kind::Exe: data = ExeBytes(i.Size, r); break;
      case Kind::Text: data = TextBytes(i.Size, r, false); break;
      case Kind::Xml: data = TextBytes(i.Size, r, true); break;
      case Kind::Media: data = MediaBytes(i.Size, r); break;
      case Kind::Icon: data = IconBytes(i.Size, r); break;
      case Kind::Product: {
        std::ifstream in(standIn, std::ios::binary);
        data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in || data.empty()) {
          std::fprintf(stderr, "sample-product: cannot read %s\n", standIn.string().c_str());
          return 1;
        }
        break;
      }
    }
    std::ofstream f(target, std::ios::binary);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
    f.close();
    if (!f) {
      std::fprintf(stderr, "sample-product: cannot write %s\n", target.string().c_str());
      return 1;
    }
    if (i.What == Kind::Product) {
      // The product's version, as the installed program reports it.
      sim::ResourceTable table;
      table.Add(sim::ResourceId(win::RT_VERSION_ID), sim::ResourceId(win::WORD(1)), 0x0409,
                sim::VersionResourceBuild(ProductVersion[0], ProductVersion[1], ProductVersion[2], ProductVersion[3],
                                          u"Vexlon", false));
      try {
        table.AppendTo(target.string());
      } catch (const std::exception& x) {
        std::fprintf(stderr, "sample-product: cannot write %s: %s\n", target.string().c_str(), x.what());
        return 1;
      }
      fs::permissions(target, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                      fs::perm_options::add);
    }
  }
  return 0;
}
