#include "server/SocketHTTPError.h"

namespace ferrylantern {

std::string_view description(SocketHTTPError error)
{
    switch (error) {
    case SocketHTTPError::socketCreateFailed:
        return "无法创建网络套接字";
    case SocketHTTPError::bindFailed:
        return "无法绑定端口";
    case SocketHTTPError::noPortAssigned:
        return "未分配到可用端口";
    case SocketHTTPError::invalidMultipart:
        return "无法解析上传的文件数据（请重试或换一个小文件）";
    case SocketHTTPError::bodyTooLarge:
        return "文件超过允许大小（最大 100GB）";
    case SocketHTTPError::emptyBody:
        return "未收到文件内容";
    case SocketHTTPError::incompleteBody:
        return "上传中断，文件不完整";
    case SocketHTTPError::insufficientDiskSpace:
        return "磁盘剩余空间不足";
    case SocketHTTPError::multipartTooLarge:
        return "文件过大，请通过 FerryLantern 网页上传（不要用第三方 multipart 工具传超大文件）";
    case SocketHTTPError::uploadCancelled:
        return "传输已取消";
    case SocketHTTPError::duplicateRejected:
        return "已取消保存";
    case SocketHTTPError::invalidUploadTicket:
        return "上传许可与文件信息不一致";
    case SocketHTTPError::tooManyQuestions:
        return "等待确认的请求过多，请稍后再试";
    case SocketHTTPError::unsafeDeviceFolder:
        return "设备文件夹是符号链接或不是文件夹，已拒绝写入";
    }
    return "";
}

} // namespace ferrylantern
