#pragma once

#include <string_view>

// The program's own texts (UTF-8). Every message is shown with kMessageCaption.
inline constexpr std::string_view kAppTitle = "企业信息管理";
inline constexpr std::string_view kMainWindowClass = "TFrm_CompanyMain";
// The window that carries the taskbar button of a message shown while no window is on screen.
inline constexpr std::string_view kApplicationWindowClass = "TApplication";
inline constexpr std::string_view kInstanceLockName = "CompanyMain";
inline constexpr std::string_view kMessageCaption = "提示";
inline constexpr std::string_view kLoadingText = "正在努力加载页面,请稍候......";

inline constexpr std::string_view kMsgAlreadyRunning = "企业信息管理系统已经运行...";
inline constexpr std::string_view kMsgConfigMissing = "配置文件不存在,无法启动软件";
inline constexpr std::string_view kMsgAddressEmpty = "读取企业信息页面地址为空,无法启动软件";
inline constexpr std::string_view kMsgIdentityMissing = "读取企业身份信息失败,无法启动软件";
// No safe place for the single-instance lock: the program does not run unguarded.
inline constexpr std::string_view kMsgLockUnavailable =
    "无法确认企业信息管理系统是否已经运行,无法启动软件";
inline constexpr std::string_view kMsgBrowserFailed = "无法启动浏览器,请检查系统的默认浏览器设置";
