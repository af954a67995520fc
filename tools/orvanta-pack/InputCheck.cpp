#include "InputCheck.h"

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <unistd.h>
#include <wctype.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ContainerFile.h"
#include "platform/win32api.h"

namespace pack {

namespace {

std::string Errno(int e) { return std::strerror(e); }

struct Fd {
  int H = -1;
  ~Fd() {
    if (H >= 0) ::close(H);
  }
};

std::string Mib(std::uint64_t n) { return std::to_string(n >> 20) + " MiB"; }

// Reads up to iSize bytes at iAt; fewer only at the end of the file.
std::string ReadAt(int fd, std::uint64_t iAt, std::size_t iSize) {
  std::string s(iSize, '\0');
  std::size_t got = 0;
  while (got < iSize) {
    ssize_t n = ::pread(fd, s.data() + got, iSize - got, static_cast<off_t>(iAt + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw PackError(Errno(errno));
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  s.resize(got);
  return s;
}

}  // namespace

std::string MessageText(std::string_view aText, std::size_t iMax) {
  std::string r;
  std::size_t i = 0;
  for (; i < aText.size(); ++i) {
    auto c = static_cast<unsigned char>(aText[i]);
    // Cut only where a character starts.
    if (r.size() >= iMax && (c & 0xC0) != 0x80) break;
    if (c < 0x20 || c == 0x7F) {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02X", c);
      r += b;
    } else {
      r += static_cast<char>(c);
    }
  }
  if (i < aText.size()) r += "... (" + std::to_string(aText.size()) + " bytes)";
  return r;
}

std::string WriteErrorText(int iErrno) {
  if (iErrno == ENOSPC || iErrno == EDQUOT) return "no space left on the disk";
  return Errno(iErrno);
}

struct stat InputFileCheck(const std::string& aOption, const std::string& aPath) {
  const std::string what = aOption + " " + MessageText(aPath);
  struct stat st;
  if (::stat(aPath.c_str(), &st) != 0) {
    int e = errno;
    if (e == ENOENT || e == ENOTDIR) throw PackError(what + ": no such file");
    throw PackError(what + ": cannot read it: " + Errno(e));
  }
  if (S_ISDIR(st.st_mode)) throw PackError(what + ": is a folder, not a file");
  if (!S_ISREG(st.st_mode)) throw PackError(what + ": is a device, pipe or socket, not a file");
  if (::access(aPath.c_str(), R_OK) != 0) throw PackError(what + ": cannot read it: " + Errno(errno));
  return st;
}

std::string InputFileRead(const std::string& aOption, const std::string& aPath, std::uint64_t iMax) {
  const std::string what = aOption + " " + MessageText(aPath);
  struct stat st = InputFileCheck(aOption, aPath);
  auto tooLarge = [&] { return PackError(what + ": is larger than " + Mib(iMax)); };
  if (static_cast<std::uint64_t>(st.st_size) > iMax) throw tooLarge();
  // Not blocking: should a pipe have taken the file's place since, it is refused below.
  Fd f;
  f.H = ::open(aPath.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (f.H < 0) throw PackError(what + ": cannot read it: " + Errno(errno));
  if (::fstat(f.H, &st) != 0 || !S_ISREG(st.st_mode)) throw PackError(what + ": is not a file");
  std::string data;
  try {
    // One byte more than allowed tells a file that grew past the limit.
    data = ReadAt(f.H, 0, static_cast<std::size_t>(std::min<std::uint64_t>(iMax, std::uint64_t(st.st_size))) + 1);
  } catch (const PackError& x) {
    throw PackError(what + ": cannot read it: " + x.what());
  }
  if (data.size() > iMax) throw tooLarge();
  return data;
}

std::string FromFolderCheck(const std::string& aFrom) {
  const std::string what = "--from " + MessageText(aFrom);
  struct stat st;
  if (::stat(aFrom.c_str(), &st) != 0) {
    int e = errno;
    if (e == ENOENT || e == ENOTDIR) throw PackError(what + ": no such folder");
    throw PackError(what + ": cannot read the folder: " + Errno(e));
  }
  if (!S_ISDIR(st.st_mode)) throw PackError(what + ": not a folder");
  DIR* d = ::opendir(aFrom.c_str());
  if (!d) throw PackError(what + ": cannot read the folder: " + Errno(errno));
  ::closedir(d);
  if (::access(aFrom.c_str(), X_OK) != 0) throw PackError(what + ": cannot read the folder: " + Errno(errno));
  char* real = ::realpath(aFrom.c_str(), nullptr);
  if (!real) throw PackError(what + ": cannot read the folder: " + Errno(errno));
  std::string r = real;
  std::free(real);
  return r;
}

void LinuxStubCheck(const std::string& aStub, const struct stat& aStatus) {
  const std::string what = "--stub " + MessageText(aStub);
  if (!(aStatus.st_mode & S_IXUSR))
    throw PackError(what + ": has no execute bit, and an installer written from it would have none either");
  auto notElf = [&](const std::string& aWhy) { return PackError(what + ": not a Linux executable (" + aWhy + ")"); };
  Fd f;
  f.H = ::open(aStub.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (f.H < 0) throw PackError(what + ": cannot read it: " + Errno(errno));
  struct stat st;
  if (::fstat(f.H, &st) != 0 || !S_ISREG(st.st_mode)) throw PackError(what + ": is not a file");
  const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
  std::string h;
  try {
    h = ReadAt(f.H, 0, 64);
  } catch (const PackError& x) {
    throw PackError(what + ": cannot read it: " + x.what());
  }
  if (h.size() < 4 || h.compare(0, 4, "\x7F" "ELF") != 0) throw notElf("no ELF header");
  const bool b64 = h.size() > 4 && h[4] == 2;
  const bool bBig = h.size() > 5 && h[5] == 2;
  if (h.size() < (b64 ? 64u : 52u)) throw notElf("the header is cut short");
  if ((h[4] != 1 && h[4] != 2) || (h[5] != 1 && h[5] != 2) || h[6] != 1) throw notElf("an unknown ELF header");
  auto get = [bBig](const std::string& s, std::size_t at, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) {
      auto b = static_cast<unsigned char>(s[at + static_cast<std::size_t>(bBig ? i : bytes - 1 - i)]);
      v = (v << 8) | b;
    }
    return v;
  };
  const int word = b64 ? 8 : 4;
  const std::uint64_t type = get(h, 16, 2);
  if (type != 2 && type != 3) throw notElf("an object file or a core dump, not a program");
  const std::uint64_t phoff = get(h, b64 ? 32 : 28, word), shoff = get(h, b64 ? 40 : 32, word);
  const std::size_t at = b64 ? 52 : 40;
  const std::uint64_t ehsize = get(h, at, 2), phentsize = get(h, at + 2, 2), phnum = get(h, at + 4, 2);
  const std::uint64_t shentsize = get(h, at + 6, 2), shnum = get(h, at + 8, 2);
  if (ehsize != (b64 ? 64u : 52u) || phentsize != (b64 ? 56u : 32u) || phnum == 0)
    throw notElf("the header is damaged");
  // Each check in 64 bits from 16-bit counts and offsets below 2^64: no overflow past size.
  if (phoff > size || phnum * phentsize > size - phoff)
    throw notElf("the program headers lie beyond the end of the file: cut short?");
  if (shnum && (shentsize != (b64 ? 64u : 40u) || shoff > size || shnum * shentsize > size - shoff))
    throw notElf("the section headers lie beyond the end of the file: cut short?");
  std::string ph;
  try {
    ph = ReadAt(f.H, phoff, static_cast<std::size_t>(phnum * phentsize));
  } catch (const PackError& x) {
    throw PackError(what + ": cannot read it: " + x.what());
  }
  if (ph.size() < phnum * phentsize) throw notElf("the program headers lie beyond the end of the file: cut short?");
  bool loads = false;
  for (std::uint64_t k = 0; k < phnum; ++k) {
    const std::size_t p = static_cast<std::size_t>(k * phentsize);
    if (get(ph, p, 4) != 1) continue;  // PT_LOAD
    loads = true;
    const std::uint64_t offset = get(ph, p + (b64 ? 8 : 4), word), filesz = get(ph, p + (b64 ? 32 : 16), word);
    if (offset > size || filesz > size - offset) throw notElf("a segment lies beyond the end of the file: cut short?");
  }
  if (!loads) throw notElf("nothing to load");
}

std::string SplashRead(const std::string& aPath) {
  std::string data = InputFileRead("--splash", aPath, kSplashMax);
  const std::string what = "--splash " + MessageText(aPath);
  if (data.empty()) throw PackError(what + ": is empty");
  win::LONG w = 0, h = 0;
  // The installer's own decoder, so that what passes here shows there.
  win::HBITMAP b = win::PngBitmapCreate(reinterpret_cast<const win::BYTE*>(data.data()),
                                        static_cast<win::DWORD>(data.size()), &w, &h);
  if (!b) throw PackError(what + ": not a PNG image (the installer shows PNG pictures only)");
  win::DeleteObject(b);
  return data;
}

Text NameFold(TextView aEntry) {
  // Case tables from the C.UTF-8 locale, which every glibc system carries: not the user's
  // locale, so that the result does not depend on who packs.
  static locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (!utf8) throw PackError("cannot load the C.UTF-8 locale, whose case tables compare the entries");
  Text r(aEntry);
  for (char16_t& c : r) {
    if (c == u'/') {
      c = u'\\';
    } else if (c < 0xD800 || c > 0xDFFF) {
      wint_t up = ::towupper_l(c, utf8);
      if (up <= 0xFFFF) c = static_cast<char16_t>(up);
    }
  }
  return r;
}

bool FileSame(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool FileChanged(const struct stat& aBefore, const struct stat& aAfter) {
  return !FileSame(aBefore, aAfter) || aBefore.st_size != aAfter.st_size ||
         aBefore.st_mtim.tv_sec != aAfter.st_mtim.tv_sec || aBefore.st_mtim.tv_nsec != aAfter.st_mtim.tv_nsec ||
         aBefore.st_ctim.tv_sec != aAfter.st_ctim.tv_sec || aBefore.st_ctim.tv_nsec != aAfter.st_ctim.tv_nsec;
}

}  // namespace pack
