/* The disk library's C interface: one exported data symbol, "exportFunction", whose value
 * is a pointer to the function table below. The program relies on the first eleven entries
 * in this order; later entries are additions that the loader checks for (abi_version,
 * table_size) before use. A null entry means "not provided": the caller skips that call.
 *
 * Ownership: disk and partition handles belong to the library and stay valid until the next
 * initDiskList. Texts returned by diskDevicePath and partitionTypeName belong to the library
 * and stay valid as long as the handle. Buffers and file descriptors passed in belong to the
 * caller: the library never closes a descriptor it is given. No C++ exception crosses this
 * boundary.
 *
 * Interface versions: 1 added abi_version, table_size, setLogFunction and addDiskImage;
 * 2 added writeFoundFile; 3 added scanDeviceFor, readFoundFile64 and writeFoundFile64 over
 * tamsel_found_file (64-bit lengths, flags and times, callbacks with the caller's pointer).
 * A table of version N has every entry of the versions up to N. */
#ifndef TAMSEL_DISKLIB_API_H
#define TAMSEL_DISKLIB_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct list_disk_struct list_disk_struct;
typedef struct list_part_struct list_part_struct;
struct _RecordList;

/* One found file. pFileName holds at least file_name_len bytes. */
typedef struct _rec_file_ele {
  uint64_t file_start;
  uint32_t file_len;
  uint32_t file_name_len;
  char* pFileName;
  struct _RecordList* journal_file;
} _rec_file_ele;

/* Progress record: 16 bytes the program does not interpret, then current and total. */
typedef struct rec_progress {
  uint8_t reserved[16];
  uint64_t current;
  uint64_t total;
} rec_progress;

/* Longest destination path recoverFoundFile accepts, terminating zero included. */
#define TAMSEL_DISKLIB_PATH_MAX 400
#define TAMSEL_DISKLIB_ABI_VERSION 3u
/* writeFoundFile's result for a file written whole with unreadable sectors as zeros; above
 * every errno value. */
#define TAMSEL_DISKLIB_ZERO_FILLED 0x10000
/* The longest run of unreadable bytes writeFoundFile fills with zeros (64 MiB). */
#define TAMSEL_DISKLIB_MAX_FAILING_RUN (64ull << 20)

typedef void (*rec_found_callback)(_rec_file_ele* ele);
typedef void (*rec_progress_callback)(rec_progress* progress);

/* Version 3: what the library knows of one found file. Its flags: found through a deleted
 * folder entry; its cluster chain loops, ends early or names a cluster outside the volume;
 * its bytes run past the end of the disk, image or partition (file_len is what the disk
 * holds, declared_len what the entry gives). */
#define TAMSEL_FOUND_DELETED 0x1u
#define TAMSEL_FOUND_CHAIN_DAMAGED 0x2u
#define TAMSEL_FOUND_TRUNCATED 0x4u
/* The times are the card's clock reading, its zone not recorded (FAT entries; exFAT entries
 * without a UTC offset): shown as they are, not moved into the viewer's zone. */
#define TAMSEL_FOUND_CLOCK_TIMES 0x8u

typedef struct tamsel_found_file {
  /* sizeof(tamsel_found_file) as the library was built; a caller reads no field that lies
   * beyond it, so later versions may append fields. */
  uint32_t record_size;
  uint32_t flags;        /* TAMSEL_FOUND_* */
  uint64_t file_start;   /* first byte on the disk (not on the partition) */
  uint64_t file_len;     /* bytes of the file the disk holds; never 0 */
  uint64_t declared_len; /* the length its folder entry gives (file_len when none) */
  int64_t create_time;   /* seconds since 1970-01-01 00:00 UTC; 0 when not known */
  int64_t modify_time;
  uint32_t name_len;
  const char* name; /* name_len bytes, not zero-terminated; valid during the callback */
} tamsel_found_file;

/* `caller` is the pointer given to scanDeviceFor, passed back untouched. */
typedef void (*tamsel_found_callback)(void* caller, const tamsel_found_file* file);
typedef void (*tamsel_progress_callback)(void* caller, uint64_t current, uint64_t total);

typedef struct export_function_table {
  int (*initDiskList)(void);
  list_disk_struct* (*nextDisk)(void);
  const char* (*diskDevicePath)(list_disk_struct* disk);
  int (*openDisk)(list_disk_struct* disk);
  list_part_struct* (*nextPartition)(void);
  int (*partitionIndex)(list_part_struct* part);
  const char* (*partitionTypeName)(list_part_struct* part);
  /* Scans synchronously; device_index 255 means the whole disk. */
  void (*scanDevice)(const char* device_path, int device_index, rec_found_callback found,
                     _rec_file_ele* found_storage, rec_progress_callback progress,
                     rec_progress* progress_storage);
  void (*stopScan)(void);
  /* Fills buffer (ele->file_len bytes) with the found file's bytes. */
  void (*readFoundFile)(list_disk_struct* disk, void* buffer, _rec_file_ele* ele);
  /* Writes the found file to dest_path (shorter than TAMSEL_DISKLIB_PATH_MAX), as
   * writeFoundFile does: a file with unreadable sectors is kept with zeros in their place
   * (logged); a file that fails otherwise is removed. */
  void (*recoverFoundFile)(const char* dest_path, list_disk_struct* disk, _rec_file_ele* ele);
  /* Additions: always appended after this line. */
  uint32_t abi_version;
  uint32_t table_size; /* sizeof(export_function_table) as the library was built */
  /* Sends the library's diagnostic lines to `log` (null: standard error). */
  void (*setLogFunction)(void (*log)(const char* line));
  /* Lists the device or image file at `path` as a disk in every later initDiskList, before
   * the system's disks; non-zero when taken. */
  int (*addDiskImage)(const char* path);
  /* Version 2. Writes the found file's ele->file_len bytes (its runs on the disk, in order)
   * to the open descriptor `fd` from its current position, a bounded piece at a time: the
   * file is never held in memory whole. Reads only inside the disk. A piece the disk cannot
   * read is read again sector by sector (512 bytes); the sectors that still fail are written
   * as zeros and the copy goes on. Returns 0 when every byte came from the disk,
   * TAMSEL_DISKLIB_ZERO_FILLED when the file is complete but some sectors were unreadable
   * and written as zeros (their bytes are logged and stored in *unreadable_bytes), else an
   * errno value: EINVAL for a null argument, EBADF for a negative descriptor, EIO when some
   * of the file's bytes lie past the end of the disk (it shrank or was removed), or when
   * more than a quarter of the file, or more than TAMSEL_DISKLIB_MAX_FAILING_RUN bytes in a
   * row, cannot be read (the disk is taken as gone), otherwise the error of the write that
   * failed (ENOSPC, EBADF ...). Bytes written before a failure stay in the file: the caller
   * removes it. The caller owns `fd` and closes it. `unreadable_bytes` may be null; when not,
   * it receives the number of bytes written as zeros on every return. */
  int (*writeFoundFile)(list_disk_struct* disk, _rec_file_ele* ele, int fd,
                        uint64_t* unreadable_bytes);
  /* Version 3. Scans as scanDevice does, reporting every found file whatever its length
   * (the 32-bit record of scanDevice cannot carry those over 4 GiB) with its flags and
   * times. The library keeps no pointer to `caller` or the callbacks after it returns and
   * uses no shared storage for the records, so scans of different callers never see each
   * other's files; stopScan still stops every running scan. */
  void (*scanDeviceFor)(const char* device_path, int device_index, void* caller,
                        tamsel_found_callback found, tamsel_progress_callback progress);
  /* Reads `length` bytes of the found file from byte `offset` of the file into `buffer`;
   * bytes past the file's end, and sectors the disk cannot read, are zeros. Returns what
   * writeFoundFile returns (0, TAMSEL_DISKLIB_ZERO_FILLED, or an errno value) and stores
   * the count of bytes left as zeros for unreadable sectors in *unreadable_bytes (may be
   * null). `file` is a record a scan of `disk` reported (its name, start and length). */
  int (*readFoundFile64)(list_disk_struct* disk, const tamsel_found_file* file, uint64_t offset,
                         void* buffer, uint64_t length, uint64_t* unreadable_bytes);
  /* writeFoundFile for a record of scanDeviceFor: its file_len bytes, 64-bit. */
  int (*writeFoundFile64)(list_disk_struct* disk, const tamsel_found_file* file, int fd,
                          uint64_t* unreadable_bytes);
} export_function_table;

#ifdef __cplusplus
}
#endif

#endif /* TAMSEL_DISKLIB_API_H */
