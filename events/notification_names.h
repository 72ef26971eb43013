// Every notification name, with the exact text scanners and observers agree on.
#pragma once

#include <string_view>

namespace tamsel::notify {

// iPhone backup scan.
inline constexpr std::string_view kScanPhotoAndVideo = "ScanPhotoAndVideo";
inline constexpr std::string_view kScanPhotoAndVideoInfo = "ScanPhotoAndVideoInfo";
inline constexpr std::string_view kScanFaceTwitterInfo = "scanFaceTwitterInfo";
inline constexpr std::string_view kScanContactInfo = "ScanContactInfo";
inline constexpr std::string_view kScanMessageInfo = "ScanMessageInfo";
inline constexpr std::string_view kScanCallHistoryInfo = "ScanCallHistoryInfo";
inline constexpr std::string_view kScanNoteInfo = "ScanNoteInfo";
inline constexpr std::string_view kScanBookMarkInfo = "scanBookMarkInfo";
inline constexpr std::string_view kScanCalenderInfo = "scanCalenderInfo";
inline constexpr std::string_view kScanDelContactInfo = "ScanDelContactInfo";
inline constexpr std::string_view kScanDelMessageInfo = "ScanDelMessageInfo";
inline constexpr std::string_view kScanDelNoteInfo = "ScanDelNoteInfo";
inline constexpr std::string_view kScanDelCallHistoryInfo = "ScanDelCallHistoryInfo";
inline constexpr std::string_view kScanDelBookMarkInfo = "scanDelBookMarkInfo";
inline constexpr std::string_view kScanDelCalenderInfo = "scanDelCalenderInfo";
inline constexpr std::string_view kScanProgressInfo = "ScanProgressInfo";

// BlackBerry backups (the misspellings are the protocol's own).
inline constexpr std::string_view kBlacBerryContactInfo = "BlacBerryContactInfo";
inline constexpr std::string_view kBlacBerryCallLogInfo = "BlacBerryCallLogInfo";
inline constexpr std::string_view kBlackBerrySMSMessageInfo = "BlackBerrySMSMessageInfo";
inline constexpr std::string_view kBlackBerryMMSMessageInfo = "BlackBerryMMSMessageInfo";
inline constexpr std::string_view kBlackBerryNoteInfo = "BlackBerryNoteInfo";
inline constexpr std::string_view kBlackBerryCalenderInfo = "BlackBerryCalenderInfo";
inline constexpr std::string_view kBlackBerryContentStoreInfo = "BlackBerryContentStoreInfo";

// BlackBerry readers and the raw scan.
inline constexpr std::string_view kBlackBerryRawRecoveryProgress = "BlackBerryRawRecoveryProgress";
inline constexpr std::string_view kBlackBerryRawRecoveryFileInfo = "BlackBerryRawRecoveryFileInfo";

// Home view hover buttons.
inline constexpr std::string_view kPRbuttonMouseEntered = "PRbuttonMouseEntered";
inline constexpr std::string_view kPRbuttonMouseExited = "PRbuttonMouseExited";

}  // namespace tamsel::notify
