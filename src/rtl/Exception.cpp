#include "rtl/Exception.h"
