// Message-box types (buttons | icon) and answers, defined once for the dialog kit's boxes and
// for the browser steps, which ask for boxes through their host seam. The trailing underscores
// keep the names clear of the Windows headers' macros.
#pragma once

namespace valdrune {

// Buttons in the low four bits, the icon above them.
inline constexpr int MB_OK_ = 0x00;
inline constexpr int MB_OKCANCEL_ = 0x01;
inline constexpr int MB_ICONERROR_ = 0x10;
inline constexpr int MB_ICONEXCLAMATION_ = 0x30;
inline constexpr int MB_ICONINFORMATION_ = 0x40;
// The answers, which are also the ids of the OK and Cancel buttons.
inline constexpr int ID_OK = 1;
inline constexpr int ID_CANCEL = 2;

}  // namespace valdrune
