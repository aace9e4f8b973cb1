#pragma once
// Message numbers and key codes the windows exchange, in the numbering the rest of the
// system already uses for them (private messages start at WM_USER).

#include <cstdint>

namespace SkinUI {

constexpr std::uint32_t WM_CLOSE = 0x0010;       // wparam: the close code
constexpr std::uint32_t WM_KEYDOWN = 0x0100;     // wparam: virtual key code
constexpr std::uint32_t WM_SYSCOMMAND = 0x0112;  // wparam: SC_...
constexpr std::uint32_t WM_TIMER = 0x0113;       // wparam: timer id
constexpr std::uint32_t WM_USER = 0x0400;

constexpr std::uintptr_t SC_MINIMIZE = 0xF020;
constexpr std::uintptr_t SC_CLOSE = 0xF060;
constexpr std::uintptr_t SC_RESTORE = 0xF120;

constexpr std::uintptr_t VK_BACK = 0x08;
constexpr std::uintptr_t VK_TAB = 0x09;
constexpr std::uintptr_t VK_RETURN = 0x0D;
constexpr std::uintptr_t VK_ESCAPE = 0x1B;
constexpr std::uintptr_t VK_END = 0x23;
constexpr std::uintptr_t VK_HOME = 0x24;
constexpr std::uintptr_t VK_LEFT = 0x25;
constexpr std::uintptr_t VK_UP = 0x26;
constexpr std::uintptr_t VK_RIGHT = 0x27;
constexpr std::uintptr_t VK_DOWN = 0x28;
constexpr std::uintptr_t VK_DELETE = 0x2E;

// Window styles a caller may pass to Create. Frame and caption bits are dropped at
// creation: the skin draws the window's whole face.
constexpr std::uint32_t WS_CAPTION = 0x00C00000;
constexpr std::uint32_t WS_THICKFRAME = 0x00040000;
constexpr std::uint32_t WS_SYSMENU = 0x00080000;
constexpr std::uint32_t WS_VISIBLE = 0x10000000;
constexpr std::uint32_t WS_POPUP = 0x80000000;
constexpr std::uint32_t UI_WNDSTYLE_FRAME = 0x00CF0000 | WS_VISIBLE;
constexpr std::uint32_t UI_WNDSTYLE_DIALOG = WS_POPUP | WS_VISIBLE | WS_SYSMENU | WS_CAPTION | 0x06000000;

}  // namespace SkinUI
