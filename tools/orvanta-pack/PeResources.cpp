#include "PeResources.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <vector>

#include "ContainerFile.h"

namespace pack {

namespace {

std::uint32_t Get(const std::string& s, std::size_t at, int bytes) {
  if (at + static_cast<std::size_t>(bytes) > s.size()) throw PackError("the stub is cut short: not a Windows executable");
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
  return v;
}
void Set(std::string& s, std::size_t at, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Put(std::string& s, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
std::uint32_t Align(std::uint64_t v, std::uint32_t a) {
  return static_cast<std::uint32_t>((v + a - 1) / a * a);
}

// A directory key: names sort before numbers, names by their upper-case text.
struct Key {
  std::uint16_t Id;
  Text Name;
  bool operator<(const Key& o) const {
    if ((Id == 0) != (o.Id == 0)) return Id == 0;
    return Id ? Id < o.Id : Name < o.Name;
  }
};
Key KeyOf(std::uint16_t aId, const Text& aName) {
  Text up = aName;
  for (char16_t& c : up)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return {aId, aId ? Text() : up};
}

std::uint64_t DataSize(const PeResource& r) {
  if (r.HostPath.empty()) return r.Data.size();
  struct stat st;
  if (::stat(r.HostPath.c_str(), &st) != 0) throw PackError("cannot read " + r.HostPath);
  return static_cast<std::uint64_t>(st.st_size);
}

}  // namespace

PeStub PeStubRead(const std::string& aStub) {
  PeStub stub;
  std::ifstream in(aStub, std::ios::binary);
  if (!in) throw PackError("cannot read the stub " + aStub);
  std::string& image = stub.Image;
  image.assign((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto notPe = [&] { return PackError("--stub " + aStub + ": not a Windows executable"); };
  if (image.size() < 0x40 || image.compare(0, 2, "MZ") != 0) throw notPe();
  std::size_t pe = Get(image, 0x3C, 4);
  if (pe + 24 > image.size() || image.compare(pe, 4, std::string("PE\0\0", 4)) != 0) throw notPe();
  stub.Coff = pe + 4;
  stub.Sections = Get(image, stub.Coff + 2, 2);
  std::uint32_t optSize = Get(image, stub.Coff + 16, 2);
  stub.Opt = stub.Coff + 20;
  std::uint32_t magic = Get(image, stub.Opt, 2);
  if (magic != 0x10B && magic != 0x20B) throw notPe();
  stub.SectionAlign = Get(image, stub.Opt + 32, 4);
  stub.FileAlign = Get(image, stub.Opt + 36, 4);
  std::uint32_t sizeOfHeaders = Get(image, stub.Opt + 60, 4);
  stub.Dirs = stub.Opt + (magic == 0x10B ? 96 : 112);
  std::uint32_t dirCount = Get(image, stub.Dirs - 4, 4);
  if (dirCount < 5 || stub.FileAlign == 0 || stub.SectionAlign == 0) throw notPe();
  // What the loader needs to map it: every section and data directory inside the file and
  // the image, none on top of another. A stub that breaks this would give an installer that
  // does not start, or one whose new section lands on its code.
  auto damaged = [&](const std::string& aWhy) {
    return PackError("--stub " + aStub + ": not a Windows executable (" + aWhy + ")");
  };
  auto powerOfTwo = [](std::uint32_t v) { return v && !(v & (v - 1)); };
  if (!powerOfTwo(stub.FileAlign) || stub.FileAlign > 0x10000 || !powerOfTwo(stub.SectionAlign))
    throw damaged("impossible alignments");
  if (dirCount > 16 || stub.Dirs + 8 * std::uint64_t{dirCount} > stub.Opt + optSize)
    throw damaged("the data directories do not fit the optional header");
  const std::uint32_t sizeOfImage = Get(image, stub.Opt + 56, 4);
  if (sizeOfImage > 0x7FFFFFFF || sizeOfHeaders > image.size()) throw damaged("impossible image or header size");
  if (stub.Sections == 0) throw damaged("no sections");
  if (Get(image, stub.Dirs + 2 * 8, 4) || Get(image, stub.Dirs + 2 * 8 + 4, 4))
    throw PackError("--stub " + aStub + ": already carries resources");
  if (Get(image, stub.Dirs + 4 * 8, 4))
    throw PackError("--stub " + aStub + ": is signed; adding resources would break it");

  std::size_t table = stub.Opt + optSize;
  std::uint64_t firstRaw = image.size();
  using Range = std::pair<std::uint64_t, std::uint64_t>;  // [first, end)
  std::vector<Range> raws, virtuals;
  for (std::uint32_t k = 0; k < stub.Sections; ++k) {
    std::size_t h = table + 40 * k;
    std::uint32_t va = Get(image, h + 12, 4), vsize = Get(image, h + 8, 4);
    std::uint32_t rawSize = Get(image, h + 16, 4), raw = Get(image, h + 20, 4);
    const std::uint64_t span = vsize ? vsize : rawSize;
    if (va < sizeOfHeaders || std::uint64_t(va) + std::max(vsize, rawSize) > sizeOfImage)
      throw damaged("a section lies outside the image");
    if (rawSize && raw < sizeOfHeaders) throw damaged("a section's data lies on the headers");
    if (span) virtuals.push_back({va, va + span});
    if (rawSize) raws.push_back({raw, std::uint64_t(raw) + rawSize});
    stub.ImageEnd = std::max<std::uint64_t>(stub.ImageEnd, std::uint64_t(va) + std::max(vsize, rawSize));
    if (rawSize) firstRaw = std::min<std::uint64_t>(firstRaw, raw);
    // A section whose data lies beyond the file: the stub was cut short (a half-copied
    // download), and the installer written from it would not load.
    if (rawSize && std::uint64_t(raw) + rawSize > image.size())
      throw PackError("--stub " + aStub + ": is cut short (a section ends beyond the file): not a Windows executable");
  }
  auto overlapping = [](std::vector<Range> r) {
    std::sort(r.begin(), r.end());
    for (std::size_t i = 1; i < r.size(); ++i)
      if (r[i].first < r[i - 1].second) return true;
    return false;
  };
  if (overlapping(raws) || overlapping(virtuals)) throw damaged("sections lie on top of one another");
  // The certificate table (4) holds a file offset; a stub with one was refused above.
  std::vector<Range> directories;
  for (std::uint32_t i = 0; i < dirCount; ++i) {
    if (i == 4) continue;
    std::uint32_t rva = Get(image, stub.Dirs + 8 * i, 4), size = Get(image, stub.Dirs + 8 * i + 4, 4);
    if (!rva && !size) continue;
    const Range r{rva, std::uint64_t(rva) + size};
    bool inside = r.second <= sizeOfHeaders;
    for (const Range& v : virtuals) inside = inside || (r.first >= v.first && r.second <= v.second);
    if (!rva || r.second > sizeOfImage || !inside)
      throw damaged("data directory " + std::to_string(i) + " lies outside the sections");
    // The import address table (12) lies within the import data, which GNU ld counts whole as
    // the import directory (1): it alone may overlap another.
    if (size && i != 12) directories.push_back(r);
  }
  if (overlapping(directories)) throw damaged("data directories lie on top of one another");
  stub.NewHeader = table + 40 * std::size_t{stub.Sections};
  const std::size_t headerEnd = stub.NewHeader + 40;
  if (headerEnd > sizeOfHeaders || headerEnd > firstRaw || headerEnd > image.size())
    throw PackError("--stub " + aStub + ": no room for another section header");
  for (std::size_t i = stub.NewHeader; i < headerEnd; ++i)
    if (image[i]) throw PackError("--stub " + aStub + ": no room for another section header");
  return stub;
}

void PeResourcesWrite(const std::string& aStub, const std::string& aTarget, const std::vector<PeResource>& aResources) {
  PeStub stub = PeStubRead(aStub);
  std::string& image = stub.Image;
  const std::size_t coff = stub.Coff, opt = stub.Opt, dirs = stub.Dirs, newHeader = stub.NewHeader;
  const std::uint32_t sections = stub.Sections, sectionAlign = stub.SectionAlign, fileAlign = stub.FileAlign;
  const std::uint64_t imageEnd = stub.ImageEnd;

  // The directory tree: type, name, language, then the data entries and names.
  std::map<Key, std::map<Key, std::map<std::uint16_t, std::size_t>>> tree;
  for (std::size_t i = 0; i < aResources.size(); ++i) {
    const PeResource& r = aResources[i];
    tree[KeyOf(r.TypeId, r.TypeName)][KeyOf(r.NameId, r.Name)][r.Language] = i;
  }
  std::uint32_t sectionVa = Align(imageEnd, sectionAlign);
  std::uint32_t dirBytes = 0, entryCount = 0, nameBytes = 0;
  auto countDir = [&](std::size_t n) { dirBytes += 16 + 8 * static_cast<std::uint32_t>(n); };
  countDir(tree.size());
  for (auto& [type, names] : tree) {
    if (!type.Id) nameBytes += 2 + 2 * static_cast<std::uint32_t>(type.Name.size());
    countDir(names.size());
    for (auto& [name, langs] : names) {
      if (!name.Id) nameBytes += 2 + 2 * static_cast<std::uint32_t>(name.Name.size());
      countDir(langs.size());
      entryCount += static_cast<std::uint32_t>(langs.size());
    }
  }
  std::uint32_t entriesAt = dirBytes, namesAt = entriesAt + 16 * entryCount;
  std::uint64_t dataAt = Align(namesAt + nameBytes, 8);
  std::vector<std::uint64_t> sizes(aResources.size()), offsets(aResources.size());
  std::uint64_t end = dataAt;
  for (std::size_t i = 0; i < aResources.size(); ++i) {
    sizes[i] = DataSize(aResources[i]);
    offsets[i] = end;
    end = Align(end + sizes[i], 8);
  }
  if (sectionVa + end > 0x7FFFFFFF) throw PackError("the payload is too large for a Windows executable");

  std::string rsrc;
  std::uint32_t nextDir = 0, nextEntry = entriesAt, nextName = namesAt;
  std::string names;
  auto nameRef = [&](const Key& k) -> std::uint32_t {
    if (k.Id) return k.Id;
    std::uint32_t at = nextName;
    Put(names, static_cast<std::uint32_t>(k.Name.size()), 2);
    for (char16_t c : k.Name) Put(names, c, 2);
    nextName += 2 + 2 * static_cast<std::uint32_t>(k.Name.size());
    return 0x80000000u | at;
  };
  // Directories are laid out breadth first: root, type directories, name directories.
  auto dirHeader = [&](std::size_t named, std::size_t ids) {
    Put(rsrc, 0, 4);
    Put(rsrc, 0, 4);
    Put(rsrc, 0, 4);
    Put(rsrc, static_cast<std::uint32_t>(named), 2);
    Put(rsrc, static_cast<std::uint32_t>(ids), 2);
    nextDir += 16 + 8 * static_cast<std::uint32_t>(named + ids);
  };
  auto split = [](const auto& m) {
    std::size_t named = 0;
    for (auto& kv : m)
      if (!kv.first.Id) ++named;
    return std::pair<std::size_t, std::size_t>(named, m.size() - named);
  };
  auto [rootNamed, rootIds] = split(tree);
  dirHeader(rootNamed, rootIds);
  std::uint32_t childAt = nextDir;
  for (auto& [type, namesMap] : tree) {
    Put(rsrc, nameRef(type), 4);
    Put(rsrc, 0x80000000u | childAt, 4);
    childAt += 16 + 8 * static_cast<std::uint32_t>(namesMap.size());
  }
  for (auto& [type, namesMap] : tree) {
    auto [named, ids] = split(namesMap);
    dirHeader(named, ids);
    for (auto& [name, langs] : namesMap) {
      Put(rsrc, nameRef(name), 4);
      Put(rsrc, 0x80000000u | childAt, 4);
      childAt += 16 + 8 * static_cast<std::uint32_t>(langs.size());
    }
  }
  std::vector<std::size_t> entryOrder;
  for (auto& [type, namesMap] : tree) {
    for (auto& [name, langs] : namesMap) {
      dirHeader(0, langs.size());
      for (auto& [lang, index] : langs) {
        Put(rsrc, lang, 4);
        Put(rsrc, nextEntry, 4);
        nextEntry += 16;
        entryOrder.push_back(index);
      }
    }
  }
  for (std::size_t index : entryOrder) {
    Put(rsrc, static_cast<std::uint32_t>(sectionVa + offsets[index]), 4);
    Put(rsrc, static_cast<std::uint32_t>(sizes[index]), 4);
    Put(rsrc, 0, 4);
    Put(rsrc, 0, 4);
  }
  rsrc += names;
  rsrc.resize(static_cast<std::size_t>(dataAt), '\0');

  // Headers: one more section, the resource directory, the image size.
  std::uint32_t rawAt = Align(image.size(), fileAlign);
  std::uint32_t rawSize = Align(end, fileAlign);
  std::string h(40, '\0');
  std::memcpy(h.data(), ".rsrc", 5);
  Set(h, 8, static_cast<std::uint32_t>(end), 4);
  Set(h, 12, sectionVa, 4);
  Set(h, 16, rawSize, 4);
  Set(h, 20, rawAt, 4);
  Set(h, 36, 0x40000040u, 4);  // initialised data, readable
  image.replace(newHeader, 40, h);
  Set(image, coff + 2, sections + 1, 2);
  Set(image, opt + 8, Get(image, opt + 8, 4) + rawSize, 4);  // SizeOfInitializedData
  Set(image, opt + 56, Align(std::uint64_t(sectionVa) + end, sectionAlign), 4);
  Set(image, opt + 64, 0, 4);  // the checksum no longer holds
  Set(image, dirs + 2 * 8, sectionVa, 4);
  Set(image, dirs + 2 * 8 + 4, static_cast<std::uint32_t>(end), 4);
  image.resize(rawAt, '\0');

  std::ofstream out(aTarget, std::ios::binary | std::ios::trunc);
  if (!out) throw PackError("cannot write " + aTarget);
  out.write(image.data(), static_cast<std::streamsize>(image.size()));
  out.write(rsrc.data(), static_cast<std::streamsize>(rsrc.size()));
  std::uint64_t pos = dataAt;
  std::vector<char> buf(1 << 20);
  for (std::size_t i = 0; i < aResources.size(); ++i) {
    const PeResource& r = aResources[i];
    if (r.HostPath.empty()) {
      out.write(r.Data.data(), static_cast<std::streamsize>(r.Data.size()));
    } else {
      std::ifstream f(r.HostPath, std::ios::binary);
      if (!f) throw PackError("cannot read " + r.HostPath);
      std::uint64_t copied = 0;
      while (f) {
        f.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        std::streamsize n = f.gcount();
        if (n <= 0) break;
        out.write(buf.data(), n);
        copied += static_cast<std::uint64_t>(n);
      }
      if (copied != sizes[i]) throw PackError("cannot read " + r.HostPath);
    }
    pos += sizes[i];
    std::uint64_t next = Align(pos, 8);
    for (; pos < next; ++pos) out.put('\0');
  }
  for (std::uint64_t fileEnd = std::uint64_t(rawAt) + rawSize; rawAt + pos < fileEnd; ++pos) out.put('\0');
  out.flush();
  if (!out) {
    const int err = errno;
    throw PackError("cannot write " + aTarget + (err == ENOSPC || err == EDQUOT ? ": no space left on the disk" : ""));
  }
}

}  // namespace pack
