#include "receiver/StartFailureText.h"

#include <cerrno>

namespace ferrylantern {

namespace {

// What the file system's error means for a folder someone wants files saved into.
QString folderProblem(const std::error_code& error)
{
    if (error.category() != std::generic_category() && error.category() != std::system_category()) {
        return QString::fromStdString(error.message());
    }
    switch (error.value()) {
    case ENOTDIR:
        return QStringLiteral("路径中有一项是文件，不是文件夹");
    case EEXIST:
        return QStringLiteral("已有同名的文件");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有写入权限");
    case EROFS:
        return QStringLiteral("所在的磁盘是只读的");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("磁盘空间不足");
    case ENAMETOOLONG:
        return QStringLiteral("路径太长");
    case ENOENT:
        return QStringLiteral("路径中的某个文件夹不存在");
    case ELOOP:
        return QStringLiteral("路径中的符号链接太多");
    case EIO:
        return QStringLiteral("磁盘读写出错");
    default:
        return QStringLiteral("系统错误 %1（%2）").arg(error.value()).arg(QString::fromStdString(error.message()));
    }
}

} // namespace

QString folderFailureText(const QString& folder, const std::error_code& error)
{
    return QStringLiteral("无法创建保存文件夹 “%1”：%2。").arg(folder, folderProblem(error));
}

QString serverStartFailureText(SocketHTTPError error, std::uint16_t preferredPort)
{
    switch (error) {
    case SocketHTTPError::socketCreateFailed:
        return QStringLiteral("无法创建网络连接：系统资源不足，或网络不可用。");
    case SocketHTTPError::bindFailed:
        return preferredPort == 0 ? QStringLiteral("没有可用的端口来接收文件。")
                                  : QStringLiteral("无法在端口 %1 上接收，也没有其他可用端口。").arg(preferredPort);
    case SocketHTTPError::noPortAssigned:
        return QStringLiteral("系统没有为接收分配端口。");
    default:
        return QString::fromUtf8(description(error).data(), static_cast<qsizetype>(description(error).size()));
    }
}

} // namespace ferrylantern
