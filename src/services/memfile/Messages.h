// Texts of the memory-file methods and the script array bridge, in the system's ANSI code page
// (the sources are UTF-8; the compiler writes narrow literals in code page 936). The bridge's own
// texts are plain ASCII apart from the inserted property name.
#pragma once

namespace msg {
namespace memfile {

// Script array bridge.
constexpr char kAttrLookupFailed[] = "JSArrayGetAttributeValue's GetIDsOfNames %s err!";
constexpr char kAttrGetFailed[] = "JSArrayGetAttributeValue's Invoke %s err!";
constexpr char kElementLookupFailed[] = "JSArrayGetAt's GetIDsOfNames %d err!";
constexpr char kElementGetFailed[] = "JSArrayGetAt's Invoke %d err!";
constexpr char kAttrObjectNull[] = "JSArrayGetAttributeValue's object is null err!";
constexpr char kElementObjectNull[] = "JSArrayGetAt's object is null err!";
constexpr char kArrayUnsupported[] = "内存文件只能是脚本数组、一维字节数组或一维变体数组,不支持%u维、元素类型为%u的数组!";

// Memory-file methods.
constexpr char kProbeWriteFailed[] = "GetMemFileHeadSigned create tempfile err,%s!";
constexpr char kZipWriteFailed[] = "CreateZipFromMemFile create tempfile err,%s!";
constexpr char kZipFailedBox[] = "文件压缩失败";
constexpr char kBadFileName[] = "文件名[%s]不是临时目录中的文件名,拒绝使用!";
constexpr char kBadFileType[] = "文件类型[%s]不能用作文件扩展名,拒绝使用!";
constexpr char kBadBase64[] = "文件内容不是有效的Base64编码,拒绝处理!";
constexpr char kFileInTheWay[] = "临时目录中已有文件[%s],不能覆盖!";

}  // namespace memfile
}  // namespace msg
