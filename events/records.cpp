#include "events/records.h"

#include <cstring>

namespace tamsel {

void PRScanListNode::setfile(const _rec_file_ele& ele) {
  fileinfo.file_start = ele.file_start;
  fileinfo.file_len = ele.file_len;
  fileinfo.file_name_len = ele.file_name_len;
  fileinfo.journal_file = nullptr;
  name_.assign(static_cast<size_t>(ele.file_name_len) + 1, '\0');
  if (ele.pFileName != nullptr) {
    for (uint32_t i = 0; i < ele.file_name_len && ele.pFileName[i] != '\0'; ++i) {
      name_[i] = ele.pFileName[i];
    }
  }
  fileinfo.pFileName = name_.data();
}

}  // namespace tamsel
