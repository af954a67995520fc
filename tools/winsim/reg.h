// winsim reg and reg-set: a machine's registry from the host.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace winsimreg {

// Prints the values (NAME, TYPE, VALUE; tab-separated) and then the subkeys (NAME\) of KEY
// in the given view (64 or 32). std::runtime_error for a bad key or view, or an absent key.
void RegPrint(const std::string& aMachine, const std::string& aKey, int aView, std::ostream& out);
// Creates KEY (and the keys on the way) and sets each NAME=TYPE:VALUE; all are checked
// before anything changes.
void RegSet(const std::string& aMachine, const std::string& aKey, const std::vector<std::string>& aAssignments,
            int aView);

}  // namespace winsimreg
