// Texts of the archive services (code page 936 narrow literals).
#pragma once

namespace msg {
constexpr char kZipExportMissing[] = "ziptool.dll中FileToZipFile功能函数不存在!";
constexpr char kUnzipExportMissing[] = "ziptool.dll中ExtractFileToPath功能函数不存在!";
constexpr char kUnzipFailed[] = "文件压缩失败,原因是%s!";
constexpr char kZipBox[] = "压缩";
constexpr char kNotCreatedHere[] = "文件[%s]非本程序创建，不能删除!";
constexpr char kZipFailed[] = "文件[%s]压缩失败,原因是%s";
constexpr char kZipTooSmall[] = "文件[%s]大小为%lu字节,不超过40字节,不予压缩!";
}  // namespace msg
