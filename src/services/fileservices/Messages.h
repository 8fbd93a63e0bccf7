// Texts of the file services, in the system's ANSI code page (the sources are UTF-8 and the
// compiler writes narrow literals in code page 936).
#pragma once

namespace msg {
constexpr char kPathEmptyNoResource[] = "给定文件路径为空且错误信息提示资源没有找到[%s]";
constexpr char kFileNotFoundFormat[] = "[%s]%s";
constexpr char kFileNotFoundNoResource[] = "文件不存在且错误信息提示资源没有找到[%s]";
}  // namespace msg
