// Adds real PE resources to a Windows executable: the stub's bytes, then a new ".rsrc"
// section at the end of the file holding the resource directory and the data, streamed
// from host files where given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32api_types.h"

namespace pack {

struct PeResource {
  std::uint16_t TypeId = 0;  // 0: named by TypeName
  Text TypeName;
  std::uint16_t NameId = 0;  // 0: named by Name
  Text Name;
  std::uint16_t Language = 0;
  std::string Data;      // the bytes, or
  std::string HostPath;  // a file to stream them from
};

// A stub read and found extendable: its bytes and where its headers are.
struct PeStub {
  std::string Image;
  std::size_t Coff = 0, Opt = 0, Dirs = 0, NewHeader = 0;
  std::uint32_t Sections = 0, SectionAlign = 0, FileAlign = 0;
  std::uint64_t ImageEnd = 0;
};

// Reads aStub. Raises PackError when it is not a PE executable this can extend (cut short,
// already carries resources or a signature, no room for another section header).
PeStub PeStubRead(const std::string& aStub);

// Writes aTarget. Raises PackError when the stub is not a PE executable this can extend
// (already carries resources or a signature, no room for another section header).
void PeResourcesWrite(const std::string& aStub, const std::string& aTarget, const std::vector<PeResource>& aResources);

}  // namespace pack
