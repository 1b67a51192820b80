#pragma once

// The one header that says which platform is being built. Code that differs by platform
// lives in linux/ and windows/ folders that the build picks; everything else asks here,
// never the compiler's own platform macros.

namespace sys {

enum class Platform { Linux, Windows };

#if defined(_WIN32)
inline constexpr Platform kBuiltPlatform = Platform::Windows;
#else
inline constexpr Platform kBuiltPlatform = Platform::Linux;
#endif

}  // namespace sys
