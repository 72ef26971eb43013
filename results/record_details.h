// The fields of a result record that its preview lines leave out: for any record the result
// screen shows (phone backup, BlackBerry backup, memory card), the fields that hold a value
// and that the category's own preview lines do not show, as labelled lines in a fixed order.
#pragma once

#include <string>
#include <vector>

#include "events/records.h"

namespace tamsel {

struct DetailLine {
  std::string label;  // "Created", "Service", ...
  std::string value;  // never empty
  bool operator==(const DetailLine&) const = default;
};

// The record's other fields with a value, in the order of the record's fields. Texts are
// taken without their surrounding blanks; a text of blanks only counts as empty. Flags give
// "Yes" when set and no line otherwise; sizes are size texts (util/format.h); dates are the
// date texts the record holds. A record of a class the screen does not show gives none.
std::vector<DetailLine> recordDetails(const PRNode& record);

// The lines as "Label: value", one per line ('\n' between them); a line break inside a
// value becomes a blank, so that each detail stays one line.
std::string recordDetailsText(const std::vector<DetailLine>& lines);

}  // namespace tamsel
