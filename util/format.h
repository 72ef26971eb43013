// Number-to-text formats shared by the scanners, the result screen and the writers.
#pragma once

#include <cstdint>
#include <string>

namespace tamsel {

// Duration text with only the largest unit, rounded down: "2 hours", "1 hour",
// "5 minutes", "1 minute", "45 seconds", "1 second".
std::string getCallHistoryDuration(int32_t seconds);

// Size text with two decimals and a decimal unit letter: "999.00B", "1.00K", "1.50M",
// "3.00G". The count is taken as an unsigned 32-bit value.
std::string size_to_unit(uint32_t bytes);

}  // namespace tamsel
