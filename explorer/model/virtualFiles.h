// The files a virtual device serves beyond its description and SCPDs
// (which the stack writes from its model): the built-in presentation page
// at "/" and local files under the device's web path, delivered in pieces
// through MT_READ_FILE.
#pragma once

#include "qnSdkApi.h"

#include <string>

namespace lumivar {

inline constexpr const char *kPresentationTitle = "Corvanta Virtual Device";
// Local paths handed to the file system are at most this long.
inline constexpr size_t kLocalFilePathMaxLen = 127;

// The page a control point's browser gets for the device's presentation URL.
[[nodiscard]] const std::string &presentationPage();

// Answers one MT_READ_FILE call for device. One file is open at a time
// (process-wide: the server thread serves one request at a time): a fresh
// request (fileSize still 0), another name or device, or a call after the
// end restarts; later calls continue where the last piece ended. Sets
// bufLen to the bytes placed in buf and fileSize to the whole file's size.
// 0 delivered; -1 no such file or no more data; QN_ERR_ARG for a missing
// record, name or buffer.
QN_RET readVirtualFile(QN_ENTITY device, QNApiFileInfo *info);

} // namespace lumivar
