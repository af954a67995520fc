// The key text with which the installer encrypts its log files: a fixed 16-bit constant as
// four upper-case hexadecimal digits, four times ("5A3C5A3C5A3C5A3C").
#pragma once

#include <cstdint>

#include "platform/win32api_types.h"

constexpr std::uint16_t kLogFileKeyConstant = 0x5A3C;

Text LogFileKeyForm();
