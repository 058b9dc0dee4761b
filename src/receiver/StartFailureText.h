// The failures of starting to receive, as sentences a user can act on: which folder or port, and
// what is wrong with it, in Chinese like the rest of the window (the system's own messages are
// English and name neither).
#pragma once

#include "server/SocketHTTPError.h"

#include <QString>

#include <cstdint>
#include <system_error>

namespace ferrylantern {

// "无法创建保存文件夹 “/home/u/x”：路径中有一项是文件，不是文件夹。"
QString folderFailureText(const QString& folder, const std::error_code& error);

// "无法在端口 53317 上接收，也没有其他可用端口。" and the like.
QString serverStartFailureText(SocketHTTPError error, std::uint16_t preferredPort);

} // namespace ferrylantern
