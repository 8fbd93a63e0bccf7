// Texts of the file services, in the system's ANSI code page (the sources are UTF-8 and the
// compiler writes narrow literals in code page 936).
#pragma once

namespace msg {
constexpr char kPathEmptyNoResource[] = "给定文件路径为空且错误信息提示资源没有找到[%s]";
constexpr char kFileNotFoundFormat[] = "[%s]%s";
constexpr char kFileNotFoundNoResource[] = "文件不存在且错误信息提示资源没有找到[%s]";
constexpr char kNotADiskFile[] = "[%s]不是磁盘文件(设备、管道或控制台),拒绝读取!";
constexpr char kNoTempDirectory[] = "临时目录不存在或其路径无法用当前代码页表示,拒绝创建文件!";
}  // namespace msg
