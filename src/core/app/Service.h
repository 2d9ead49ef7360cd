#pragma once
// Kovira without a window: the headless service (`kovira --service`) and the
// one-shot fiscalisation of the saved invoice (`kovira --fiscalize`).
#include <atomic>
#include <iosfwd>
#include <optional>
#include <string>

namespace kv {

class AppContext;

// Why the service cannot start on this settings file: missing, not a
// regular file, too large, unreadable or not UTF-8 text. nullopt when it can.
std::optional<std::string> ServiceSettingsProblem(const std::string& settingsPath);

// Receipts without drawing: after a signed run on a POS printer the
// journal goes out as ESC/POS bytes (used where the settings need no picture,
// report or drawn text, so no graphics stack is loaded).
void InstallRawReceiptPrinting(AppContext& ctx);

// One fiscalisation of the saved invoice: settings read, invoice restored,
// the run made, its outcome written as one line. Returns 0 when the device
// signed it, 2 otherwise.
int FiscalizeSaved(AppContext& ctx, std::ostream& out);

// The input folder watcher and the fiscalisation run without a window. Every
// file's outcome and every device request is one line on `out`. Before
// anything is read the folders are checked (both exist, differ, the output
// folder takes a test write): each problem is one line and the result 2.
// Files are picked up when the folder says they arrived, and by the
// `ScanTime` poll (none when it is 0). Returns 0 once `stop` is set (after
// the file in hand).
int RunService(AppContext& ctx, std::ostream& out, const std::atomic<bool>& stop);

}  // namespace kv
