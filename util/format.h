// Number-to-text formats shared by the scanners, the result screen and the writers.
#pragma once

#include <cstdint>
#include <string>

namespace tamsel {

// Duration text with only the largest unit, rounded down: "2 hours", "1 hour",
// "5 minutes", "1 minute", "45 seconds", "1 second".
std::string getCallHistoryDuration(int32_t seconds);

// Size text with two decimals and a decimal unit letter: "999.00B", "1.00K", "1.50M",
// "3.00G"; from 10^9 on the unit stays "G" (a 5 GB file on a card is "5.00G"). The whole
// 64-bit count is used: a length of 4 GiB or more is not cut to its low 32 bits.
std::string size_to_unit(uint64_t bytes);

}  // namespace tamsel
