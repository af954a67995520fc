// The machine folder: its creation, its configuration and where the drives live.
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/sim/machine.h"
#include "platform/sim/registry.h"
#include "platform/sim/restable.h"
#include "platform/sim/tables.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

const char* const kConfigFile = "machine.ini";
const char* const kFormatLine = "format=orvanta-winsim-1";

}  // namespace

std::string DriveHostFolder(const std::string& aMachine, char aDrive) {
  return aMachine + "/drives/" + static_cast<char>(std::toupper(static_cast<unsigned char>(aDrive)));
}

MachineConfig MachineConfigRead(const std::string& aFolder) {
  std::ifstream in(aFolder + "/" + kConfigFile);
  if (!in) {
    // Missing is not a machine; there but unreadable is a damaged one.
    int e = errno;
    struct stat st;
    if (::stat((aFolder + "/" + kConfigFile).c_str(), &st) != 0 && errno == ENOENT)
      throw MachineError("not a machine folder: " + aFolder + " (no " + kConfigFile + ")");
    throw MachineError("damaged machine folder: " + aFolder + " (cannot read " + kConfigFile + ": " +
                       std::strerror(e ? e : EIO) + ")");
  }
  struct stat st;
  if (::stat((aFolder + "/" + kConfigFile).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    throw MachineError("damaged machine folder: " + aFolder + " (" + kConfigFile + " is not a file)");
  std::string line;
  MachineConfig c;
  bool format = false;
  std::map<std::string, std::string> values;
  while (std::getline(in, line)) {
    if (line == kFormatLine) {
      format = true;
      continue;
    }
    auto eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  if (!format) throw MachineError("damaged machine folder: " + aFolder + " (" + kConfigFile + " has no format line)");
  try {
    std::string w = values.at("windows");
    auto dot = w.find('.');
    c.WindowsMajor = std::stoi(w.substr(0, dot));
    c.WindowsMinor = dot == std::string::npos ? 0 : std::stoi(w.substr(dot + 1));
    c.Bits = std::stoi(values.at("bits"));
    c.ComputerName = values.at("computer");
  } catch (const std::exception&) {
    throw MachineError("damaged machine folder: " + aFolder + " (" + kConfigFile + " is incomplete)");
  }
  if (c.Bits != 32 && c.Bits != 64) throw MachineError("damaged machine folder: " + aFolder + " (bits)");
  for (const char* d : {"drives/C", "state"}) {
    if (!fs::is_directory(aFolder + "/" + d))
      throw MachineError("damaged machine folder: " + aFolder + " (" + d + " missing)");
  }
  return c;
}

void MachineCreate(const std::string& aFolder, const MachineConfig& aConfig) {
  if (aConfig.Bits != 32 && aConfig.Bits != 64) throw MachineError("bits must be 32 or 64");
  if (aConfig.WindowsMajor < 5 || aConfig.WindowsMajor > 99 || aConfig.WindowsMinor < 0 || aConfig.WindowsMinor > 99)
    throw MachineError("unknown Windows version");
  if (aConfig.ComputerName.empty() || aConfig.ComputerName.size() > 15 ||
      aConfig.ComputerName.find_first_of(" \t\\/:*?\"<>|") != std::string::npos)
    throw MachineError("a computer name has 1 to 15 characters and no spaces or \\/:*?\"<>|");
  std::error_code ec;
  fs::path target = fs::absolute(aFolder);
  if (fs::exists(target, ec) && !(fs::is_directory(target, ec) && fs::is_empty(target, ec)))
    throw MachineError("will not create a machine in " + aFolder + ": it exists and is not an empty folder");
  fs::path parent = target.parent_path();
  if (!fs::is_directory(parent, ec)) throw MachineError("folder " + parent.string() + " does not exist");

  // Built aside, then renamed into place: a machine folder is complete or absent.
  std::string tmpl = (parent / (".winsim-new-XXXXXX")).string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back(0);
  if (!::mkdtemp(buf.data())) throw MachineError("cannot create a folder in " + parent.string());
  std::string tmp(buf.data());
  try {
    std::string c = tmp + "/drives/C";
    auto dir = [&](const std::string& winRel) {
      std::string p = c;
      if (!winRel.empty()) p += "/" + winRel;
      fs::create_directories(p);
      HostAttributesSet(p, win::FILE_ATTRIBUTE_DIRECTORY);
    };
    dir("");
    for (const char* d : {"Windows", "Windows/System32", "Windows/System32/drivers", "Program Files", "ProgramData",
                          "Users", "Users/User", "Users/User/Downloads", "Users/User/Desktop", "Users/User/AppData",
                          "Users/User/AppData/Local", "Users/User/AppData/Local/Temp", "Users/User/AppData/Roaming"}) {
      dir(d);
    }
    if (aConfig.Bits == 64) {
      dir("Windows/SysWOW64");
      dir("Windows/SysWOW64/drivers");
      dir("Program Files (x86)");
    }
    fs::create_directories(tmp + "/state");
    // The system's own files: shell32.dll carries the Windows version in its version resource.
    std::vector<std::string> systemFolders = {"Windows/System32"};
    if (aConfig.Bits == 64) systemFolders.push_back("Windows/SysWOW64");
    for (const auto& sf : systemFolders) {
      std::string stub = "MZ simulated system library\n";
      ResourceTable table;
      table.Add(ResourceId(16), ResourceId(1), 0x0409,
                VersionResourceBuild(static_cast<win::WORD>(aConfig.WindowsMajor), static_cast<win::WORD>(aConfig.WindowsMinor),
                                     19041, 1, u"Windows Shell Common Dll", true));
      std::string path = c + "/" + sf + "/shell32.dll";
      FileWriteAll(path, stub);
      table.AppendTo(path);
      HostAttributesSet(path, win::FILE_ATTRIBUTE_ARCHIVE);
      std::string explorer = c + "/Windows/explorer.exe";
      if (!fs::exists(explorer)) {
        FileWriteAll(explorer, "MZ simulated desktop shell\n");
        HostAttributesSet(explorer, win::FILE_ATTRIBUTE_ARCHIVE);
      }
    }
    std::ostringstream ini;
    ini << kFormatLine << "\n"
        << "windows=" << aConfig.WindowsMajor << "." << aConfig.WindowsMinor << "\n"
        << "bits=" << aConfig.Bits << "\n"
        << "computer=" << aConfig.ComputerName << "\n";
    FileWriteAll(tmp + "/state/nextpid", "1000\n");
    FileWriteAll(tmp + "/events.jsonl", "");
    FileWriteAll(tmp + "/state/processes", "");
    FileWriteAll(tmp + "/state/exits", "");
    FileWriteAll(tmp + "/state/hostpids", "");
    FileWriteAll(tmp + "/state/handles", "");
    FileWriteAll(tmp + "/state/answers", "");
    FileWriteAll(tmp + "/" + kConfigFile, ini.str());
    // The keys every Windows has.
    RegStore roots;
    roots.Create(u"HKLM");
    roots.Create(u"HKU");
    FileWriteAll(tmp + "/registry.txt", RegistryFormat(roots));
    RegistryTransact(tmp, [&](RegStore& r) {
      for (const char16_t* k : {u"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                u"HKLM\\SYSTEM\\CurrentControlSet\\Services",
                                u"HKLM\\SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current",
                                u"HKLM\\SOFTWARE\\Classes\\CLSID", u"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"}) {
        r.Create(k);
      }
      if (aConfig.Bits == 64) r.Create(u"HKLM\\SOFTWARE\\Wow6432Node\\Microsoft");
      r.Create(Text(u"HKU\\") + kUserSid + u"\\Software\\Classes");
      return true;
    });
    // The desktop shell: a process at medium integrity that runs no host program.
    ProcessRecord shell;
    shell.Parent = 0;
    shell.Integrity = kIntegrityMedium;
    shell.Bits = aConfig.Bits;
    shell.Image = "C:\\Windows\\explorer.exe";
    shell.CommandLine = "C:\\Windows\\explorer.exe";
    shell.CurrentDirectory = "C:\\Windows\\";
    ProcessRecordOnly(tmp, shell, std::nullopt);
    if (fs::exists(target, ec)) fs::remove(target, ec);  // the empty folder it replaces
    fs::rename(tmp, target);
  } catch (...) {
    fs::remove_all(tmp, ec);
    throw;
  }
}

std::string MachineFolderHost() {
  const char* m = std::getenv("WINSIM_MACHINE");
  return m ? std::string(m) : std::string();
}

}  // namespace sim
