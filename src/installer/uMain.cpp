#include "installer/uMain.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <thread>
#include <vector>
#include <string>
#include <utility>

#include "compression/LZMAStream.h"
#include "compression/PayloadChecksums.h"
#include "diag/uDebug.h"
#include "diag/uMisc.h"
#include "diag/uUnits.h"
#include "installer/uInstallScript.h"
#include "installer/uSplashPicture.h"
#include "logtransport/LogFileKey.h"
#include "logtransport/LogTransport.h"
#include "params/uAppStartParams.h"
#include "params/uMiscLean.h"
#include "rtl/Exception.h"
#include "rtl/MemoryStream.h"
#include "rtl/ModuleInit.h"
#include "rtl/Thread.h"
#include "ui/Application.h"
#include "ui/ShowMessage.h"
#include "ui/TaskDialog.h"
#include "winsys/GetExeVersionInfo.h"
#include "winsys/uProcesses.h"
#include "winsys/uRegistry.h"

// Formed while the units start, in their order (a plain global would be made after them).
Text LogFileKey ORV_UNIT_INIT(unitorder::kInstaller) = LogFileKeyForm();
int ExitCode = 0;

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

// A file written aside under a name of its own, not yet flushed nor in place.
struct TFileAside {
  Text Target;
  Text Part;
  win::HANDLE Handle = win::INVALID_HANDLE_VALUE;
};

// Ends a file aside that will not be put in place: closed and deleted.
void FileAsideDrop(TFileAside& aFile) {
  if (aFile.Handle != win::INVALID_HANDLE_VALUE) win::CloseHandle(aFile.Handle);
  aFile.Handle = win::INVALID_HANDLE_VALUE;
  win::DeleteFileW(LongPath(aFile.Part).c_str());
}

// Writes the whole buffer aside of aTarget, so that a file that could not be written
// completely is never left looking complete; FileAsidePlace puts it into place. The file
// aside is a new one ("<target>.part", or "<target>.part-N" when that name is taken): a file
// of that name already there, installed a moment ago or the user's, is never overwritten or
// deleted, and a name that aIsTarget says another file of the extraction goes to is never
// taken (that file may be written at the same time, and would be moved over this one).
TFileAside FileWriteAside(const Text& aTarget, const void* aData, std::int64_t aSize,
                          const std::function<bool(const Text&)>& aIsTarget) {
  TFileAside file;
  file.Target = aTarget;
  // A name of its own that fits where the target's name plus the suffix would be longer than
  // a file name may be (255 characters).
  const TPath target(aTarget);
  const bool longName = target.LastGet().size() + 9 > 255;
  for (int attempt = 0; attempt < 100 && file.Handle == win::INVALID_HANDLE_VALUE; ++attempt) {
    const Text suffix = u".part" + (attempt ? u"-" + T(std::to_string(attempt)) : Text());
    file.Part = longName ? (target.WithoutLast() + TPath(u"~orvanta" + suffix)).ToString() : aTarget + suffix;
    if (aIsTarget && aIsTarget(file.Part)) continue;
    file.Handle = win::CreateFileW(LongPath(file.Part).c_str(), win::GENERIC_WRITE, 0, nullptr, win::CREATE_NEW,
                                   win::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file.Handle == win::INVALID_HANDLE_VALUE && win::GetLastError() != win::ERROR_FILE_EXISTS &&
        win::GetLastError() != win::ERROR_ALREADY_EXISTS)
      break;
  }
  if (file.Handle == win::INVALID_HANDLE_VALUE) throw Exception(u"Cannot create a file next to " + aTarget);
  const auto* p = static_cast<const unsigned char*>(aData);
  bool ok = true;
  while (aSize > 0 && ok) {
    win::DWORD chunk = static_cast<win::DWORD>(std::min<std::int64_t>(aSize, 1 << 24));
    win::DWORD written = 0;
    ok = win::WriteFile(file.Handle, p, chunk, &written, nullptr) && written == chunk;
    p += chunk;
    aSize -= chunk;
  }
  if (!ok) {
    FileAsideDrop(file);
    throw Exception(u"Cannot write " + aTarget);
  }
  return file;
}

// Puts a file written aside into place: flushed first, since after a power cut the name
// must not stand for a file whose data was still in the cache. A file that fails is deleted.
void FileAsidePlace(TFileAside& aFile) {
  bool ok = win::FlushFileBuffers(aFile.Handle) != win::FALSE;
  if (!win::CloseHandle(aFile.Handle)) ok = false;
  aFile.Handle = win::INVALID_HANDLE_VALUE;
  if (!ok || !win::MoveFileExW(LongPath(aFile.Part).c_str(), LongPath(aFile.Target).c_str(),
                               win::MOVEFILE_REPLACE_EXISTING)) {
    FileAsideDrop(aFile);
    throw Exception(u"Cannot write " + aFile.Target);
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

// The memory that decoding a container takes at most: the decoded file, the decoder's
// dictionary (no larger than the file, see TLZMAStream::Decompress) and its input buffer.
std::int64_t ContainerDecodeCost(const TResourceView& aResource) {
  const std::int64_t plain = ContainerPlainSize(aResource);
  std::uint64_t dictionary = std::uint64_t{32} << 20;
  if (aResource.Size > 8) {
    const unsigned p = static_cast<const unsigned char*>(aResource.Data)[8];
    if (p < 40)
      dictionary = std::min(TLZMA2Decompressor::DictionarySizeOfProperty(p), TLZMA2Decompressor::DictionarySizeMax);
  }
  dictionary = std::min<std::uint64_t>(dictionary, static_cast<std::uint64_t>(std::max<std::int64_t>(plain, 4096)));
  return plain + static_cast<std::int64_t>(dictionary) + TLZMACustomDecompressor::BufferSize;
}

// A resource of the module, or nothing when the module has none of that name.
std::optional<TResourceView> ResourceFind(win::HMODULE aModule, const Text& aName) {
  if (!win::FindResourceW(aModule, aName.c_str(), win::RT_RCDATA())) return std::nullopt;
  return ResourceOpen(aModule, aName);
}

// One payload file to extract.
struct TExtractJob {
  TPath Target;
  TResourceView Resource;
  std::int64_t Cost = 0;
  // The file's checksum; null when the installer carries none.
  const TSha256Digest* Checksum = nullptr;
  // The file once written aside, until it is put in place.
  TFileAside Aside;
  bool Ok = false;
};

// Decodes one container, compares the file with its checksum and writes it aside. Raises on
// any failure, leaving nothing aside. The decoded file is released on return.
TFileAside FileExtract(const TExtractJob& aJob, const std::function<bool(const Text&)>& aIsTarget) {
  // The container is decoded where the module holds it, not from a copy: the resource is
  // read-only memory of the module, which lives as long as the extraction.
  TMemoryStream compressed;
  compressed.SetPointer(aJob.Resource.Data, aJob.Resource.Size);
  TMemoryStream decompressed;
  TLZMAStream stream;
  stream.Compressed = &compressed;
  stream.Decompressed = &decompressed;
  stream.Decompress();
  if (aJob.Checksum &&
      Sha256Of(decompressed.Memory(), static_cast<std::size_t>(decompressed.Size())) != *aJob.Checksum)
    throw Exception(u"Checksum mismatch: " + aJob.Target.ToString());
  FolderOfFileCreate(aJob.Target);
  return FileWriteAside(aJob.Target.ToString(), decompressed.Memory(), decompressed.Size(), aIsTarget);
}

// Extracts files on a few threads and runs aBetweenFiles on the calling thread after each
// file that was written. A thread that is free takes the largest file that fits: the files
// being decoded and written hold at most the budget together, or are a single file when one
// alone costs more. Largest first, so that the threads end together instead of one decoding
// a large file alone at the end; past a file that does not fit yet, so that a thread does
// not stand idle while the budget has room for a smaller one. A file written aside goes to
// one more thread that flushes it and puts it in place: a flush mostly waits for the disk,
// and the decoding threads need not wait with it. The file's memory is released before
// that, so the flushes take none of the budget.
// With fewer than two decoding threads (one core, or no thread to be had) every file is
// extracted on the calling thread, one after the other; without the flushing thread each
// decoding thread puts its own files in place.
class TExtractPool {
 public:
  TExtractPool(std::vector<TExtractJob>& aJobs, std::int64_t iBudget) : FJobs(aJobs), FBudget(iBudget) {
    for (const TExtractJob& job : FJobs) FTargets.insert(TextUpperAscii(job.Target.ToString()));
    // Here, so that nothing is allocated while the threads hold the lock.
    FWaiting.reserve(FJobs.size());
    FPlacing.reserve(FJobs.size());
    FEnded.reserve(FJobs.size());
  }
  ~TExtractPool() { Close(); }
  TExtractPool(const TExtractPool&) = delete;
  TExtractPool& operator=(const TExtractPool&) = delete;

  static constexpr unsigned ThreadsMax = 4;

  // True when every file was written.
  bool Run(unsigned iThreads, const std::function<void()>& aBetweenFiles) {
    const std::size_t threads = iThreads > 1 ? std::min<std::size_t>(iThreads, FJobs.size()) : 0;
    if (threads > 1) FPlacer = ThreadStart(&TExtractPool::Place);
    for (std::size_t i = 0; i < threads; ++i) {
      std::unique_ptr<TWorker> thread = ThreadStart(&TExtractPool::Decode);
      if (!thread) break;
      FDecoders.push_back(std::move(thread));
    }
    bool result = true;
    auto ended = [&](const TExtractJob& aJob) {
      if (!aJob.Ok) {
        result = false;
        return;
      }
      try {
        aBetweenFiles();
      } catch (...) {
        result = false;
      }
    };
    if (FDecoders.size() < 2) {
      Close();
      for (TExtractJob& job : FJobs) {
        JobDecode(job);
        if (job.Ok) JobPlace(job);
        ended(job);
      }
      return result;
    }
    std::vector<TExtractJob*> done;
    done.reserve(FJobs.size());
    {
      std::lock_guard<std::mutex> g(FLock);
      for (TExtractJob& job : FJobs) FWaiting.push_back(&job);
      std::stable_sort(FWaiting.begin(), FWaiting.end(),
                       [](const TExtractJob* a, const TExtractJob* b) { return a->Cost > b->Cost; });
      FHandingOut = true;
      FChanged.notify_all();
    }
    for (std::size_t left = FJobs.size(); left > 0;) {
      {
        std::unique_lock<std::mutex> g(FLock);
        FChanged.wait(g, [&] { return !FEnded.empty(); });
        done.assign(FEnded.begin(), FEnded.end());
        FEnded.clear();
      }
      for (TExtractJob* job : done) {
        --left;
        ended(*job);
      }
    }
    Close();
    return result;
  }

 private:
  class TWorker final : public TThread {
   public:
    TWorker(TExtractPool& aPool, void (TExtractPool::*aWork)()) : FPool(aPool), FWork(aWork) {}
    ~TWorker() override {
      if (!Suspended()) WaitFor();
    }

   protected:
    void Execute() override { (FPool.*FWork)(); }

   private:
    TExtractPool& FPool;
    void (TExtractPool::*FWork)();
  };

  // A started thread, or null when none can be had.
  std::unique_ptr<TWorker> ThreadStart(void (TExtractPool::*aWork)()) {
    try {
      auto thread = std::make_unique<TWorker>(*this, aWork);
      thread->Start();
      return thread;
    } catch (const std::exception&) {
      return nullptr;
    }
  }

  void JobDecode(TExtractJob& aJob) const {
    try {
      aJob.Aside = FileExtract(aJob, [this](const Text& aPath) { return FTargets.count(TextUpperAscii(aPath)) > 0; });
      aJob.Ok = true;
    } catch (...) {
      aJob.Ok = false;
    }
  }

  static void JobPlace(TExtractJob& aJob) {
    try {
      FileAsidePlace(aJob.Aside);
    } catch (...) {
      aJob.Ok = false;
    }
  }

  // The first of the waiting files (the largest) that the budget has room for; any file when
  // none is being decoded. Called with the lock held.
  std::vector<TExtractJob*>::iterator Fitting() {
    return std::find_if(FWaiting.begin(), FWaiting.end(),
                        [&](const TExtractJob* aJob) { return FDecoding == 0 || FInUse + aJob->Cost <= FBudget; });
  }

  void Decode() {
    std::unique_lock<std::mutex> g(FLock);
    for (;;) {
      std::vector<TExtractJob*>::iterator next;
      FChanged.wait(g, [&] {
        return FClosed || (FHandingOut && (FWaiting.empty() || (next = Fitting()) != FWaiting.end()));
      });
      if (FClosed || FWaiting.empty()) return;
      TExtractJob* job = *next;
      FWaiting.erase(next);
      FInUse += job->Cost;
      ++FDecoding;
      g.unlock();
      JobDecode(*job);  // its memory is released before another file may take it
      g.lock();
      FInUse -= job->Cost;
      --FDecoding;
      if (job->Ok && FPlacer) {
        FPlacing.push_back(job);
      } else {
        if (job->Ok) {
          g.unlock();
          JobPlace(*job);
          g.lock();
        }
        FEnded.push_back(job);
      }
      FChanged.notify_all();
    }
  }

  void Place() {
    std::unique_lock<std::mutex> g(FLock);
    for (;;) {
      FChanged.wait(g, [&] { return FPlaced < FPlacing.size() || FDecodersEnded; });
      if (FPlaced == FPlacing.size()) return;
      TExtractJob* job = FPlacing[FPlaced++];
      g.unlock();
      JobPlace(*job);
      g.lock();
      FEnded.push_back(job);
      FChanged.notify_all();
    }
  }

  // Lets the decoding threads end once they have no file left (or at once, when the files
  // have not been handed out), waits for them, and then for the flushing thread to put in
  // place every file it was given.
  void Close() {
    {
      std::lock_guard<std::mutex> g(FLock);
      FClosed = true;
      FChanged.notify_all();
    }
    FDecoders.clear();
    {
      std::lock_guard<std::mutex> g(FLock);
      FDecodersEnded = true;
      FChanged.notify_all();
    }
    FPlacer.reset();
  }

  std::vector<TExtractJob>& FJobs;
  const std::int64_t FBudget;
  std::set<Text> FTargets;  // every file's target, ASCII letters upper-cased
  std::vector<std::unique_ptr<TWorker>> FDecoders;
  std::unique_ptr<TWorker> FPlacer;
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FHandingOut = false;           // FWaiting is filled
  std::vector<TExtractJob*> FWaiting;  // not yet taken by a decoding thread, the largest first
  std::int64_t FInUse = 0;             // the cost of the files being decoded and written
  int FDecoding = 0;
  std::vector<TExtractJob*> FPlacing;  // written aside, for the flushing thread from FPlaced on
  std::size_t FPlaced = 0;
  std::vector<TExtractJob*> FEnded;  // done, not yet seen by the calling thread
  bool FClosed = false;
  bool FDecodersEnded = false;
};

}  // namespace

void TForm1::InstallScriptLoad() {
  TResourceView script = ResourceOpen(ResourceModule, u"INSTALLSCRIPT");
  const std::string_view bytes(static_cast<const char*>(script.Data), script.Size);
  const std::vector<TInstallScriptEntry> entries = InstallScriptParse(bytes);
  // A damaged script would install other files, or files under other names: nothing is
  // taken from it.
  if (std::optional<TResourceView> sums = ResourceFind(ResourceModule, kPayloadChecksumsResource)) {
    const std::optional<TPayloadChecksums> checksums = PayloadChecksumsParse(sums->Data, sums->Size);
    if (!checksums || checksums->Script != Sha256Of(bytes.data(), bytes.size()) ||
        checksums->Files.size() != entries.size())
      throw Exception(u"Resource INSTALLSCRIPT is damaged");
  }
  for (const auto& entry : entries) FilesList.AddValueWithNoKey(Variant(entry.Entry));
}

bool TForm1::FilesExtract(const TPath& aFolder) {
  StopIf(FilesList.Count() == 0, u"");
  bool result = true;
  // Each file is compared with its checksum, when the installer carries them; checksums
  // that cannot be read fail every file.
  std::optional<TPayloadChecksums> checksums;
  try {
    if (std::optional<TResourceView> sums = ResourceFind(ResourceModule, kPayloadChecksumsResource)) {
      checksums = PayloadChecksumsParse(sums->Data, sums->Size);
      if (!checksums || checksums->Files.size() != static_cast<std::size_t>(FilesList.Count())) return false;
    }
  } catch (...) {
    return false;
  }
  std::vector<TExtractJob> jobs;
  std::int64_t largest = 0;
  for (int k = 0; k < FilesList.Count(); ++k) {
    try {
      const Text entry = VariantToText(FilesList.GetValueByIndex(k));
      // An entry that would land outside the folder is never written.
      if (!InstallScriptEntryCheck(entry).empty()) throw Exception(u"Entry outside the install folder: " + entry);
      TExtractJob job;
      job.Resource = ResourceOpen(ResourceModule, u"F" + T(std::to_string(k)));
      job.Target = aFolder + entry;
      job.Cost = ContainerDecodeCost(job.Resource);
      if (checksums) job.Checksum = &checksums->Files[static_cast<std::size_t>(k)];
      largest = std::max(largest, ContainerPlainSize(job.Resource));
      jobs.push_back(std::move(job));
    } catch (...) {
      result = false;
    }
  }
  // What one file at a time used to hold: the largest file, with a full dictionary beside it.
  TExtractPool pool(jobs, largest + (std::int64_t{32} << 20));
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  try {
    if (!pool.Run(std::min(cores, TExtractPool::ThreadsMax), [] { ApplicationProcessMessages(); })) result = false;
  } catch (...) {
    result = false;  // no memory for the threads' bookkeeping: the files not done count as failed
  }
  return result;
}

// =========================================================================================
// The splash form and the installation sequence
// =========================================================================================

namespace {

const char16_t* const kMessageUnsupportedWindows =
    u"The version of Windows that you are using is not supported by Orvanta.\r\n\r\nOrvanta can be installed on "
    u"all versions of Windows, starting from Windows 7, and including Windows 8, Windows 8.1 and Windows 10.";
const char16_t* const kMessagePermission1 =
    u"Orvanta cannot be installed without your permission. \r\n\r\nPlease click \"Yes\" when asked for your "
    u"permission.";
const char16_t* const kMessagePermission2 =
    u"Orvanta cannot be installed without your permission. \r\n\r\nPlease click \"YES\" when asked for your "
    u"permission.\r\n\r\nTHIS IS YOUR LAST CHANCE.";
const char16_t* const kMessageNoPermission =
    u"Installation failed, because administrative permissions were not provided.";
const char16_t* const kMessageExtractionFailed = u"There was a problem extracting the files. Installation terminated.";

constexpr win::DWORD kIntegrityMedium = 0x2000;
constexpr int kCsidlProgramFilesX86 = 38;
constexpr win::UINT kCloseDelayMs = 15000;

Text BoolText(bool b) { return b ? u"True" : u"False"; }

// One installation at a time on a machine: two installers started together (a double click
// twice) would otherwise extract into the same temp folder and move each other's half-written
// files. The lock is a file next to the install folder, opened with no sharing: the system
// lets one process have it and takes it back from a process that ends, however it ends. It is
// deleted when it is closed.
class TInstallLock {
 public:
  static constexpr win::DWORD kWaitMaxMs = 10 * 60 * 1000;
  static constexpr win::DWORD kRetryMs = 100;

  // Waits until the lock is this process's (processing messages meanwhile); after
  // kWaitMaxMs, or when the lock file cannot be made at all, goes on without it.
  TInstallLock(const TPath& aLockFile, const std::function<void(const Text&)>& aLog) {
    TPath path = aLockFile;
    LongPathPrefixAdd(path);
    const Text name = path.ToString();
    bool waited = false;
    for (win::DWORD waitedMs = 0;; waitedMs += kRetryMs) {
      FHandle = win::CreateFileW(name.c_str(), win::GENERIC_READ | win::GENERIC_WRITE, 0, nullptr, win::OPEN_ALWAYS,
                                 win::FILE_ATTRIBUTE_HIDDEN | win::FILE_FLAG_DELETE_ON_CLOSE, nullptr);
      if (FHandle != win::INVALID_HANDLE_VALUE) break;
      const win::DWORD error = win::GetLastError();
      // In use by another installer, or just being deleted by the one that ended.
      const bool busy = error == win::ERROR_SHARING_VIOLATION || error == win::ERROR_ACCESS_DENIED;
      if (!busy || waitedMs >= kWaitMaxMs) {
        aLog(u"Installation lock " + aLockFile.ToString() + u" not taken: " + WindowsErrorText(error));
        return;
      }
      if (!waited) aLog(u"Waiting for another installation to end");
      waited = true;
      ApplicationProcessMessages();
      win::Sleep(kRetryMs);
    }
    if (waited) aLog(u"The other installation has ended");
  }
  ~TInstallLock() {
    if (FHandle != win::INVALID_HANDLE_VALUE) win::CloseHandle(FHandle);
  }
  TInstallLock(const TInstallLock&) = delete;
  TInstallLock& operator=(const TInstallLock&) = delete;

 private:
  win::HANDLE FHandle = win::INVALID_HANDLE_VALUE;
};

TPath LogFolderGet() { return ProductDataFolderGet() + TPath(u"Logs"); }

// Writes a file's cached content to the disk. The system copies into its cache: a copy that is
// moved into place unflushed could be found empty after a power cut.
bool FileFlush(const TPath& aPath) {
  const win::HANDLE h = FileOpen(aPath, win::OPEN_EXISTING, win::FILE_SHARE_READ, win::GENERIC_WRITE);
  if (h == win::INVALID_HANDLE_VALUE) return false;
  const bool flushed = win::FlushFileBuffers(h) != win::FALSE;
  TLastErrorKeeper keep;
  win::CloseHandle(h);
  return flushed;
}

}  // namespace

TForm1::TForm1(TComponent* aOwner) : TForm(aOwner, u"TForm1") {
  BorderStyleSet(TFormBorderStyle::bsNone);
  CaptionSet(u"Orvanta");
  FormStyleSet(TFormStyle::fsStayOnTop);
  PositionSet(TPosition::poScreenCenter);
  ClientWidthSet(501);
  ClientHeightSet(337);
  AutoSizeSet(true);
  Image1 = new TImage(this, this);
  Image1->AutoSizeSet(true);
  try {
    Image1->PictureLoad(kSplashPng, kSplashPngSize);
  } catch (const std::exception&) {
    // A splash the system cannot show leaves the form plain; the installation goes on.
  }
  tmrExecute = new TTimer(this);
  tmrExecute->IntervalSet(1);
  tmrExecute->EnabledSet(true);
  tmrExecute->OnTimerSet([this](TComponent* aSender) { tmrExecuteTimer(aSender); });
  tmrClose = new TTimer(this);
  tmrClose->EnabledSet(false);
  tmrClose->IntervalSet(5000);
  tmrClose->OnTimerSet([this](TComponent* aSender) { tmrCloseTimer(aSender); });
  OnCreate = [this](TComponent* aSender) { FormCreate(aSender); };
  OnDestroy = [this](TComponent* aSender) { FormDestroy(aSender); };
}

void TForm1::FormCreate(TComponent* Sender) {
  if (!Debug) return;
  Debug->LogToConsoleActivateIfConsoleRunning();
  Debug->FileLoggingActivateDefault(LogFolderGet());
  Debug->EnableLogging(LogFileKey);
}

void TForm1::FormDestroy(TComponent* Sender) { LogInstaller(u"Installer terminated"); }

void TForm1::tmrExecuteTimer(TComponent* Sender) {
  tmrExecute->EnabledSet(false);
  try {
    ExitCode = InstallRun();
  } catch (...) {
    ExitCode = 11;
    throw;  // to the application's handling of exceptions nobody caught
  }
}

void TForm1::tmrCloseTimer(TComponent* Sender) { Close(); }

void TForm1::LogInstaller(const Text& aText) { DebugLog(u"[Installer] " + aText); }

int TForm1::InstallRun() {
  // 1. The command line as name/value pairs.
  StartParamsGroup(u'-');
  LogInstaller(u"Params: " + StartParams.AsStringForDisplay());
  const bool hidden = StartParams.Has(Variant(Text(u"Hidden")));

  // 3. Windows 7 or later.
  if (!WindowsVersionIsSupported()) {
    ShowMessage(kMessageUnsupportedWindows);
    Close();
    return 5;
  }

  // 4., 5. The splash, painted once.
  if (StartParams.Has(Variant(Text(u"DebugInIDE")))) FormStyleSet(TFormStyle::fsNormal);
  VisibleSet(!hidden);
  ApplicationProcessMessages();

  // 6. Where the product goes.
  const TPath installFolder = SpecialFolderGet(kCsidlProgramFilesX86) + TPath(u"Orvanta");
  LogInstaller(u"Installation path: " + installFolder.ToString());

  // 7. The same build installed already?
  const bool requestedElevation = StartParams.Has(Variant(Text(u"RequestedElevation")));
  if (!requestedElevation && !ExistingInstallationCheck(installFolder)) {
    Close();
    return 4;
  }

  // 8. Administrative rights, through an elevated instance of this program.
  if (WindowsIsVistaOrLater() && IntegrityLevelGet() == kIntegrityMedium) {
    LogInstaller(u"Running without admin rights, requesting elevation");
    if (requestedElevation) {
      // This instance was started to be the elevated one and still is not: asking again
      // would start instance after instance without end.
      LogInstaller(u"The elevated instance runs without admin rights; not asking again");
      ShowMessage(kMessageNoPermission);
      Close();
      return 2;
    }
    for (int attempt = 1; attempt <= 3; ++attempt) {
      LogInstaller(u"Attempt #" + IntToText(attempt));
      StartParams.SetKeyAndValue(Variant(Text(u"RequestedElevation")), Variant(true));
      const Text parameters = StartParamsToCommandLine(StartParams, u'-');
      const int result = ShellExecuteWait(ExePathGet().ToString(), parameters, false, nullptr, u"runas", 1);
      LogInstaller(u"Elevation result: " + WindowsErrorText(result));
      if (result == 0) {
        Close();
        return 1;
      }
      if (attempt == 1) ShowMessage(kMessagePermission1);
      if (attempt == 2) ShowMessage(kMessagePermission2);
    }
    ShowMessage(kMessageNoPermission);
    Close();
    return 2;
  }

  // 9. Writes that Windows would redirect elsewhere must not happen.
  StopIf(UacVirtualizationIsActive(0), u"UAC Virtualization is Active");

  // From the survey to the last move, one installer at a time.
  TPath lockFile = installFolder;
  lockFile.LastSet(lockFile.LastGet() + u"-tmp.lock");
  TInstallLock installLock(lockFile, [this](const Text& aText) { LogInstaller(aText); });

  // 10. The payload's file list.
  InstallScriptLoad();

  // 11., 12. Which target files are in use.
  LogInstaller(u"Checking for existing files, and if they can be removed (" + IntToText(FilesList.Count()) + u")");
  bool RestartNeeded = false;
  for (int i = 0; i < FilesList.Count(); ++i) {
    const TPath target = installFolder + TPath(VariantToText(FilesList.GetValueByIndex(i)));
    Text status;
    if (!FileExistsAny(target)) {
      status = u"NOT FOUND";
    } else if (FileIsAvailable(target)) {
      status = u"FOUND - AVAILABLE";
    } else {
      status = u"FOUND - IN USE";
      RestartNeeded = true;
    }
    LogInstaller(u"File #" + IntToText(i + 1) + u": " + target.ToString() + u" " + status);
  }
  LogInstaller(u"Conclusion: RestartNeeded = " + BoolText(RestartNeeded));

  // 13., 14. The payload, unpacked next to the install folder.
  TPath tempFolder = installFolder;
  tempFolder.LastSet(tempFolder.LastGet() + u"-tmp");
  LogInstaller(u"Extracting files to: " + tempFolder.ToString());
  if (!FilesExtract(tempFolder)) {
    ShowMessage(kMessageExtractionFailed);
    Close();
    return 9;
  }

  // 15. A copy of the driver for this Windows, to be moved into the system's driver folder.
  // An earlier run whose moves still wait for a restart may have left a copy: it is replaced,
  // so that the driver placed is always this payload's.
  const TPath driverSource = tempFolder + TPath(u"Drivers") + TPath(u"Vexlon") + TPath(ArchitectureName()) +
                             TPath(u"Vexlon.sys");
  TPath driverCopy = driverSource;
  driverCopy.LastSet(driverCopy.LastGet() + u"-tmp");
  const bool copied = FileCopy(driverSource, driverCopy, false) && FileFlush(driverCopy);
  LogInstaller(u"Copy from " + driverSource.ToString() + u" to " + driverCopy.ToString() + u". " +
               ResultText(copied));

  // 16., 17. Every file into place, now or at the next restart.
  std::uint64_t moveFlags = win::MOVEFILE_REPLACE_EXISTING;
  if (RestartNeeded) moveFlags = FlagsAdd(moveFlags, win::MOVEFILE_DELAY_UNTIL_REBOOT);
  for (int i = 0; i < FilesList.Count(); ++i) {
    const Text entry = VariantToText(FilesList.GetValueByIndex(i));
    const TPath source = tempFolder + TPath(entry);
    const TPath target = installFolder + TPath(entry);
    FolderOfFileCreate(target);
    const bool moved = FileMove(source, target, static_cast<win::DWORD>(moveFlags), false);
    LogInstaller(u"Move from " + source.ToString() + u" to " + target.ToString() + u". " + ResultText(moved));
  }

  // 18., 19. The temp folder goes at the next restart; the driver goes into the system's
  // driver folder, past the redirection of 32-bit programs. The deletions are recorded after
  // the driver's move: a restart carries recorded operations out in order, and the copy of
  // the driver lies in the temp folder.
  LogInstaller(u"Schedule deletion of temp directory after restart: " + tempFolder.ToString());
  const TPath driverTarget = SystemFolderGet() + TPath(u"Drivers") + TPath(u"Vexlon.sys");
  Wow64FsRedirectionDisable();
  const bool driverMoved = FileMove(driverCopy, driverTarget, static_cast<win::DWORD>(moveFlags), false);
  Wow64FsRedirectionRevert();
  const Text driverResult = ResultText(driverMoved);
  FolderDeleteAfterRestart(tempFolder);
  LogInstaller(u"Move from " + driverCopy.ToString() + u" to " + driverTarget.ToString() + u". " + driverResult);

  // 20. Pending renames live in the registry: on disk before anything else can go wrong.
  if (RestartNeeded) RegistryFlushAll();

  int result;
  if (RestartNeeded) {
    // 21. The new files take their places at the restart.
    if (hidden) {
      result = 13;
    } else {
      RestartPrompt();
      result = 12;
    }
    Close();
  } else {
    // 22. The product, started for the first time.
    TFlexArray params;
    params.SetKeyAndValue(Variant(Text(u"Installer")), Variant(ExePathGet().ToString()));
    params.SetKeyAndValue(Variant(Text(u"FirstRunAfterInstall")), Variant(true));
    if (StartParams.Has(Variant(Text(u"DebugRun")))) params.SetKeyAndValue(Variant(Text(u"DebugInIDE")), Variant(true));
    const TPath core = installFolder + TPath(u"Vexlon.exe");
    LogInstaller(u"Running " + core.ToString() + u" with params " + params.AsStringForDisplay());
    const bool started = ProcessCreate(core, StartParamsToCommandLine(params, u'-'), -1);
    LogInstaller(u"Started Vexlon: " + ResultText(started));
    result = 10;
  }

  // 23. The program ends a while after the product started.
  LogInstaller(u"Scheduled close in 15 seconds");
  tmrClose->IntervalSet(kCloseDelayMs);
  tmrClose->EnabledSet(true);
  return result;
}

// ---- The existing installation and the restart ---------------------------------------

bool TForm1::InstalledClassRegistered() {
  TRegistryFor64OS registry(win::KEY_ALL_ACCESS, false);
  registry.RootKeySet(win::HKEY_CLASSES_ROOT);
  return registry.OpenExistingTry(u"CLSID\\" + Text(kProductClassId));
}

bool TForm1::ExistingInstallationCheck(const TPath& aInstallFolder) {
  bool result = true;
  const TPath core = aInstallFolder + TPath(u"Vexlon.exe");
  bool same = false;
  if (InstalledClassRegistered() && FileExistsAny(core)) {
    const std::uint16_t installed = ExeBuildGet(core.ToString());
    LogInstaller(u"Found existing installation. Build: " + IntToText(installed));
    const std::uint16_t own = ExeBuildGet();
    LogInstaller(u"Installer build: " + IntToText(own));
    same = installed == own;
  }
  if (!same) return true;

  TTaskDialog dialog;
  dialog.Caption = u"Already installed";
  dialog.TextSet(u"It looks like you already have Orvanta installed with the same version (" + ExeVersionText() +
                 u")." + u"\r\n\r\n" + u"What would you like to do?");
  dialog.MainIcon = TTaskDialogIcon::tdiInformation;
  dialog.CommonButtons = 0;
  const char16_t* const captions[] = {u"Abort Installation", u"Re-Install", u"Just open Orvanta"};
  for (int i = 0; i < 3; ++i) {
    TTaskDialogButtonItem& button = dialog.Buttons.Add();
    button.Caption = captions[i];
    button.ModalResult = 100 + i;
  }
  dialog.Execute();
  const int choice = dialog.ModalResult;
  if (choice == 100 || choice == 102) result = false;
  if (choice == 102) {
    TFlexArray params;
    params.SetKeyAndValue(Variant(Text(u"Installer")), Variant(ExePathGet().ToString()));
    if (StartParams.Has(Variant(Text(u"DebugRun")))) params.SetKeyAndValue(Variant(Text(u"DebugInIDE")), Variant(true));
    LogInstaller(u"Running " + core.ToString() + u" with params " + params.AsStringForDisplay());
    const bool started = ProcessCreate(core, StartParamsToCommandLine(params, u'-'));
    LogInstaller(u"Started Vexlon: " + ResultText(started));
  }
  return result;
}

void TForm1::RestartPrompt() {
  TTaskDialog dialog;
  dialog.Caption = u"Restart Needed";
  dialog.TextSet(
      u"Installation is almost done, but in order to complete it, your computer needs to be restarted.\r\n\r\nWould "
      u"you like to restart your computer right now?");
  dialog.MainIcon = TTaskDialogIcon::tdiInformation;
  dialog.CommonButtons = 0;
  const char16_t* const captions[] = {u"Restart Now", u"I will do it later"};
  for (int i = 0; i < 2; ++i) {
    TTaskDialogButtonItem& button = dialog.Buttons.Add();
    button.Caption = captions[i];
    button.ModalResult = 100 + i;
  }
  dialog.Execute();
  if (dialog.ModalResult == 100) {
    PrivilegeSet(true, u"SeShutdownPrivilege");
    win::ExitWindowsEx(win::EWX_REBOOT, 0);
  }
}

// ---- The program entry ---------------------------------------------------------------

int InstallerMain() {
  Application->Initialize();
  if (Units) Units->Run();
  Application->ShowMainForm = false;
  Application->MainFormOnTaskBar = false;
  Application->TitleSet(u"Orvanta - Installer");
  // An exception nobody caught (the sequence's among them: exit code 11) ends as a problem
  // report of the crash reporter; the program then ends instead of waiting with its splash.
  Application->OnException = [](std::exception_ptr aException) {
    try {
      std::rethrow_exception(aException);
    } catch (const std::exception& e) {
      if (Debug) Debug->HandleException(e);
    } catch (...) {
    }
    if (TForm* form = Application->MainForm()) form->Close();
  };
  try {
    Application->CreateForm<TForm1>();
    Application->Run();
  } catch (const std::exception& e) {
    // Outside any event handler (the form's creation): the same path, and the exit code of
    // an exception.
    if (Debug) Debug->HandleException(e);
    ExitCode = 11;
  }
  // The form goes before the program ends, so that its last line is logged; then every line
  // is written and the log file closed while the whole program still exists (the exit
  // handlers that follow tear down what the log's writer thread uses).
  ComponentFree(Application->MainForm());
  LogTransportGet()->Close();
  return ExitCode;
}
