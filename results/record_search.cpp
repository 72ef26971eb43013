#include "results/record_search.h"

#include <algorithm>
#include <functional>

namespace tamsel {

namespace {

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Calls `add` with each text field of the record classes the tables show.
template <class T, class... M>
bool fieldsOf(const PRNode& n, const std::function<void(const std::string&)>& add, M T::*... m) {
  const T* r = dynamic_cast<const T*>(&n);
  if (!r) return false;
  (add(r->*m), ...);
  return true;
}

void eachText(const PRNode& n, const std::function<void(const std::string&)>& add) {
  fieldsOf<PRPhotoAndVideoNode>(n, add, &PRPhotoAndVideoNode::fileNodeName,
                                &PRPhotoAndVideoNode::fileNodeSize) ||
      fieldsOf<PRContactNode>(n, add, &PRContactNode::contactName, &PRContactNode::contactPhone,
                              &PRContactNode::contactEmail, &PRContactNode::contactHomepage,
                              &PRContactNode::contactCompany, &PRContactNode::contactBirthday,
                              &PRContactNode::contactJobtitle, &PRContactNode::contactNote,
                              &PRContactNode::contactAdress) ||
      fieldsOf<PRMessageNode>(n, add, &PRMessageNode::messageName, &PRMessageNode::messagePhone,
                              &PRMessageNode::messageContent, &PRMessageNode::messageDate,
                              &PRMessageNode::messageType) ||
      fieldsOf<PRCallHistoryNode>(n, add, &PRCallHistoryNode::callName,
                                  &PRCallHistoryNode::callPhone, &PRCallHistoryNode::callDate,
                                  &PRCallHistoryNode::callType, &PRCallHistoryNode::callDuration,
                                  &PRCallHistoryNode::callService) ||
      fieldsOf<PRNoteNode>(n, add, &PRNoteNode::noteTitle, &PRNoteNode::noteContent,
                           &PRNoteNode::noteDate) ||
      fieldsOf<PRBookMarkNode>(n, add, &PRBookMarkNode::bookMarkTitle,
                               &PRBookMarkNode::bookMarkURL) ||
      fieldsOf<PRCalenderNode>(n, add, &PRCalenderNode::calTitle, &PRCalenderNode::calNote,
                               &PRCalenderNode::location, &PRCalenderNode::startDate,
                               &PRCalenderNode::endDate) ||
      fieldsOf<PRFaceTwitterNode>(n, add, &PRFaceTwitterNode::faceTwitterFileName,
                                  &PRFaceTwitterNode::faceTwitterFilePath,
                                  &PRFaceTwitterNode::fileSize) ||
      fieldsOf<PRBlackBerryCallNode>(
          n, add, &PRBlackBerryCallNode::CallName, &PRBlackBerryCallNode::CallNumber,
          &PRBlackBerryCallNode::CallTime, &PRBlackBerryCallNode::CallType,
          &PRBlackBerryCallNode::callDuration) ||
      fieldsOf<PRBlackBerryContactNode>(
          n, add, &PRBlackBerryContactNode::contactName, &PRBlackBerryContactNode::companyName,
          &PRBlackBerryContactNode::titleName, &PRBlackBerryContactNode::email,
          &PRBlackBerryContactNode::phoneNumber, &PRBlackBerryContactNode::workCall,
          &PRBlackBerryContactNode::homeCall, &PRBlackBerryContactNode::mobilCall,
          &PRBlackBerryContactNode::pinNumber, &PRBlackBerryContactNode::address,
          &PRBlackBerryContactNode::city, &PRBlackBerryContactNode::provice,
          &PRBlackBerryContactNode::country, &PRBlackBerryContactNode::postZcode,
          &PRBlackBerryContactNode::brithday, &PRBlackBerryContactNode::categories,
          &PRBlackBerryContactNode::webSite, &PRBlackBerryContactNode::note) ||
      fieldsOf<PRBlackBerryMMSMessageNode>(
          n, add, &PRBlackBerryMMSMessageNode::numberName, &PRBlackBerryMMSMessageNode::contentText,
          &PRBlackBerryMMSMessageNode::contentDataName, &PRBlackBerryMMSMessageNode::contentType) ||
      fieldsOf<PRBlackBerrySMSMessageNode>(n, add, &PRBlackBerrySMSMessageNode::contentText,
                                           &PRBlackBerrySMSMessageNode::numberString,
                                           &PRBlackBerrySMSMessageNode::type,
                                           &PRBlackBerrySMSMessageNode::dateTime) ||
      fieldsOf<PRBlackBerryNoteNode>(n, add, &PRBlackBerryNoteNode::noteTittle,
                                     &PRBlackBerryNoteNode::noteContent) ||
      fieldsOf<PRBlackBerryCalenderNode>(
          n, add, &PRBlackBerryCalenderNode::bbCalSubject,
          &PRBlackBerryCalenderNode::bbCalInformation, &PRBlackBerryCalenderNode::bbCalLocation,
          &PRBlackBerryCalenderNode::bbCalStartDate, &PRBlackBerryCalenderNode::bbCalEndDate) ||
      fieldsOf<PRBlackBerryContentNode>(n, add, &PRBlackBerryContentNode::filePathName,
                                        &PRBlackBerryContentNode::ContentFileType,
                                        &PRBlackBerryContentNode::contentFileSize) ||
      fieldsOf<PRScanListNode>(n, add, &PRScanListNode::nodeName, &PRScanListNode::nodeSizeString,
                               &PRScanListNode::createTime, &PRScanListNode::modifyTime,
                               &PRScanListNode::validaty);
}

// `word` (lower case) within `text`, ignoring the case of its ASCII letters.
bool containsFolded(const std::string& text, const std::string& word) {
  auto it = std::search(text.begin(), text.end(), word.begin(), word.end(),
                        [](char a, char b) { return lower(a) == b; });
  return it != text.end();
}

}  // namespace

std::vector<std::string> searchWords(std::string_view typed) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < typed.size()) {
    while (i < typed.size() && blank(typed[i])) ++i;
    const size_t start = i;
    while (i < typed.size() && !blank(typed[i])) ++i;
    if (i > start) {
      std::string w(typed.substr(start, i - start));
      std::transform(w.begin(), w.end(), w.begin(), lower);
      words.push_back(std::move(w));
    }
  }
  return words;
}

bool recordMatches(const PRNode& record, const std::vector<std::string>& words) {
  if (words.empty()) return true;
  std::vector<bool> found(words.size(), false);
  size_t left = words.size();
  eachText(record, [&](const std::string& text) {
    for (size_t i = 0; i < words.size() && left > 0; ++i) {
      if (!found[i] && containsFolded(text, words[i])) {
        found[i] = true;
        --left;
      }
    }
  });
  return left == 0;
}

}  // namespace tamsel
