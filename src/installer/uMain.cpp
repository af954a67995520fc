#include "installer/uMain.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "compression/LZMAStream.h"
#include "diag/uMisc.h"
#include "installer/uInstallScript.h"
#include "params/uMiscLean.h"
#include "rtl/Exception.h"
#include "rtl/MemoryStream.h"
#include "rtl/Thread.h"
#include "ui/Application.h"

namespace {

// A resource of type RT_RCDATA of the module, as bytes in the module's memory.
struct TResourceView {
  const void* Data = nullptr;
  win::DWORD Size = 0;
};

TResourceView ResourceOpen(win::HMODULE aModule, const Text& aName) {
  win::HRSRC info = win::FindResourceW(aModule, aName.c_str(), win::RT_RCDATA());
  if (!info) throw Exception(u"Resource " + aName + u" not found");
  win::HGLOBAL data = win::LoadResource(aModule, info);
  const void* p = data ? win::LockResource(data) : nullptr;
  if (!p) throw Exception(u"Resource " + aName + u" cannot be loaded");
  return TResourceView{p, win::SizeofResource(aModule, info)};
}

Text LongPath(const Text& aPath) {
  TPath p(aPath);
  LongPathPrefixAdd(p);
  return p.ToString();
}

// Writes the whole buffer to aTarget: aside first, then into place, so that a file that
// could not be written completely is never left looking complete. The file aside is a new
// one ("<target>.part", or "<target>.part-N" when that name is taken): a file of that name
// already there, installed a moment ago or the user's, is never overwritten or deleted.
void FileSave(const Text& aTarget, const void* aData, std::int64_t aSize) {
  Text part;
  win::HANDLE h = win::INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && h == win::INVALID_HANDLE_VALUE; ++attempt) {
    part = aTarget + u".part" + (attempt ? u"-" + T(std::to_string(attempt)) : Text());
    h = win::CreateFileW(LongPath(part).c_str(), win::GENERIC_WRITE, 0, nullptr, win::CREATE_NEW,
                         win::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == win::INVALID_HANDLE_VALUE && win::GetLastError() != win::ERROR_FILE_EXISTS &&
        win::GetLastError() != win::ERROR_ALREADY_EXISTS)
      break;
  }
  if (h == win::INVALID_HANDLE_VALUE) throw Exception(u"Cannot create a file next to " + aTarget);
  const auto* p = static_cast<const unsigned char*>(aData);
  bool ok = true;
  while (aSize > 0 && ok) {
    win::DWORD chunk = static_cast<win::DWORD>(std::min<std::int64_t>(aSize, 1 << 24));
    win::DWORD written = 0;
    ok = win::WriteFile(h, p, chunk, &written, nullptr) && written == chunk;
    p += chunk;
    aSize -= chunk;
  }
  if (!win::CloseHandle(h)) ok = false;
  if (!ok || !win::MoveFileExW(LongPath(part).c_str(), LongPath(aTarget).c_str(),
                               win::MOVEFILE_REPLACE_EXISTING)) {
    win::DeleteFileW(LongPath(part).c_str());
    throw Exception(u"Cannot write " + aTarget);
  }
}

// The plain size a container announces in its header; 0 when it is too short to have one.
std::int64_t ContainerPlainSize(const TResourceView& aResource) {
  if (aResource.Size < 8) return 0;
  std::uint64_t size = 0;
  for (int i = 7; i >= 0; --i) size = (size << 8) | static_cast<const unsigned char*>(aResource.Data)[i];
  return size > TLZMAStream::PlainSizeMax ? static_cast<std::int64_t>(TLZMAStream::PlainSizeMax)
                                          : static_cast<std::int64_t>(size);
}

// Saves decoded files on a thread of its own, so that the disk takes one file while the
// next is decoded. The decoded files it holds (queued or being written) and the one being
// decoded stay within PendingBytesMax together, or are a single file when one alone is
// larger: the extraction holds little more memory than with one file at a time.
class TFileWriter final : public TThread {
 public:
  static constexpr std::int64_t PendingBytesMax = std::int64_t{24} << 20;

  TFileWriter() {
    try {
      Start();
      FRunning = true;
    } catch (const std::exception&) {
      FRunning = false;  // no thread to be had: every file is saved by the caller's thread
    }
  }
  ~TFileWriter() override { Finish(); }

  // Blocks until a file of iBytes may be decoded next.
  void RoomWait(std::int64_t iBytes) {
    std::unique_lock<std::mutex> g(FLock);
    FChanged.wait(g, [&] { return FPending == 0 || FPending + iBytes <= PendingBytesMax; });
  }

  void Add(const TPath& aTarget, std::unique_ptr<TMemoryStream> aData) {
    if (!FRunning) {
      if (!Save(aTarget, *aData)) ++FFailed;
      return;
    }
    std::lock_guard<std::mutex> g(FLock);
    const std::int64_t size = aData->Size();
    FJobs.push_back({aTarget, std::move(aData)});  // counted only once it is queued
    FPending += size;
    FChanged.notify_all();
  }

  // Waits until every file added is saved; how many of them could not be.
  int Finish() {
    if (FRunning) {
      {
        std::lock_guard<std::mutex> g(FLock);
        FClosed = true;
        FChanged.notify_all();
      }
      WaitFor();
      FRunning = false;
    }
    return FFailed;
  }

 protected:
  void Execute() override {
    for (;;) {
      TJob job;
      {
        std::unique_lock<std::mutex> g(FLock);
        FChanged.wait(g, [&] { return FClosed || !FJobs.empty(); });
        if (FJobs.empty()) return;
        job = std::move(FJobs.front());
        FJobs.pop_front();
      }
      const bool saved = Save(job.Target, *job.Data);
      const std::int64_t size = job.Data->Size();
      job.Data.reset();  // the memory goes before the next file may be decoded into more
      std::lock_guard<std::mutex> g(FLock);
      if (!saved) ++FFailed;
      FPending -= size;
      FChanged.notify_all();
    }
  }

 private:
  struct TJob {
    TPath Target;
    std::unique_ptr<TMemoryStream> Data;
  };

  static bool Save(const TPath& aTarget, const TMemoryStream& aData) {
    try {
      FolderOfFileCreate(aTarget);
      FileSave(aTarget.ToString(), aData.Memory(), aData.Size());
      return true;
    } catch (...) {
      return false;
    }
  }

  std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<TJob> FJobs;
  std::int64_t FPending = 0;
  bool FClosed = false;
  bool FRunning = false;
  int FFailed = 0;  // under FLock while the thread runs
};

}  // namespace

void TForm1::InstallScriptLoad() {
  TResourceView script = ResourceOpen(ResourceModule, u"INSTALLSCRIPT");
  for (const auto& entry :
       InstallScriptParse(std::string_view(static_cast<const char*>(script.Data), script.Size))) {
    FilesList.AddValueWithNoKey(Variant(entry.Entry));
  }
}

bool TForm1::FilesExtract(const TPath& aFolder) {
  StopIf(FilesList.Count() == 0, u"");
  bool result = true;
  TFileWriter writer;
  for (int k = 0; k < FilesList.Count(); ++k) {
    try {
      const Text entry = VariantToText(FilesList.GetValueByIndex(k));
      // An entry that would land outside the folder is never written.
      if (!InstallScriptEntryCheck(entry).empty()) throw Exception(u"Entry outside the install folder: " + entry);
      TResourceView resource = ResourceOpen(ResourceModule, u"F" + T(std::to_string(k)));
      writer.RoomWait(ContainerPlainSize(resource));
      // The container is decoded where the module holds it, not from a copy: the resource is
      // read-only memory of the module, which lives as long as the extraction.
      TMemoryStream compressed;
      compressed.SetPointer(resource.Data, resource.Size);
      auto decompressed = std::make_unique<TMemoryStream>();
      TLZMAStream stream;
      stream.Compressed = &compressed;
      stream.Decompressed = decompressed.get();
      stream.Decompress();
      // Only a file decoded whole is handed on to be written.
      writer.Add(aFolder + entry, std::move(decompressed));
      ApplicationProcessMessages();
    } catch (...) {
      result = false;
    }
  }
  // Every file is on disk (or has failed) before the result is known.
  if (writer.Finish() > 0) result = false;
  return result;
}
