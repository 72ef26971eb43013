#include "util/suffix_types.h"

#include <span>

namespace tamsel {
namespace {

// HEIC and HEIF (photos of recent phones) come last, so the older entries keep their places.
constexpr std::string_view kImageType[] = {
    "3DM", "3DMF", "3DS",  "ABM", "AFX",  "AI",           "ANI",  "ART",  "ARW",  "BLD",  "BLEND",
    "BMP", "BOO",  "BR5",  "CDR", "CDR",  "CDT",          "CGM",  "CIFF", "CLP",  "CMX",  "CONT",
    "CPT", "CR2",  "CRW",  "CUR", "CVX",  "DCM",          "DCR",  "DCR",  "DIB",  "DNG",  "DRW",
    "DS4", "DSC",  "DT2",  "DWF", "DWG",  "EMF",          "EMZ",  "ERF",  "FH8",  "FLC",  "FOV",
    "FPF", "FPX",  "FUJI", "FXG", "GIF",  "HDP",          "HPI",  "ICNS", "ICO",  "IDML", "IFF",
    "IMG", "INX",  "IPX",  "ISD", "ITC2", "IV",           "JP2",  "JPEG", "JPG",  "JPX",  "K25",
    "KDC", "LBM",  "MA",   "MAX", "MB",   "MDI",          "MDL",  "MDX",  "MINO", "MNG",  "MOS",
    "MRW", "MSP",  "NCR",  "NEF", "OBJ",  "ORF",          "PAL",  "PAT",  "PBM",  "PCS",  "PCT",
    "PCX", "PEF",  "PGM",  "PIC", "PICT", "PICTCLIPPING", "PNG",  "PPM",  "PSD",  "PSP",  "PSPIMGE",
    "PTX", "PXN",  "QXD",  "RAF", "RAS",  "RAW",          "RELS", "RGB",  "RLE",  "RTD",  "SCT",
    "SHP", "SKF",  "SKP",  "SR2", "SRF",  "STP",          "SVG",  "SVGZ", "TEX",  "TGA",  "THM",
    "TIF", "TIFF", "VWX",  "WB1", "WBC",  "WBD",          "WBMP", "WBZ",  "WEBP", "WMF",  "WP",
    "WPG", "X3F",  "XBM",  "XCF", "XPM",  "XPS",          "HEIC", "HEIF",
};

constexpr std::string_view kViedoType[] = {
    "3G2",   "3GP",   "ANM",      "ASF",    "ASX",    "AVI", "AVS", "CLK", "CPI",       "DIVX",
    "DMSM",  "DREAM", "DVDMEDIA", "DVM",    "DVR-MS", "DXR", "F4V", "FBR", "FLA",       "FLV",
    "HDMOV", "M2P",   "M2TS",     "M4P",    "M4V",    "MKV", "MOD", "MOI", "MOV",       "MP4",
    "MPE",   "MPEG",  "MPG",      "MXF",    "OGM",    "PSH", "QT",  "QTM", "RCPROJECT", "RM",
    "RMVB",  "SCM",   "SMIL",     "SMJPEG", "SRT",    "STX", "SWF", "TIX", "TS",        "VOB",
    "VRO",   "WMV",   "WTV",      "XVID",   "YUV",
};

constexpr std::string_view kAudioType[] = {
    "RAM", "RFL",  "RMI",  "RNS", "RPS", "SIB", "SND", "VPM",  "WAV", "WMA",  "AA3",  "AAC", "AC3",
    "AFC", "AIF",  "AIFF", "AM",  "AT3", "AU",  "CAF", "CDA",  "CPF", "DMSA", "DMSE", "DSS", "EMP",
    "EMX", "FLAC", "KPI",  "M3D", "M4A", "M4R", "MID", "MIDI", "MP3", "OGG",  "OMF",  "PTF",
};

constexpr std::string_view kArchiveType[] = {
    "7Z",  "ACE", "ALZ",     "ARC",  "ARJ", "BZ",  "Bzip", "CAB", "DBS", "DEB",  "DMG",
    "GZ",  "JAR", "KRYPTER", "LZA",  "LZH", "MSI", "PF",   "PKG", "PUP", "RAR",  "RPM",
    "SEA", "SFX", "SIT",     "SITX", "SOR", "TAR", "TGZ",  "WAR", "ZIP", "ZIPX", "ZOO",
};

constexpr std::string_view kEmailType[] = {
    "DBX", "DCI", "EML", "EMLX", "MAIL", "MBX", "MSG", "OEB", "PST", "WAB",
};

constexpr std::string_view kDocumentType[] = {
    "123", "12M",  "1ST", "3DA",  "3TF", "3WS",   "ABD",  "ADX",     "AMI",  "APP",  "C",
    "CAS", "CBK",  "CLA", "CLS",  "CLY", "CPP",   "CWK",  "DOC",     "DOCX", "DOT",  "EPS",
    "ETP", "FB2",  "FM3", "FMT",  "GHO", "H",     "INDT", "JOB",     "KEY",  "INDD", "LIT",
    "LOG", "LWP",  "M",   "MCD",  "MDZ", "MM",    "MPT",  "NUMBERS", "ODP",  "ODS",  "ODG",
    "ODF", "ODB",  "ODT", "ONE",  "OTP", "PAGES", "PDF",  "Plist",   "PMD",  "POT",  "POTX",
    "PPS", "PPSX", "PPT", "PPTX", "PRZ", "PS",    "PUB",  "PWI",     "PYC",  "PYD",  "QBB",
    "QDF", "QSD",  "QXP", "RESX", "RTF", "SCPT",  "SDW",  "SDY",     "SIG",  "SLN",  "SUO",
    "SXC", "SXD",  "SXI", "SXW",  "TOC", "TXT",   "VBP",  "VRD",     "VSD",  "VSS",  "VST",
    "WFA", "WK1",  "WK3", "WK4",  "WP6", "WPD",   "WPS",  "WRI",     "XLS",  "XLSX", "XLT",
};

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

int lookup(std::span<const std::string_view> table, std::string_view suffix) {
  if (suffix.empty()) return -1;
  for (size_t i = 0; i < table.size(); ++i) {
    if (equalsIgnoreCase(table[i], suffix)) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

int GetImageType(std::string_view s) {
  return lookup(kImageType, s);
}
int GetViedoType(std::string_view s) {
  return lookup(kViedoType, s);
}
int GetAudioType(std::string_view s) {
  return lookup(kAudioType, s);
}
int GetArchiveType(std::string_view s) {
  return lookup(kArchiveType, s);
}
int GetEmailType(std::string_view s) {
  return lookup(kEmailType, s);
}
int GetDocumentType(std::string_view s) {
  return lookup(kDocumentType, s);
}

}  // namespace tamsel
