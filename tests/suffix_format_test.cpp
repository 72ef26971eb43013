// File kinds by suffix, size texts and call duration texts.
#include <gtest/gtest.h>

#include <cstdint>

#include "raw/suffix.h"
#include "util/format.h"

namespace tamsel {
namespace {

TEST(SizeText, DecimalUnitsWithTwoDecimals) {
  EXPECT_EQ(size_to_unit(0), "0.00B");
  EXPECT_EQ(size_to_unit(999), "999.00B");
  EXPECT_EQ(size_to_unit(1000), "1.00K");
  EXPECT_EQ(size_to_unit(1500), "1.50K");
  EXPECT_EQ(size_to_unit(1500000), "1.50M");
  EXPECT_EQ(size_to_unit(1000000000u), "1.00G");
  EXPECT_EQ(size_to_unit(3000000000u), "3.00G");
  EXPECT_EQ(size_to_unit(UINT32_MAX), "4.29G");
}

TEST(DurationText, OnlyTheLargestUnitRoundedDown) {
  EXPECT_EQ(getCallHistoryDuration(1), "1 second");
  EXPECT_EQ(getCallHistoryDuration(0), "0 second");
  EXPECT_EQ(getCallHistoryDuration(2), "2 seconds");
  EXPECT_EQ(getCallHistoryDuration(45), "45 seconds");
  EXPECT_EQ(getCallHistoryDuration(59), "59 seconds");
  EXPECT_EQ(getCallHistoryDuration(60), "1 minute");
  EXPECT_EQ(getCallHistoryDuration(75), "1 minute");
  EXPECT_EQ(getCallHistoryDuration(119), "1 minute");
  EXPECT_EQ(getCallHistoryDuration(120), "2 minutes");
  EXPECT_EQ(getCallHistoryDuration(130), "2 minutes");
  EXPECT_EQ(getCallHistoryDuration(3599), "59 minutes");
  EXPECT_EQ(getCallHistoryDuration(3600), "1 hour");
  EXPECT_EQ(getCallHistoryDuration(7199), "1 hour");
  EXPECT_EQ(getCallHistoryDuration(7200), "2 hours");
  EXPECT_EQ(getCallHistoryDuration(-70), "-10 second");
}

TEST(SuffixTables, LookupIgnoresCaseAndFindsFirstEntries) {
  EXPECT_EQ(GetImageType("jpg"), GetImageType("JPG"));
  EXPECT_EQ(GetImageType("jpg"), 63);
  EXPECT_EQ(GetImageType("3dm"), 0);
  EXPECT_EQ(GetViedoType("3g2"), 0);
  EXPECT_EQ(GetAudioType("ram"), 0);
  EXPECT_EQ(GetArchiveType("7z"), 0);
  EXPECT_EQ(GetEmailType("dbx"), 0);
  EXPECT_EQ(GetDocumentType("123"), 0);
  // Duplicates keep the first position; mixed-case entries match either way.
  EXPECT_EQ(GetImageType("cdr"), 14);
  EXPECT_EQ(GetArchiveType("BZIP"), 6);
  EXPECT_EQ(GetDocumentType("plist"), GetDocumentType("PLIST"));
  EXPECT_EQ(GetDocumentType("plist"), 51);
  // The last entries are reachable too.
  EXPECT_EQ(GetImageType("xps"), 137);
  EXPECT_EQ(GetViedoType("yuv"), 54);
  EXPECT_EQ(GetAudioType("ptf"), 37);
  EXPECT_EQ(GetArchiveType("zoo"), 32);
  EXPECT_EQ(GetEmailType("wab"), 9);
  EXPECT_EQ(GetDocumentType("xlt"), 98);
}

TEST(SuffixTables, EmptyOrUnknownSuffixIsNotFound) {
  EXPECT_EQ(GetImageType(""), -1);
  EXPECT_EQ(GetDocumentType(""), -1);
  EXPECT_EQ(GetImageType("jpgx"), -1);
  EXPECT_EQ(GetImageType("jp"), -1);
  EXPECT_EQ(GetEmailType("eml "), -1);
}

TEST(Suffix, TextAfterTheLastDot) {
  EXPECT_EQ(getSuffix("photo.JPG"), "JPG");
  EXPECT_EQ(getSuffix("dir.v2/archive.tar.gz"), "gz");
  EXPECT_EQ(getSuffix("trailing."), "");
  EXPECT_FALSE(getSuffix("README"));
  EXPECT_FALSE(getSuffix(""));
  EXPECT_FALSE(getSuffix("folder.d/file"));  // the only dot is in a folder name
}

TEST(Suffix, AtMostTwentyCharactersFromTheDot) {
  EXPECT_EQ(getSuffix("a.1234567890123456789"), "1234567890123456789");  // 20 with the dot
  EXPECT_FALSE(getSuffix("a.12345678901234567890"));                     // 21
}

TEST(FileKinds, RawScanAndAttachmentsDifferForEmail) {
  EXPECT_EQ(rawScanKind("/DCIM/IMG_0001.jpg"), "Image");
  EXPECT_EQ(rawScanKind("clip.MOV"), "Video");
  EXPECT_EQ(rawScanKind("song.mp3"), "Audio");
  EXPECT_EQ(rawScanKind("backup.zip"), "Archive");
  EXPECT_EQ(rawScanKind("message.eml"), "Document");
  EXPECT_EQ(rawScanKind("report.pdf"), "Document");
  EXPECT_EQ(rawScanKind("unknown.xyz"), "Document");
  EXPECT_EQ(rawScanKind("folder.d/file"), "Document");
  EXPECT_EQ(rawScanKind("noext"), "Document");

  EXPECT_EQ(attachmentKind("message.EML"), "Email");
  EXPECT_EQ(attachmentKind("IMG_0001.JPG"), "Image");
  EXPECT_EQ(attachmentKind("report.pdf"), "Document");
  EXPECT_EQ(attachmentKind("backup.zip"), "Archive");
  EXPECT_EQ(attachmentKind("unknown.xyz"), "");
  EXPECT_EQ(attachmentKind("noext"), "");
}

}  // namespace
}  // namespace tamsel
