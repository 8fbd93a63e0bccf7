// Texts a page reads when the administrator's policy keeps it from the control (code page 936
// narrow literals).
#pragma once

namespace msg {
constexpr char kSiteRefused[] = "本页面所在站点[%s]不在管理员允许使用本控件的站点列表中,拒绝调用!";
constexpr char kNetworkPathRefused[] = "来自站点[%s]的页面不允许访问网络路径[%s],拒绝调用!";
}  // namespace msg
