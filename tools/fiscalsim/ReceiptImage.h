#pragma once
// The receipt picture the device returns when asked for one: the journal text
// drawn black on white in a monospaced font, as a base64 PNG.
#include <string>
#include <string_view>

namespace kv::sim {

// Text drawing needs a Qt GUI application object. When the process has no Qt
// application at all, one is created on the offscreen platform (call this on
// the thread that should own it, normally the main thread). Returns false when
// the process already has a non-GUI application object, so nothing can be
// drawn.
bool ensureImageSupport();

// Base64 of a PNG widthPx pixels wide showing the journal, columns characters
// to a line. Empty when drawing is not available.
std::string renderJournalPng(std::string_view journal, int widthPx, int columns);

}  // namespace kv::sim
