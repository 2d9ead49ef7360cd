#pragma once
// Fixed texts of the application shell.
namespace kv::texts {
inline constexpr const char* kAlreadyRunning = "Program je već aktivan za isti folder!";
inline constexpr const char* kEndOfWork = "Kraj rada?";
inline constexpr const char* kCaptionPrefix = "Kovira ";
}  // namespace kv::texts
