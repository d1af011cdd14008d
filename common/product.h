#pragma once

// The product's display name, UTF-8 (28 bytes): painted in the window and
// recorded in the software list.
inline constexpr char kProductName[] = "velnor 视频格式转换器";
