#include "installer/uMain.h"

#include <algorithm>
#include <string>

#include "compression/LZMAStream.h"
#include "compression/MemoryStream.h"
#include "diag/uMisc.h"
#include "installer/uInstallScript.h"
#include "params/uMiscLean.h"
#include "rtl/Exception.h"
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
// could not be written completely is never left looking complete.
void FileSave(const Text& aTarget, const void* aData, std::int64_t aSize) {
  const Text part = aTarget + u".part";
  win::HANDLE h = win::CreateFileW(LongPath(part).c_str(), win::GENERIC_WRITE, 0, nullptr, win::CREATE_ALWAYS,
                                   win::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == win::INVALID_HANDLE_VALUE) throw Exception(u"Cannot create " + part);
  const auto* p = static_cast<const unsigned char*>(aData);
  bool ok = true;
  while (aSize > 0 && ok) {
    win::DWORD chunk = static_cast<win::DWORD>(std::min<std::int64_t>(aSize, 1 << 24));
    win::DWORD written = 0;
    ok = win::WriteFile(h, p, chunk, &written, nullptr) && written == chunk;
    p += chunk;
    aSize -= chunk;
  }
  win::CloseHandle(h);
  if (!ok || !win::MoveFileExW(LongPath(part).c_str(), LongPath(aTarget).c_str(),
                               win::MOVEFILE_REPLACE_EXISTING)) {
    win::DeleteFileW(LongPath(part).c_str());
    throw Exception(u"Cannot write " + aTarget);
  }
}

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
  for (int k = 0; k < FilesList.Count(); ++k) {
    try {
      const Text entry = VariantToText(FilesList.GetValueByIndex(k));
      // An entry that would land outside the folder is never written.
      if (!InstallScriptEntryCheck(entry).empty()) throw Exception(u"Entry outside the install folder: " + entry);
      TResourceView resource = ResourceOpen(ResourceModule, u"F" + T(std::to_string(k)));
      TLZMAStream stream;
      stream.PrepareStreams();
      stream.Compressed->Write(resource.Data, static_cast<std::int32_t>(resource.Size));
      stream.Compressed->SetPosition(0);
      stream.Decompress();
      const TPath target = aFolder + entry;
      FolderOfFileCreate(target);
      FileSave(target.ToString(), stream.Decompressed->Memory(), stream.Decompressed->Size());
      ApplicationProcessMessages();
    } catch (...) {
      result = false;
    }
  }
  return result;
}
