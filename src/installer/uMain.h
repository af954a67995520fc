// The installer's splash form, TForm1: so far the install script and the extraction of the
// payload; the installation sequence and the window come with it later.
#pragma once

#include "params/uFlexArray.h"
#include "paths/uPaths.h"
#include "platform/win32api.h"

class TForm1 {
 public:
  // The file names of the payload, one value without key per entry of INSTALLSCRIPT.
  TFlexArray FilesList;

  // Appends the entries of the INSTALLSCRIPT resource to FilesList. Raises when the
  // resource is missing.
  void InstallScriptLoad();
  // Unpacks entry k from resource "F"+k into aFolder + entry k, for every k. True when every
  // file was written; a file that fails is skipped and the others are still tried. Stops
  // ("Error: ") when FilesList is empty.
  bool FilesExtract(const TPath& aFolder);

  // The module that carries the payload: the installer's own executable (null) unless a
  // test points it at another.
  win::HMODULE ResourceModule = nullptr;
};
