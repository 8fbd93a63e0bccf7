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
constexpr char kReadFailed[] = "文件[%s]读失败(%lld<>%lld)，%s";
constexpr char kSm3Failed[] = "SM3摘要计算失败,%s(错误码0x%04X)";
// What the engine's status values mean.
constexpr char kSm3InvalidArgument[] = "参数无效";
constexpr char kSm3NotInitialized[] = "密码引擎未初始化";
constexpr char kSm3InitFailed[] = "密码库初始化失败";
constexpr char kSm3OutOfMemory[] = "内存不足";
constexpr char kSm3CryptoFailed[] = "密码库运算失败";
constexpr char kSm3NoCertificate[] = "要求计算Z值但未提供证书";
constexpr char kSm3BadBase64[] = "证书不是有效的Base64编码";
constexpr char kSm3BadCertificate[] = "证书格式错误或不完整";
constexpr char kSm3NotSm2Key[] = "证书公钥不是SM2公钥";
constexpr char kSm3BadPublicKey[] = "证书公钥不是SM2曲线上的点";
constexpr char kSm3FileOpen[] = "文件无法打开";
constexpr char kSm3FileRead[] = "文件读取失败";
constexpr char kSm3NotSupported[] = "密码引擎不支持该操作";
constexpr char kSm3Unknown[] = "未知错误";
}  // namespace msg
