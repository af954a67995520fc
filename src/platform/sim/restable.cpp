#include "platform/sim/restable.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "platform/sim/machine.h"
#include "platform/utf.h"

namespace sim {

namespace {

const char kMagic[8] = {'O', 'R', 'V', 'R', 'E', 'S', '0', '1'};
constexpr size_t kTrailerSize = 8 + 8 + 4 + 4;  // magic, directory offset, count, reserved

void PutU16(std::string& s, std::uint16_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>(v >> 8));
}
void PutU32(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void PutU64(std::string& s, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
std::uint64_t GetU(const unsigned char* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
void PutId(std::string& s, const ResourceId& id) {
  PutU16(s, id.Id);
  PutU16(s, static_cast<std::uint16_t>(id.Name.size()));
  for (char16_t c : id.Name) PutU16(s, c);
}

}  // namespace

bool ResourceId::Matches(const ResourceId& aOther) const {
  if (Id || aOther.Id) return Id == aOther.Id;
  return UpcaseText(Name) == UpcaseText(aOther.Name);
}

void ResourceTable::Add(ResourceId aType, ResourceId aName, win::WORD aLanguage, std::string aData) {
  FPending.push_back({std::move(aType), std::move(aName), aLanguage, std::move(aData), std::string()});
}

bool ResourceTable::Remove(const ResourceId& aType, const ResourceId& aName, win::WORD aLanguage) {
  auto it = std::find_if(FPending.begin(), FPending.end(), [&](const Pending& p) {
    return p.Type.Matches(aType) && p.Name.Matches(aName) && p.Language == aLanguage;
  });
  if (it == FPending.end()) return false;
  FPending.erase(it);
  return true;
}

void ResourceTable::Set(ResourceId aType, ResourceId aName, win::WORD aLanguage, std::string aData) {
  Remove(aType, aName, aLanguage);
  Add(std::move(aType), std::move(aName), aLanguage, std::move(aData));
}

void ResourceTable::AddFile(ResourceId aType, ResourceId aName, win::WORD aLanguage, std::string aHostPath) {
  FPending.push_back({std::move(aType), std::move(aName), aLanguage, std::string(), std::move(aHostPath)});
}

void ResourceTable::AppendTo(const std::string& aHostPath) const {
  std::fstream f(aHostPath, std::ios::in | std::ios::out | std::ios::binary | std::ios::ate);
  if (!f) throw std::runtime_error("cannot open " + aHostPath);
  std::uint64_t pos = static_cast<std::uint64_t>(f.tellp());
  auto pad = [&] {
    while (pos % 8) {
      f.put(0);
      ++pos;
    }
  };
  std::string directory;
  for (const auto& p : FPending) {
    pad();
    std::uint64_t start = pos;
    if (p.HostPath.empty()) {
      f.write(p.Data.data(), static_cast<std::streamsize>(p.Data.size()));
      pos += p.Data.size();
    } else {
      std::ifstream in(p.HostPath, std::ios::binary);
      if (!in) throw std::runtime_error("cannot read " + p.HostPath);
      std::vector<char> buf(1 << 20);
      while (in) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        std::streamsize n = in.gcount();
        if (n <= 0) break;
        f.write(buf.data(), n);
        pos += static_cast<std::uint64_t>(n);
      }
      if (in.bad()) throw std::runtime_error("cannot read " + p.HostPath);
    }
    PutId(directory, p.Type);
    PutId(directory, p.Name);
    PutU16(directory, p.Language);
    PutU64(directory, start);
    PutU64(directory, pos - start);
  }
  pad();
  std::uint64_t dirOffset = pos;
  f.write(directory.data(), static_cast<std::streamsize>(directory.size()));
  std::string trailer(kMagic, 8);
  PutU64(trailer, dirOffset);
  PutU32(trailer, static_cast<std::uint32_t>(FPending.size()));
  PutU32(trailer, 0);
  f.write(trailer.data(), static_cast<std::streamsize>(trailer.size()));
  f.flush();
  if (!f) throw std::runtime_error("cannot write " + aHostPath);
}

std::optional<std::vector<ResourceEntry>> ResourceTable::Read(const std::string& aHostPath) {
  std::ifstream f(aHostPath, std::ios::binary | std::ios::ate);
  if (!f) return std::nullopt;
  std::uint64_t size = static_cast<std::uint64_t>(f.tellg());
  if (size < kTrailerSize) return std::nullopt;
  unsigned char trailer[kTrailerSize];
  f.seekg(static_cast<std::streamoff>(size - kTrailerSize));
  f.read(reinterpret_cast<char*>(trailer), kTrailerSize);
  if (!f || std::memcmp(trailer, kMagic, 8) != 0) return std::nullopt;
  std::uint64_t dirOffset = GetU(trailer + 8, 8);
  std::uint32_t count = static_cast<std::uint32_t>(GetU(trailer + 16, 4));
  if (dirOffset > size - kTrailerSize) return std::nullopt;
  std::uint64_t dirSize = size - kTrailerSize - dirOffset;
  std::vector<unsigned char> dir(dirSize);
  f.seekg(static_cast<std::streamoff>(dirOffset));
  f.read(reinterpret_cast<char*>(dir.data()), static_cast<std::streamsize>(dirSize));
  if (!f) return std::nullopt;
  std::vector<ResourceEntry> out;
  size_t p = 0;
  auto need = [&](size_t n) { return p + n <= dir.size(); };
  auto getId = [&](ResourceId& id) {
    if (!need(4)) return false;
    id.Id = static_cast<win::WORD>(GetU(&dir[p], 2));
    size_t len = GetU(&dir[p + 2], 2);
    p += 4;
    if (!need(len * 2)) return false;
    for (size_t k = 0; k < len; ++k) id.Name.push_back(static_cast<char16_t>(GetU(&dir[p + 2 * k], 2)));
    p += len * 2;
    return true;
  };
  for (std::uint32_t k = 0; k < count; ++k) {
    ResourceEntry e;
    if (!getId(e.Type) || !getId(e.Name) || !need(18)) return std::nullopt;
    e.Language = static_cast<win::WORD>(GetU(&dir[p], 2));
    e.Offset = GetU(&dir[p + 2], 8);
    e.Size = GetU(&dir[p + 10], 8);
    p += 18;
    if (e.Offset > dirOffset || e.Size > dirOffset - e.Offset) return std::nullopt;
    out.push_back(std::move(e));
  }
  return out;
}

// ---- version resources --------------------------------------------------------------------

namespace {

// One node of a version block: wLength, wValueLength, wType, key, padding, value, padding,
// children. Lengths are in bytes except a text value's, which counts characters.
std::string VersionNode(const Text& aKey, const std::string& aValue, win::WORD aValueLength, bool bText,
                        const std::string& aChildren) {
  std::string s(6, '\0');
  for (char16_t c : aKey) PutU16(s, c);
  PutU16(s, 0);
  while (s.size() % 4) s.push_back(0);
  s += aValue;
  while (s.size() % 4) s.push_back(0);
  s += aChildren;
  s[0] = static_cast<char>(s.size() & 0xFF);
  s[1] = static_cast<char>(s.size() >> 8);
  s[2] = static_cast<char>(aValueLength & 0xFF);
  s[3] = static_cast<char>(aValueLength >> 8);
  s[4] = bText ? 1 : 0;
  s[5] = 0;
  return s;
}

std::string TextValue(const Text& t) {
  std::string s;
  for (char16_t c : t) PutU16(s, c);
  PutU16(s, 0);
  return s;
}

std::string Padded(std::string s) {
  while (s.size() % 4) s.push_back(0);
  return s;
}

}  // namespace

std::string VersionResourceBuild(win::WORD aMajor, win::WORD aMinor, win::WORD aRelease, win::WORD aBuild,
                                 const Text& aDescription, bool bLibrary) {
  std::string fixed;
  PutU32(fixed, 0xFEEF04BD);                         // dwSignature
  PutU32(fixed, 0x00010000);                         // dwStrucVersion
  PutU32(fixed, (std::uint32_t(aMajor) << 16) | aMinor);  // dwFileVersionMS
  PutU32(fixed, (std::uint32_t(aRelease) << 16) | aBuild);
  PutU32(fixed, (std::uint32_t(aMajor) << 16) | aMinor);  // dwProductVersionMS
  PutU32(fixed, (std::uint32_t(aRelease) << 16) | aBuild);
  PutU32(fixed, 0x3F);                               // dwFileFlagsMask
  PutU32(fixed, 0);                                  // dwFileFlags
  PutU32(fixed, 0x00040004);                         // dwFileOS: VOS_NT_WINDOWS32
  PutU32(fixed, bLibrary ? 2 : 1);                   // dwFileType: VFT_DLL / VFT_APP
  PutU32(fixed, 0);                                  // dwFileSubtype
  PutU32(fixed, 0);                                  // dwFileDateMS
  PutU32(fixed, 0);                                  // dwFileDateLS
  char v[64];
  std::snprintf(v, sizeof v, "%u.%u.%u.%u", aMajor, aMinor, aRelease, aBuild);
  Text version = Utf8ToText(v);
  auto str = [&](const Text& key, const Text& value) {
    return Padded(VersionNode(key, TextValue(value), static_cast<win::WORD>(value.size() + 1), true, std::string()));
  };
  std::string strings = str(u"FileDescription", aDescription) + str(u"FileVersion", version) +
                        str(u"ProductName", aDescription) + str(u"ProductVersion", version);
  std::string table = Padded(VersionNode(u"040904B0", std::string(), 0, true, strings));
  std::string stringFileInfo = Padded(VersionNode(u"StringFileInfo", std::string(), 0, true, table));
  std::string translation;
  PutU16(translation, 0x0409);
  PutU16(translation, 0x04B0);
  std::string var = Padded(VersionNode(u"Translation", translation, 4, false, std::string()));
  std::string varFileInfo = Padded(VersionNode(u"VarFileInfo", std::string(), 0, true, var));
  return VersionNode(u"VS_VERSION_INFO", fixed, static_cast<win::WORD>(fixed.size()), false, stringFileInfo + varFileInfo);
}

}  // namespace sim
