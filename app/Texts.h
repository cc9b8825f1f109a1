// The agent's own texts, in code page 936 (Simplified Chinese), byte for byte.
// They stay 8-bit here and are widened from code page 936 where they reach
// the screen, so they read right whatever the system's ANSI code page is.
#pragma once

namespace texts {

// 已断开  (disconnected)
inline constexpr char kTextDisconnected[] = "\xD2\xD1\xB6\xCF\xBF\xAA";
// 已连接  (connected)
inline constexpr char kTextConnected[] = "\xD2\xD1\xC1\xAC\xBD\xD3";
// USB遥杆:   (USB joystick:)
inline constexpr char kTextJoyPrefix[] = "USB\xD2\xA3\xB8\xCB: ";
// 直播主机:   (live host:)
inline constexpr char kTextNetPrefix[] = "\xD6\xB1\xB2\xA5\xD6\xF7\xBB\xFA: ";
// 发送: %d 次  (sent: N times)
inline constexpr char kFmtSendCount[] = "\xB7\xA2\xCB\xCD: %d \xB4\xCE";
// 接收: %d 次  (received: N times)
inline constexpr char kFmtRecvCount[] = "\xBD\xD3\xCA\xD5: %d \xB4\xCE";
// 设置  (settings)
inline constexpr char kTextSettingsCaption[] = "\xC9\xE8\xD6\xC3";
// 请输入主机地址:         (please enter the host address:, then seven blanks)
inline constexpr char kTextAddressPrompt[] = "\xC7\xEB\xCA\xE4\xC8\xEB\xD6\xF7\xBB\xFA\xB5\xD8\xD6\xB7:       ";
// QEX导播控制台 MRV-4000  (the QEX directing console MRV-4000)
inline constexpr char kTextAppTitle[] = "QEX\xB5\xBC\xB2\xA5\xBF\xD8\xD6\xC6\xCC\xA8 MRV-4000";
// 警告  (warning)
inline constexpr char kTextWarningCaption[] = "\xBE\xAF\xB8\xE6";
// 警告: 不支持多个QEX遥杆设备同时工作,请拨全部遥杆再重新接  (several consoles at once are not supported; unplug all and plug in again)
inline constexpr char kTextSecondConsole[] = "\xBE\xAF\xB8\xE6: \xB2\xBB\xD6\xA7\xB3\xD6\xB6\xE0\xB8\xF6QEX\xD2\xA3\xB8\xCB\xC9\xE8\xB1\xB8\xCD\xAC\xCA\xB1\xB9\xA4\xD7\xF7,\xC7\xEB\xB2\xA6\xC8\xAB\xB2\xBF\xD2\xA3\xB8\xCB\xD4\xD9\xD6\xD8\xD0\xC2\xBD\xD3";
// 错误  (error)
inline constexpr char kTextErrorCaption[] = "\xB4\xED\xCE\xF3";
// HID数据太多了,超出缓冲区了,将丢掉  (too much HID data, the buffer is exceeded, it will be dropped)
inline constexpr char kTextHidOverflow[] = "HID\xCA\xFD\xBE\xDD\xCC\xAB\xB6\xE0\xC1\xCB,\xB3\xAC\xB3\xF6\xBB\xBA\xB3\xE5\xC7\xF8\xC1\xCB,\xBD\xAB\xB6\xAA\xB5\xF4";

}  // namespace texts
