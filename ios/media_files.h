// Photos, videos, sound files and social-network app files of a phone backup.
#pragma once

#include <string>

#include "events/records.h"
#include "events/scan_context.h"

namespace tamsel {

// One index entry of a wanted domain: posts "ScanPhotoAndVideo" for a picture, sound or
// video file (by the extension of its phone path) and "scanFaceTwitterInfo" for an existing
// file of the three app domains. Touches the file system once (a size query); never reads
// the file.
void GetMediaFileByNode(const PRTreeDirNode& entry, ScanContext& ctx);

// The folder listing step: posts "ScanPhotoAndVideoInfo" with the path of every file of
// 50000 bytes or more, and the progress counter at the 29 checkpoints. In the layout with
// two-hex-digit subfolders their files are listed too.
void scanPhotoAndVideoThread(const std::string& folder, ScanContext& ctx);

}  // namespace tamsel
