// The resource table that the Linux build appends to an executable or library, so that the
// simulated FindResourceW/LoadResource read resources from the mapped file. The format is
// described in docs/resource-table.md.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32api_types.h"

namespace sim {

// A resource type or name: a number, or a text compared without regard to case.
struct ResourceId {
  ResourceId() = default;
  explicit ResourceId(win::WORD aId) : Id(aId) {}
  explicit ResourceId(Text aName) : Name(std::move(aName)) {}
  win::WORD Id = 0;  // 0: named
  Text Name;
  bool Matches(const ResourceId& aOther) const;
};

struct ResourceEntry {
  ResourceId Type;
  ResourceId Name;
  win::WORD Language = 0;
  std::uint64_t Offset = 0;  // from the start of the file
  std::uint64_t Size = 0;
};

class ResourceTable {
 public:
  // Adds a resource held in memory (for writing).
  void Add(ResourceId aType, ResourceId aName, win::WORD aLanguage, std::string aData);
  // Drops a resource added with this type, name and language; false when there is none.
  bool Remove(const ResourceId& aType, const ResourceId& aName, win::WORD aLanguage);
  // Adds a resource, or replaces the one of the same type, name and language.
  void Set(ResourceId aType, ResourceId aName, win::WORD aLanguage, std::string aData);
  // Adds a resource whose data is streamed from a host file when the table is written.
  void AddFile(ResourceId aType, ResourceId aName, win::WORD aLanguage, std::string aHostPath);
  // Appends the resources and the table to a file (which must not carry one yet).
  // Throws std::runtime_error on an I/O failure.
  void AppendTo(const std::string& aHostPath) const;

  // Reads the table of a file; nullopt when the file carries none (or a damaged one).
  static std::optional<std::vector<ResourceEntry>> Read(const std::string& aHostPath);

 private:
  struct Pending {
    ResourceId Type, Name;
    win::WORD Language;
    std::string Data;
    std::string HostPath;
  };
  std::vector<Pending> FPending;
};

// A VS_VERSIONINFO block as Windows lays it out: the fixed part (VS_FIXEDFILEINFO) with
// the file and product version major.minor.release.build, and a string table with
// FileVersion and FileDescription. bLibrary: a DLL rather than an application.
std::string VersionResourceBuild(win::WORD aMajor, win::WORD aMinor, win::WORD aRelease, win::WORD aBuild,
                                 const Text& aDescription, bool bLibrary);

}  // namespace sim
