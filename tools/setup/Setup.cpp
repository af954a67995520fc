// The installer program. orvanta-pack writes a product's install script and payload into a
// copy of it (docs/orvanta-pack.md); run, it installs them.
#include "installer/uMain.h"

int main() { return InstallerMain(); }
