// Writes a seed corpus for the property-list fuzz target into the folder named on the command
// line: a backup's Info.plist and Manifest.plist in XML and binary, a stored file's keyed
// archive as an encrypted backup's index keeps it, each cut short and with bytes changed; and
// lists no backup writes: nested past the limit, binary objects in a loop or shared
// exponentially, references and offsets out of range, huge counts. Deterministic.
#include <plist/plist.h>

#include <string>
#include <vector>

#include "fuzz/corpus_writer.h"
#include "tests/fixtures/hostile_plist.h"
#include "tests/fixtures/ios_backup_writer.h"
#include "tests/fixtures/ios_encrypted_backup_writer.h"

using tamsel::fuzzing::CorpusWriter;
using tamsel::fuzzing::nextRandom;
using tamsel::fuzzing::runCorpusGenerator;

namespace {

using Refs = std::vector<uint32_t>;

plist_t infoPlist() {
  plist_t d = plist_new_dict();
  plist_dict_set_item(d, "Device Name", plist_new_string("Anna's iPhone"));
  plist_dict_set_item(d, "Product Type", plist_new_string("iPhone14,2"));
  plist_dict_set_item(d, "Product Version", plist_new_string("17.4"));
  plist_dict_set_item(d, "Serial Number", plist_new_string("C39SAMPLE01"));
  return d;
}

plist_t manifestPlist() {
  plist_t d = plist_new_dict();
  plist_t lockdown = plist_new_dict();
  plist_dict_set_item(lockdown, "DeviceName", plist_new_string("Anna's iPhone"));
  plist_dict_set_item(lockdown, "ProductVersion", plist_new_string("12.1"));
  plist_dict_set_item(d, "Lockdown", lockdown);
  plist_dict_set_item(d, "IsEncrypted", plist_new_bool(1));
  plist_dict_set_item(d, "BackupKeyBag", plist_new_data("VERS\0\0\0\4\0\0\0\4", 12));
  return d;
}

void fill(CorpusWriter& out) {
  uint32_t seed = 0x51ed270bu;
  namespace t = tamsel::testing;
  std::vector<std::string> lists;
  for (plist_t (*make)() : {infoPlist, manifestPlist}) {
    plist_t root = make();
    for (bool binary : {false, true}) lists.push_back(t::plistBytes(root, binary));
    plist_free(root);
  }
  // The `file` column of an encrypted backup's index.
  lists.push_back(t::fileArchive("Media/DCIM/100APPLE/IMG_0001.JPG", 1234, 3,
                                 std::string("\3\0\0\0wrapped-key-bytes-0123456789ab", 34)));
  for (const std::string& list : lists) {
    out.write(list);
    for (size_t keep : {list.size() / 3, list.size() / 2, list.size() - 1}) {
      out.write(list.substr(0, keep));
    }
    for (int i = 0; i < 6; ++i) {
      std::string changed = list;
      changed[nextRandom(seed) % changed.size()] ^= static_cast<char>(1 + nextRandom(seed) % 255);
      out.write(changed);
    }
  }
  for (size_t depth : {size_t{256}, size_t{257}, size_t{200'000}})
    out.write(t::nestedXmlPlist(depth));
  for (uint32_t depth : {256u, 257u, 100'000u}) {
    out.write(t::binaryPlistOfArrays(
        depth, [depth](uint32_t i) { return i + 1 < depth ? Refs{i + 1} : Refs{}; }));
  }
  out.write(t::binaryPlistOfArrays(2, [](uint32_t i) { return Refs{1 - i}; }));
  out.write(t::binaryPlistOfArrays(1, [](uint32_t) { return Refs{0}; }));
  out.write(t::binaryPlistOfArrays(48, [](uint32_t i) {
    return i + 1 < 48 ? Refs{i + 1, i + 1, i + 1} : Refs{};
  }));
  // A count far past the bytes, a reference past the objects, an offset past the table.
  std::string wide =
      t::binaryPlistOfArrays(3, [](uint32_t i) { return i < 2 ? Refs{i + 1} : Refs{}; });
  std::string count = wide;
  count[8] = static_cast<char>(0xAF);
  count.insert(9, std::string("\x13\x7f\xff\xff\xff\xff\xff\xff\xff", 9));
  out.write(count);
  std::string ref = wide;
  ref[12] = 9;
  out.write(ref);
  std::string offset = wide;
  offset[offset.size() - 32 - 12] = 0x7f;
  out.write(offset);
  // XML that never closes, closes what it did not open, or hides tags in comments.
  out.write("<plist><array><array><dict><key>a</key><array>");
  out.write("<plist></array></array></dict><array/></plist>");
  out.write("<plist><!-- <array><array> --><![CDATA[<dict>]]><string>x</string></plist>");
}

}  // namespace

int main(int argc, char** argv) {
  return runCorpusGenerator(argc, argv, "plist", fill);
}
