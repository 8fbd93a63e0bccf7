// Texts of the digest methods and the crypto engine binding (code page 936 narrow literals).
#pragma once

namespace msg {
constexpr char kEngineLoadFailed[] = "错误,动态链接库[%s]加载失败!";
constexpr char kEngineEntryMissing[] = "错误,入口函数缺失!";
constexpr char kEngineInitFailed[] = "错误,运行Initialize() Failed!";
constexpr char kEngineNotInstalled[] = "错误,OVALON.x86.dll安装发生异常!";
constexpr char kOpenFailed[] = "文件[%s]打开失败，%s";
constexpr char kSizeFailed[] = "获取文件[%s]大小发生异常，%s";
constexpr char kSizeZero[] = "文件[%s]大小为0";
constexpr char kNoMemory[] = "内存分配失败，%s";
constexpr char kReadFailed[] = "文件[%s]读失败(%d<>%d)，%s";
constexpr char kTooLarge[] = "文件[%s]大小超过4GB，不支持计算摘要";
}  // namespace msg
